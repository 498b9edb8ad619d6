// Recording metadata and the library folder.
#include "interfaces/persistence/recording.h"
#include "temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace qv {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

RecordingMeta sampleMeta() {
    RecordingMeta m;
    m.id = "2024-05-01-demo";
    m.createdAtMs = 1714557600123;
    m.durationMs = 93500;
    m.sourceName = "Built-in Display";
    m.width = 2880;
    m.height = 1800;
    m.hasWebcam = true;
    m.hasMicrophone = true;
    m.cursorSynthetic = false;
    m.windowCropFile = "window.json";
    return m;
}

TEST(RecordingMeta, RoundTrip) {
    const auto m = sampleMeta();
    auto decoded = RecordingMeta::decode(m.encode(), "meta.json");
    ASSERT_TRUE(decoded.ok()) << decoded.error().message;
    EXPECT_EQ(*decoded, m);
    EXPECT_THAT(m.encode(), HasSubstr("\"formatVersion\": 1"));
}

TEST(RecordingMeta, OptionalMembersDefault) {
    auto decoded = RecordingMeta::decode(
        R"({"id": "r1", "durationMs": 1000, "width": 640, "height": 480, "extra": 1})",
        "meta.json");
    ASSERT_TRUE(decoded.ok()) << decoded.error().message;
    RecordingMeta expected;
    expected.id = "r1";
    expected.durationMs = 1000;
    expected.width = 640;
    expected.height = 480;
    EXPECT_EQ(*decoded, expected);
    EXPECT_TRUE(decoded->cursorSynthetic);
    EXPECT_FALSE(decoded->windowCropFile.has_value());
}

struct BadMeta {
    const char *name;
    const char *json;
    const char *member;
    const char *problem;
};

class RecordingMetaErrors : public ::testing::TestWithParam<BadMeta> {};

TEST_P(RecordingMetaErrors, MessageNamesFileMemberAndProblem) {
    auto decoded = RecordingMeta::decode(GetParam().json, "/lib/recordings/r1/meta.json");
    ASSERT_FALSE(decoded.ok());
    EXPECT_THAT(decoded.error().message, AllOf(HasSubstr("/lib/recordings/r1/meta.json: "),
                                               HasSubstr(std::string(GetParam().member) + ":"),
                                               HasSubstr(GetParam().problem)));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RecordingMetaErrors,
    ::testing::Values(
        BadMeta{"MissingId", R"({"durationMs": 1, "width": 1, "height": 1})", "id", "missing"},
        BadMeta{"MissingDuration", R"({"id": "a", "width": 1, "height": 1})", "durationMs",
                "missing"},
        BadMeta{"MissingWidth", R"({"id": "a", "durationMs": 1, "height": 1})", "width", "missing"},
        BadMeta{"MissingHeight", R"({"id": "a", "durationMs": 1, "width": 1})", "height",
                "missing"},
        BadMeta{"SeveralMissing", R"({"durationMs": 1})", "meta.json",
                " required members are missing: id, width, height"},
        BadMeta{"ZeroWidth", R"({"id": "a", "durationMs": 1, "width": 0, "height": 1})", "width",
                "positive"},
        BadMeta{"NegativeHeight", R"({"id": "a", "durationMs": 1, "width": 1, "height": -4})",
                "height", "positive"},
        BadMeta{"IdNotPlain", R"({"id": "../a", "durationMs": 1, "width": 1, "height": 1})", "id",
                "not a plain name"},
        BadMeta{"IdType", R"({"id": 7, "durationMs": 1, "width": 1, "height": 1})", "id",
                "expected a string"},
        BadMeta{"CropFileEscapes",
                R"({"id": "a", "durationMs": 1, "width": 1, "height": 1,
                    "windowCropFile": "../../secret.json"})",
                "windowCropFile", "not a plain file name"},
        BadMeta{"FlagType",
                R"({"id": "a", "durationMs": 1, "width": 1, "height": 1, "hasWebcam": "yes"})",
                "hasWebcam", "expected a boolean"}),
    [](const ::testing::TestParamInfo<BadMeta> &info) { return std::string(info.param.name); });

TEST(RecordingMeta, MissingRequiredMembersAreNamedTogether) {
    auto several = RecordingMeta::decode(R"({"durationMs": 1})", "r1/meta.json");
    ASSERT_FALSE(several.ok());
    EXPECT_EQ(several.error().message,
              "r1/meta.json: required members are missing: id, width, height");
    auto one = RecordingMeta::decode(R"({"id": "a", "durationMs": 1, "height": 1})", "meta.json");
    ASSERT_FALSE(one.ok());
    EXPECT_EQ(one.error().message, "meta.json: width: required member is missing");
}

TEST(RecordingMeta, WriteAndReadInAFolder) {
    testing::TempFolder folder;
    const auto m = sampleMeta();
    auto written = m.write(folder.path());
    ASSERT_TRUE(written.ok()) << written.error().message;
    EXPECT_TRUE(std::filesystem::exists(folder.path() / "meta.json"));
    auto read = RecordingMeta::read(folder.path());
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(*read, m);
}

TEST(RecordingMeta, ReadingAFolderWithoutMetadataNamesTheFile) {
    testing::TempFolder folder;
    auto read = RecordingMeta::read(folder.path());
    ASSERT_FALSE(read.ok());
    EXPECT_THAT(read.error().message, HasSubstr((folder.path() / "meta.json").string()));
}

