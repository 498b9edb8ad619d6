#include "platform/core/resources.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace qv::platform {
namespace {

class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char *old = std::getenv("QUILLVANE_RESOURCES")) saved_ = old;
    }
    void TearDown() override {
        if (saved_)
            setenv("QUILLVANE_RESOURCES", saved_->c_str(), 1);
        else
            unsetenv("QUILLVANE_RESOURCES");
    }
    static void touch(const std::filesystem::path &p) {
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p) << "x";
    }

private:
    std::optional<std::string> saved_;
};

TEST_F(ResourcesTest, BuildTreeThenInstallPrefixWithoutEnvironment) {
    unsetenv("QUILLVANE_RESOURCES");
    const auto dirs = resourceDirectories();
    ASSERT_EQ(dirs.size(), 2u);
    for (const auto &d : dirs) {
        EXPECT_EQ(d.filename(), "quillvane") << d;
        EXPECT_EQ(d.parent_path().filename(), "share") << d;
    }
    EXPECT_NE(dirs[0], dirs[1]);
}

TEST_F(ResourcesTest, EnvironmentFoldersComeFirstInOrder) {
    testing::TempDir a, b;
    setenv("QUILLVANE_RESOURCES", (a.path().string() + "::" + b.path().string()).c_str(), 1);
    const auto dirs = resourceDirectories();
    ASSERT_EQ(dirs.size(), 4u);
    EXPECT_EQ(dirs[0], a.path());
    EXPECT_EQ(dirs[1], b.path());

    touch(b / "presets/only-in-b.json");
    touch(a / "presets/both.json");
    touch(b / "presets/both.json");
    const struct {
        const char *relative;
        std::optional<std::filesystem::path> expected;
    } cases[] = {
        {"presets/only-in-b.json", b / "presets/only-in-b.json"},
        {"presets/both.json", a / "presets/both.json"},
        {"presets", a / "presets"},
        {"presets/missing.json", std::nullopt},
        {"", std::nullopt},
        {"../", std::nullopt},
        {"presets/../presets/both.json", std::nullopt},
    };
    for (const auto &c : cases) EXPECT_EQ(findResource(c.relative), c.expected) << c.relative;
    const auto absolute = (a / "presets/both.json").string();
    EXPECT_EQ(findResource(absolute), std::nullopt);
}

} // namespace
} // namespace qv::platform
