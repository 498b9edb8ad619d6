#include "interfaces/persistence/library_store.h"
#include "persistence/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

RecordingMeta metaFor(const std::string &id, std::int64_t createdAtMs) {
    RecordingMeta m;
    m.id = id;
    m.createdAtMs = createdAtMs;
    m.durationMs = 1000;
    m.width = 64;
    m.height = 48;
    return m;
}

void addRecording(const fs::path &recordings, const std::string &id, std::int64_t createdAtMs) {
    fs::create_directories(recordings / id);
    ASSERT_TRUE(metaFor(id, createdAtMs).write(recordings / id).ok());
    std::ofstream(recordings / id / "screen.mp4") << "not really a movie";
}

// Points XDG_DATA_HOME at a folder of the test for the trash, and back afterwards.
class DataHome {
public:
    explicit DataHome(const fs::path &folder) {
        if (const char *old = std::getenv("XDG_DATA_HOME")) saved_ = old;
        ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
    }
    ~DataHome() {
        if (saved_)
            ::setenv("XDG_DATA_HOME", saved_->c_str(), 1);
        else
            ::unsetenv("XDG_DATA_HOME");
    }

private:
    std::optional<std::string> saved_;
};

TEST(LibraryStore, MissingFolderIsAnEmptyLibrary) {
    TempFolder dir;
    LibraryStore store(dir.path() / "nothing");
    ASSERT_TRUE(store.refresh().ok());
    EXPECT_TRUE(store.items().empty());
}

TEST(LibraryStore, ListsNewestFirstAndUnreadableOnesLastWithTheirProblem) {
    TempFolder dir;
    const fs::path recordings = dir.path() / "recordings";
    addRecording(recordings, "old", 1000);
    addRecording(recordings, "new", 3000);
    addRecording(recordings, "middle", 2000);
    fs::create_directories(recordings / "broken");
    std::ofstream(recordings / "broken" / "meta.json") << "{\"id\": \"broken\"}";
    std::ofstream(recordings / "stray-file.txt") << "not a recording";
    LibraryStore store(recordings);
    ASSERT_TRUE(store.refresh().ok());
    std::vector<std::string> ids;
    for (const auto &item : store.items()) ids.push_back(item.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"new", "middle", "old", "broken"}));
    const auto *broken = store.item("broken");
    ASSERT_NE(broken, nullptr);
    EXPECT_FALSE(broken->meta.has_value());
    EXPECT_NE(broken->problem.find("meta.json"), std::string::npos) << broken->problem;
    EXPECT_NE(broken->problem.find("durationMs"), std::string::npos) << broken->problem;
    EXPECT_EQ(store.item("new")->meta->createdAtMs, 3000);
}

TEST(LibraryStore, RenameMovesTheFolderAndRewritesTheId) {
    TempFolder dir;
    const fs::path recordings = dir.path() / "recordings";
    addRecording(recordings, "take1", 1000);
    LibraryStore store(recordings);
    ASSERT_TRUE(store.refresh().ok());
    ASSERT_TRUE(store.rename("take1", "Product tour").ok());
    EXPECT_FALSE(fs::exists(recordings / "take1"));
    EXPECT_TRUE(fs::exists(recordings / "Product tour" / "screen.mp4"));
    auto meta = RecordingMeta::readFromRecording(recordings / "Product tour");
    ASSERT_TRUE(meta.ok()) << meta.error().message;
    EXPECT_EQ(meta->id, "Product tour");
    EXPECT_EQ(meta->createdAtMs, 1000);
    ASSERT_EQ(store.items().size(), 1u);
    EXPECT_EQ(store.items()[0].id, "Product tour");
}

struct RefusedRename {
    const char *newId;
    const char *expected;
};

class LibraryStoreRefusedRename : public ::testing::TestWithParam<RefusedRename> {};

TEST_P(LibraryStoreRefusedRename, LeavesEverythingAsItWas) {
    TempFolder dir;
    const fs::path recordings = dir.path() / "recordings";
    addRecording(recordings, "a", 1);
    addRecording(recordings, "taken", 2);
    LibraryStore store(recordings);
    auto status = store.rename("a", GetParam().newId);
    ASSERT_FALSE(status.ok());
    EXPECT_NE(status.error().message.find(GetParam().expected), std::string::npos)
        << status.error().message;
    EXPECT_TRUE(RecordingMeta::readFromRecording(recordings / "a").ok());
    EXPECT_TRUE(RecordingMeta::readFromRecording(recordings / "taken").ok());
}

INSTANTIATE_TEST_SUITE_P(Table, LibraryStoreRefusedRename,
                         ::testing::Values(RefusedRename{"taken", "exists already"},
                                           RefusedRename{"a/b", "cannot name a recording"},
                                           RefusedRename{"..", "cannot name a recording"},
                                           RefusedRename{"", "cannot name a recording"}));

TEST(LibraryStore, MoveToTrashLeavesARestorableRecord) {
    TempFolder dir;
    const fs::path recordings = dir.path() / "recordings";
    DataHome home(dir.path() / "data");
    addRecording(recordings, "my take", 1);
    addRecording(recordings, "other", 2);
    LibraryStore store(recordings);
    ASSERT_TRUE(store.refresh().ok());

    auto moved = store.moveToTrash("my take");
    ASSERT_TRUE(moved.ok()) << moved.error().message;
    const fs::path trash = dir.path() / "data" / "Trash";
    EXPECT_EQ(*moved, trash / "files" / "my take");
    EXPECT_TRUE(fs::exists(trash / "files" / "my take" / "meta.json"));
    EXPECT_FALSE(fs::exists(recordings / "my take"));
    const std::string info = testing::slurp(trash / "info" / "my take.trashinfo");
    const std::string original = fs::absolute(recordings / "my take").string();
    std::string encoded;
    for (char c : original) encoded += c == ' ' ? std::string("%20") : std::string(1, c);
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + encoded + "\nDeletionDate=", 0), 0u) << info;
    EXPECT_EQ(info.size(),
              std::string("[Trash Info]\nPath=" + encoded + "\nDeletionDate=2026-12-08T14:05:09\n")
                  .size())
        << info;
    ASSERT_EQ(store.items().size(), 1u);
    EXPECT_EQ(store.items()[0].id, "other");

    // A second recording of the same name gets a name of its own in the trash.
    addRecording(recordings, "my take", 3);
    auto again = store.moveToTrash("my take");
    ASSERT_TRUE(again.ok()) << again.error().message;
    EXPECT_EQ(*again, trash / "files" / "my take.2");
    EXPECT_TRUE(fs::exists(trash / "info" / "my take.2.trashinfo"));
    EXPECT_TRUE(fs::exists(trash / "files" / "my take" / "meta.json"));
}

TEST(LibraryStore, MoveToTrashOfAnUnknownRecordingSaysWhereItLooked) {
    TempFolder dir;
    DataHome home(dir.path() / "data");
    LibraryStore store(dir.path() / "recordings");
    auto moved = store.moveToTrash("ghost");
    ASSERT_FALSE(moved.ok());
    EXPECT_NE(moved.error().message.find("ghost"), std::string::npos);
    EXPECT_NE(moved.error().message.find((dir.path() / "recordings").string()), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.path() / "data" / "Trash" / "info" / "ghost.trashinfo"));
}

} // namespace
} // namespace qv