TEST(RecordingMeta, ReadingARecordingRequiresTheIdToBeTheFolderName) {
    testing::TempFolder root;
    const auto folder = root.path() / "2024-05-01-demo";
    std::filesystem::create_directories(folder / "sub");
    ASSERT_TRUE(sampleMeta().write(folder).ok());
    // However the folder is written.
    for (const auto &path : {folder, std::filesystem::path(folder.string() + "/"), folder / ".",
                             folder / "sub" / ".."}) {
        auto read = RecordingMeta::readFromRecording(path);
        ASSERT_TRUE(read.ok()) << path << ": " << read.error().message;
        EXPECT_EQ(read->id, "2024-05-01-demo");
    }

    const auto renamed = root.path() / "copy";
    std::filesystem::rename(folder, renamed);
    auto read = RecordingMeta::readFromRecording(renamed);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().message, (renamed / "meta.json").string() +
                                        ": id: \"2024-05-01-demo\" does not match the folder "
                                        "name \"copy\"");
    // Plain reading takes the metadata as it is.
    EXPECT_TRUE(RecordingMeta::read(renamed).ok());
    // A folder without metadata still names the file.
    auto missing = RecordingMeta::readFromRecording(root.path());
    ASSERT_FALSE(missing.ok());
    EXPECT_THAT(missing.error().message, HasSubstr((root.path() / "meta.json").string()));
}

TEST(RecordingStore, TheIdOfAFolderIsItsOwnName) {
    const std::pair<std::filesystem::path, std::string> cases[] = {
        {"/a/rec", "rec"},      {"/a/rec/", "rec"},     {"/a/rec/.", "rec"},
        {"/a/b/../rec", "rec"}, {"/a/rec/x/..", "rec"}, {"/", ""},
    };
    for (const auto &[path, id] : cases) EXPECT_EQ(RecordingStore::idForFolder(path), id) << path;
    const auto here = std::filesystem::current_path().filename().string();
    EXPECT_EQ(RecordingStore::idForFolder("."), here);
}

// Restores the environment and the override whatever the test does.
class RecordingStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char *name : {"QUILLVANE_LIBRARY", "XDG_DATA_HOME", "HOME"}) {
            const char *value = std::getenv(name);
            saved_.push_back({name, value ? std::optional<std::string>(value) : std::nullopt});
        }
        RecordingStore::setLibraryDirectory(std::nullopt);
    }
    void TearDown() override {
        for (const auto &[name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        RecordingStore::setLibraryDirectory(std::nullopt);
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(RecordingStoreTest, LibraryFolderResolutionOrder) {
    ::setenv("HOME", "/home/someone", 1);
    ::unsetenv("QUILLVANE_LIBRARY");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(RecordingStore::libraryDirectory(),
              std::filesystem::path("/home/someone/.local/share/quillvane"));

    ::setenv("XDG_DATA_HOME", "relative/data", 1); // ignored: not absolute
    EXPECT_EQ(RecordingStore::libraryDirectory(),
              std::filesystem::path("/home/someone/.local/share/quillvane"));

    ::setenv("XDG_DATA_HOME", "/data", 1);
    EXPECT_EQ(RecordingStore::libraryDirectory(), std::filesystem::path("/data/quillvane"));

    ::setenv("QUILLVANE_LIBRARY", "/srv/library", 1);
    EXPECT_EQ(RecordingStore::libraryDirectory(), std::filesystem::path("/srv/library"));

    RecordingStore::setLibraryDirectory(std::filesystem::path("/flag/library"));
    EXPECT_EQ(RecordingStore::libraryDirectory(), std::filesystem::path("/flag/library"));

    RecordingStore::setLibraryDirectory(std::nullopt);
    EXPECT_EQ(RecordingStore::libraryDirectory(), std::filesystem::path("/srv/library"));
}

TEST_F(RecordingStoreTest, RecordingFoldersAreCreatedOnRequest) {
    testing::TempFolder library;
    RecordingStore::setLibraryDirectory(library.path());

    auto missing = RecordingStore::recordingDirectory("r1", false);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message, "Recording not found: \"r1\" (looked in " +
                                           (library.path() / "recordings").string() + ")");

    auto created = RecordingStore::recordingDirectory("r1", true);
    ASSERT_TRUE(created.ok()) << created.error().message;
    EXPECT_EQ(*created, library.path() / "recordings" / "r1");
    EXPECT_TRUE(std::filesystem::is_directory(*created));

    auto found = RecordingStore::recordingDirectory("r1", false);
    ASSERT_TRUE(found.ok()) << found.error().message;
    EXPECT_EQ(*found, *created);
}

TEST_F(RecordingStoreTest, IdentifiersMustBePlainNames) {
    testing::TempFolder library;
    RecordingStore::setLibraryDirectory(library.path());
    for (const char *id : {"", "..", "../escape", "a/b", "/abs"}) {
        auto folder = RecordingStore::recordingDirectory(id, true);
        ASSERT_FALSE(folder.ok()) << id;
        EXPECT_THAT(folder.error().message, HasSubstr("is not a plain name")) << id;
    }
    EXPECT_FALSE(std::filesystem::exists(library.path() / "escape"));
    EXPECT_FALSE(std::filesystem::exists(library.path() / "recordings"));
}

} // namespace
} // namespace qv
