// Replacing files: complete or untouched, never partial, nothing left behind.
#include "temp_dir.h"

#include "platform/core/atomic_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

namespace qv::platform {
namespace {

std::string slurp(const std::filesystem::path &p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::size_t entries(const std::filesystem::path &dir) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

TEST(AtomicFile, ReplacesKeepingPermissionsAndLeavesNoTemporary) {
    testing::TempDir dir;
    const auto file = dir / "doc.json";
    ASSERT_TRUE(writeFileAtomically(file, std::string_view("first")));
    ::chmod(file.c_str(), 0640);
    ASSERT_TRUE(writeFileAtomically(file, std::string_view("second")));
    EXPECT_EQ(slurp(file), "second");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(AtomicFile, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    testing::TempDir dir;
    const auto file = dir / "picture.png";
    ASSERT_TRUE(writeFileAtomically(file, std::string_view("good")));
    const Status failed = writeFileAtomically(file, [](std::FILE *f) -> std::optional<std::string> {
        std::fputs("half", f);
        return "encoder gave up";
    });
    ASSERT_FALSE(failed);
    EXPECT_NE(failed.error().message.find("picture.png"), std::string::npos);
    EXPECT_NE(failed.error().message.find("encoder gave up"), std::string::npos);
    EXPECT_EQ(slurp(file), "good");
    EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(AtomicFile, AMissingFolderIsAnErrorNamingTheFile) {
    testing::TempDir dir;
    const auto file = dir / "absent" / "x.json";
    const Status failed = writeFileAtomically(file, std::string_view("x"));
    ASSERT_FALSE(failed);
    EXPECT_NE(failed.error().message.find("x.json"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "absent"));
}

} // namespace
} // namespace qv::platform
