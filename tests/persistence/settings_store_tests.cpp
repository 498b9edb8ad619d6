#include "interfaces/persistence/settings_store.h"
#include "persistence/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qv {
namespace {

using testing::TempFolder;

void writeText(const std::filesystem::path &file, const std::string &text) {
    std::ofstream(file, std::ios::binary) << text;
}

TEST(SettingsStore, MissingFileGivesTheDefaultsWithoutAnError) {
    TempFolder dir;
    SettingsStore store(dir.path() / "none" / "settings.json");
    EXPECT_EQ(store.settings(), AppSettings{});
    EXPECT_FALSE(store.loadError().has_value());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "none"));
}

TEST(SettingsStore, UpdateWritesTheFileThatAFreshStoreReadsBack) {
    TempFolder dir;
    const auto file = dir.path() / "sub" / "settings.json";
    SettingsStore store(file);
    AppSettings changed;
    changed.onboardingComplete = true;
    changed.countdownSeconds = 5;
    changed.showFrameRate = true;
    changed.teleprompterText = "Hello,\n\"world\"";
    int told = 0;
    store.observe([&](const AppSettings &s) {
        ++told;
        EXPECT_EQ(s, changed);
    });
    ASSERT_TRUE(store.update(changed).ok());
    EXPECT_EQ(told, 1);
    SettingsStore again(file);
    EXPECT_FALSE(again.loadError().has_value());
    EXPECT_EQ(again.settings(), changed);
}

struct BadFile {
    const char *text;
    const char *expected; // part of the message after the file name
};

class SettingsStoreBadFile : public ::testing::TestWithParam<BadFile> {};

TEST_P(SettingsStoreBadFile, NamesFileAndMemberAndKeepsTheDefaults) {
    TempFolder dir;
    const auto file = dir.path() / "settings.json";
    writeText(file, GetParam().text);
    SettingsStore store(file);
    ASSERT_TRUE(store.loadError().has_value());
    const std::string &message = store.loadError()->message;
    EXPECT_NE(message.find(file.string()), std::string::npos) << message;
    EXPECT_NE(message.find(GetParam().expected), std::string::npos) << message;
    EXPECT_EQ(store.settings(), AppSettings{});
    // The unreadable file stays as it was until the user changes a setting.
    std::ifstream in(file);
    std::string kept((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(kept, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SettingsStoreBadFile,
    ::testing::Values(BadFile{"{\"countdownSeconds\": 11}", "countdownSeconds"},
                      BadFile{"{\"countdownSeconds\": \"3\"}", "countdownSeconds"},
                      BadFile{"{\"showFrameRate\": 1}", "showFrameRate"},
                      BadFile{"{\"teleprompterText\": []}", "teleprompterText"},
                      BadFile{"[1, 2]", ""}, BadFile{"{\"onboardingComplete\": tru", ""}));

TEST(SettingsStore, FailedWriteChangesNothing) {
    TempFolder dir;
    // The settings "folder" is a file, so nothing can be written under it.
    writeText(dir.path() / "blocker", "x");
    SettingsStore store(dir.path() / "blocker" / "settings.json");
    int told = 0;
    store.observe([&](const AppSettings &) { ++told; });
    AppSettings changed;
    changed.showFrameRate = true;
    auto status = store.update(changed);
    ASSERT_FALSE(status.ok());
    EXPECT_NE(status.error().message.find("blocker"), std::string::npos);
    EXPECT_EQ(store.settings(), AppSettings{});
    EXPECT_EQ(told, 0);
}

TEST(SettingsStore, DefaultFileFollowsTheEnvironment) {
    const char *saved[3] = {std::getenv("QUILLVANE_SETTINGS"), std::getenv("XDG_CONFIG_HOME"),
                            std::getenv("HOME")};
    const std::string keep[3] = {saved[0] ? saved[0] : "", saved[1] ? saved[1] : "",
                                 saved[2] ? saved[2] : ""};
    ::unsetenv("QUILLVANE_SETTINGS");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(SettingsStore::defaultFile(), "/cfg/quillvane/settings.json");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(SettingsStore::defaultFile(), "/home/u/.config/quillvane/settings.json");
    ::setenv("QUILLVANE_SETTINGS", "/x/s.json", 1);
    EXPECT_EQ(SettingsStore::defaultFile(), "/x/s.json");
    const char *names[3] = {"QUILLVANE_SETTINGS", "XDG_CONFIG_HOME", "HOME"};
    for (int i = 0; i < 3; ++i) {
        if (saved[i])
            ::setenv(names[i], keep[i].c_str(), 1);
        else
            ::unsetenv(names[i]);
    }
}

} // namespace
} // namespace qv
