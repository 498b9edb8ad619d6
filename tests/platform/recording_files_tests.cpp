// Reading a recording's documents and writing movies beside files that must survive: no FIFO
// or device blocks or exhausts a reader, no link leads out of the folder, and partial files of
// killed writers are swept only when their owner is gone.
#include "platform/core/document_file.h"
#include "platform/core/partial_file.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

namespace qv::platform {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

void write(const fs::path &file, const std::string &text) {
    std::ofstream(file, std::ios::binary) << text;
}

TEST(DocumentFile, ReadsARegularFileAndTellsAMissingOne) {
    TempDir dir;
    write(dir / "a.json", "{}");
    auto text = readDocumentFile(dir.path(), "a.json");
    ASSERT_TRUE(text) << text.error().message;
    ASSERT_TRUE(text->has_value());
    EXPECT_EQ(**text, "{}");
    auto missing = readDocumentFile(dir.path(), "b.json");
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->has_value());
}

TEST(DocumentFile, RefusesWhatIsNotTheFoldersOwnSmallRegularFile) {
    TempDir dir, outside;
    write(outside / "secret.json", "{}");
    ASSERT_EQ(::mkfifo((dir / "fifo.json").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "zero.json");
    fs::create_symlink(outside / "secret.json", dir / "away.json");
    fs::create_symlink(dir / "nowhere.json", dir / "dangling.json");
    fs::create_directory(dir / "folder.json");
    write(dir / "big.json", std::string(100, ' '));
    fs::create_directory(dir / "sub");
    write(dir / "sub" / "in.json", "{}");
    fs::create_symlink(dir / "sub" / "in.json", dir / "inside.json");

    struct Case {
        const char *name;
        const char *problem;
    };
    const Case cases[] = {
        {"fifo.json", "not a regular file"},
        {"zero.json", "outside the recording folder"},
        {"away.json", "outside the recording folder"},
        {"dangling.json", "cannot open"},
        {"folder.json", "not a regular file"},
        {"big.json", "larger than the 64 bytes limit"},
        {"../x.json", "not a plain file name"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto text = readDocumentFile(dir.path(), c.name, 64);
        ASSERT_FALSE(text);
        EXPECT_NE(text.error().message.find(c.problem), std::string::npos) << text.error().message;
        EXPECT_NE(text.error().message.find(c.name), std::string::npos) << text.error().message;
    }
    // A link that stays inside the folder is followed.
    auto inside = readDocumentFile(dir.path(), "inside.json", 64);
    ASSERT_TRUE(inside) << inside.error().message;
    EXPECT_EQ(**inside, "{}");

    EXPECT_FALSE(checkRecordingFile(dir.path(), dir / "fifo.json"));
    EXPECT_FALSE(checkRecordingFile(dir.path(), dir / "away.json"));
    EXPECT_TRUE(checkRecordingFile(dir.path(), dir / "big.json"));
}

std::vector<std::string> partialFilesIn(const fs::path &folder) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(folder)) {
        long pid = 0;
        if (parsePartialFileName(e.path().filename().string(), pid))
            names.push_back(e.path().filename().string());
    }
    return names;
}

TEST(PartialFile, CommitReplacesTheDestinationAndDiscardLeavesItAlone) {
    TempDir dir;
    write(dir / "movie.mp4", "old");
    ::chmod((dir / "movie.mp4").c_str(), 0640);
    {
        auto partial = PartialFile::create(dir / "movie.mp4");
        ASSERT_TRUE(partial) << partial.error().message;
        write(partial->path(), "abandoned");
    }
    EXPECT_EQ(partialFilesIn(dir.path()).size(), 0u);
    {
        std::ifstream in(dir / "movie.mp4");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
    }
    auto partial = PartialFile::create(dir / "movie.mp4");
    ASSERT_TRUE(partial);
    write(partial->path(), "new");
    ASSERT_TRUE(partial->commit());
    std::ifstream in(dir / "movie.mp4");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new");
    EXPECT_EQ(fs::status(dir / "movie.mp4").permissions() & fs::perms::all,
              fs::perms(0640)); // the replaced file's permissions
    EXPECT_EQ(partialFilesIn(dir.path()).size(), 0u);
}

TEST(PartialFile, OnlyTheFilesOfWritersThatAreGoneAreSwept) {
    TempDir dir;
    // A writer killed while writing: its process ends without removing the file.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto partial = PartialFile::create(dir / "killed.mp4");
        ::_exit(partial ? 0 : 1); // no destructors: as if killed
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // A writer that is still at work, in this process.
    auto live = PartialFile::create(dir / "live.mp4");
    ASSERT_TRUE(live);
    // An unlocked file whose owner is alive may be about to take its lock.
    write(dir / (".young.mp4.partial-" + std::to_string(::getpid()) + "-abcdef"), "");
    // Files that merely look similar are none of the sweep's business.
    write(dir / ".notes.partial-draft", "");
    write(dir / "movie.partial-1-abcdef", "");
    ASSERT_EQ(partialFilesIn(dir.path()).size(), 3u);

    EXPECT_EQ(sweepAbandonedPartialFiles(dir.path()), 1);
    const auto left = partialFilesIn(dir.path());
    EXPECT_EQ(left.size(), 2u);
    for (const auto &name : left) EXPECT_EQ(name.find("killed"), std::string::npos) << name;
    EXPECT_TRUE(fs::exists(live->path()));
    EXPECT_TRUE(fs::exists(dir / ".notes.partial-draft"));
    EXPECT_TRUE(fs::exists(dir / "movie.partial-1-abcdef"));
}

} // namespace
} // namespace qv::platform
