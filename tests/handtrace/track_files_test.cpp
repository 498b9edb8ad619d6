// The track files: exact encoding, round trips, atomic writing and what readers refuse.
#include "Handtrace/track_files.h"

#include "platform/core/atomic_file.h"
#include "temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sys/stat.h>

namespace qv {
namespace {

using ::testing::HasSubstr;
using testing::readFile;
using testing::TempDir;

ClicksFile sampleClicks() {
    return {{{1500, 10.5, -3, 1280, 800, "1", "left"}, {2750, 0, 0, 1280, 800, "42", "right"}}};
}

CursorFile sampleCursor() {
    return {{{0, 1, 2, 1440, 900, "69733248"}, {17, 640.25, 360.75, 1440, 900, "69733248"}},
            {{0, "arrow"}, {400, "iBeam"}}};
}

KeysFile sampleKeys() {
    return {{{100, "⌘S"}, {2000, "⌃⌥⇧⌘↑"}, {3000, "⎋"}}};
}

TEST(TrackFileEncoding, WritesCompactJsonWithMembersInOrder) {
    EXPECT_EQ((*ClicksFile{{{1500, 10.5, -3, 1280, 800, "1", "left"}}}.encode()),
              R"({"clicks":[{"tMs":1500,"x":10.5,"y":-3.0,"screenW":1280.0,"screenH":800.0,)"
              R"("displayId":"1","button":"left"}]})");
    EXPECT_EQ((*CursorFile{{{7, 1, 2, 3, 4, "5"}}, {{9, "pointingHand"}}}.encode()),
              R"({"samples":[{"tMs":7,"x":1.0,"y":2.0,"screenW":3.0,"screenH":4.0,)"
              R"("displayId":"5"}],"kinds":[{"tMs":9,"kind":"pointingHand"}]})");
    EXPECT_EQ((*KeysFile{{{100, "⌘S"}}}.encode()), "{\"keys\":[{\"tMs\":100,\"chord\":\"⌘S\"}]}");
}

TEST(TrackFileEncoding, EmptyKindsAreAnEmptyArrayAndDisplayIdStaysAString) {
    const std::string text = *CursorFile{{{1, 0, 0, 10, 10, "4294967295"}}, {}}.encode();
    EXPECT_NE(text.find(R"("kinds":[])"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("displayId":"4294967295")"), std::string::npos) << text;
}

TEST(TrackFileEncoding, GlyphsAreUtf8AndSlashAndBackslashSurvive) {
    const KeysFile keys{{{1, "⌘/"}, {2, "⌘\\"}, {3, "⌃⌥⇧⌘↑"}}};
    const std::string text = *keys.encode();
    // "⌘" is E2 8C 98 in UTF-8, written as such rather than as \u2318.
    EXPECT_NE(text.find("\xE2\x8C\x98/"), std::string::npos) << text;
    EXPECT_EQ(text.find("\\u"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("⌘\\")"), std::string::npos) << text;
    auto back = KeysFile::decode(text);
    ASSERT_TRUE(back) << back.error().message;
    EXPECT_EQ(*back, keys);
    // Readers accept any valid escaping: "\/" for "/" and \u escapes for the glyphs.
    auto escaped = KeysFile::decode(R"({"keys":[{"tMs":1,"chord":"\u2318\/"}]})");
    ASSERT_TRUE(escaped) << escaped.error().message;
    EXPECT_EQ(escaped->keys.at(0).chord, "⌘/");
}

TEST(TrackFileEncoding, NonFiniteNumbersAndInvalidTextCannotBeEncoded) {
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity()}) {
        EXPECT_FALSE((ClicksFile{{{1, bad, 0, 10, 10, "1", "left"}}}.encode()));
        EXPECT_FALSE((ClicksFile{{{1, 0, 0, 10, bad, "1", "left"}}}.encode()));
        EXPECT_FALSE((CursorFile{{{1, 0, bad, 10, 10, "1"}}, {}}.encode()));
        EXPECT_FALSE((CursorFile{{{1, 0, 0, bad, 10, "1"}}, {}}.encode()));
    }
    EXPECT_FALSE((KeysFile{{{1, "\xFF\xFE"}}}.encode()));

    // The message names the file and the member.
    auto nan = CursorFile{{{1, 0, 0, 10, 10, "1"}, {2, 0, std::nan(""), 10, 10, "1"}}, {}}.encode();
    ASSERT_FALSE(nan);
    EXPECT_EQ(nan.error().message,
              "cursor.json: samples[1].y: cannot be written, the number is not finite");
    auto text = KeysFile{{{1, "\xFF\xFE"}}}.encode();
    ASSERT_FALSE(text);
    EXPECT_THAT(text.error().message, HasSubstr("keys.json: cannot be written: "));
}

TEST(TrackFileReading, RoundTripsEveryRecord) {
    auto clicks = ClicksFile::decode(*sampleClicks().encode());
    ASSERT_TRUE(clicks) << clicks.error().message;
    EXPECT_EQ(*clicks, sampleClicks());
    auto cursor = CursorFile::decode(*sampleCursor().encode());
    ASSERT_TRUE(cursor) << cursor.error().message;
    EXPECT_EQ(*cursor, sampleCursor());
    auto keys = KeysFile::decode(*sampleKeys().encode());
    ASSERT_TRUE(keys) << keys.error().message;
    EXPECT_EQ(*keys, sampleKeys());
}

TEST(TrackFileReading, AcceptsAnyMemberOrderAndIntegralNumbers) {
    auto clicks = ClicksFile::decode(
        R"({"clicks":[{"button":"other","displayId":"3","screenH":600,"screenW":800,)"
        R"("y":12,"x":-4,"tMs":3000.0}]})");
    ASSERT_TRUE(clicks) << clicks.error().message;
    EXPECT_EQ(clicks->clicks.at(0), (ClicksFile::Click{3000, -4, 12, 800, 600, "3", "other"}));
    auto cursor = CursorFile::decode(R"({"kinds":[],"samples":[]})");
    ASSERT_TRUE(cursor) << cursor.error().message;
    EXPECT_TRUE(cursor->samples.empty());
}

struct BadDocument {
    const char *name;
    std::string json;
    std::string expectedInMessage;
};

class ClicksReaderRefuses : public ::testing::TestWithParam<BadDocument> {};

TEST_P(ClicksReaderRefuses, WithAMessageNamingTheMember) {
    auto result = ClicksFile::decode(GetParam().json);
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.find(GetParam().expectedInMessage), std::string::npos)
        << result.error().message;
    EXPECT_EQ(result.error().message.rfind("clicks.json: ", 0), 0u) << result.error().message;
}

const std::string goodClick =
    R"("tMs":1,"x":1.5,"y":2,"screenW":10,"screenH":10,"displayId":"1","button":"left")";

INSTANTIATE_TEST_SUITE_P(
    TrackFileReading, ClicksReaderRefuses,
    ::testing::Values(
        BadDocument{"NotJson", "{\"clicks\":[", "not valid JSON"},
        BadDocument{"NotAnObject", "[]", "expected a JSON object at the top level, found an array"},
        BadDocument{"MissingArray", "{}", "clicks.json: clicks: required member is missing"},
        BadDocument{"ArrayOfNumbers", R"({"clicks":[1]})", "clicks[0]: expected an object"},
        BadDocument{"MissingButton",
                    R"({"clicks":[{"tMs":1,"x":1,"y":2,"screenW":10,"screenH":10,)"
                    R"("displayId":"1"}]})",
                    "clicks.json: clicks[0].button: required member is missing"},
        BadDocument{"SeveralMembersMissing", R"({"clicks":[{"tMs":1,"y":2,"screenW":10}]})",
                    "clicks.json: clicks[0]: required members are missing: x, screenH, "
                    "displayId, button"},
        BadDocument{"NullX", R"({"clicks":[{)" + goodClick + R"(,"x":null}]})",
                    "clicks[0].x: expected a number, found null"},
        BadDocument{"DisplayIdNumber", R"({"clicks":[{)" + goodClick + R"(,"displayId":1}]})",
                    "clicks[0].displayId: expected a string"},
        BadDocument{"FractionalTime", R"({"clicks":[{)" + goodClick + R"(,"tMs":1.5}]})",
                    "clicks[0].tMs: expected an integer"},
        BadDocument{"TimeAsText", R"({"clicks":[{)" + goodClick + R"(,"tMs":"1"}]})",
                    "clicks[0].tMs: expected an integer"},
        BadDocument{"TimeTooLarge",
                    R"({"clicks":[{)" + goodClick + R"(,"tMs":9223372036854775808}]})",
                    "clicks[0].tMs: integer 9223372036854775808 is out of range"},
        BadDocument{"ButtonNumber", R"({"clicks":[{)" + goodClick + R"(,"button":1}]})",
                    "clicks[0].button: expected a string"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TrackFileReading, CursorAndKeysReadersRequireEveryMember) {
    auto neither = CursorFile::decode("{}");
    ASSERT_FALSE(neither);
    EXPECT_EQ(neither.error().message, "cursor.json: required members are missing: samples, kinds");
    EXPECT_FALSE(CursorFile::decode(R"({"samples":[]})"));
    EXPECT_FALSE(CursorFile::decode(R"({"kinds":[]})"));
    EXPECT_FALSE(CursorFile::decode(R"({"samples":[],"kinds":[{"tMs":1}]})"));
    EXPECT_FALSE(CursorFile::decode(R"({"samples":[],"kinds":[{"tMs":1,"kind":7}]})"));
    EXPECT_FALSE(CursorFile::decode(
        R"({"samples":[{"tMs":1,"x":1,"y":2,"screenW":10,"screenH":10}],"kinds":[]})"));
    EXPECT_FALSE(KeysFile::decode(R"({"keys":[{"tMs":1}]})"));
    EXPECT_FALSE(KeysFile::decode(R"({"keys":[{"chord":"⌘S"}]})"));
    EXPECT_FALSE(KeysFile::decode(R"({"keys":{}})"));
}

TEST(TrackFileReading, AMissingFileIsAnEmptyTrack) {
    TempDir dir;
    auto clicks = ClicksFile::load(dir.path());
    ASSERT_TRUE(clicks);
    EXPECT_TRUE(clicks->clicks.empty());
    auto cursor = CursorFile::load(dir.path());
    ASSERT_TRUE(cursor);
    EXPECT_TRUE(cursor->samples.empty() && cursor->kinds.empty());
    auto keys = KeysFile::load(dir.path());
    ASSERT_TRUE(keys);
    EXPECT_TRUE(keys->keys.empty());
}

TEST(TrackFileWriting, WritesEachNonEmptyTrackAndNothingElse) {
    TempDir dir;
    const auto written = writeTrackFiles(dir.path(), sampleClicks(), sampleCursor(), sampleKeys());
    ASSERT_TRUE(written) << written.error().message;
    EXPECT_EQ(*written, (std::vector<std::string>{"clicks.json", "cursor.json", "keys.json"}));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"clicks.json", "cursor.json", "keys.json"}));
    EXPECT_EQ(readFile(dir.path() / "clicks.json"), *sampleClicks().encode());
    EXPECT_EQ(*CursorFile::load(dir.path()), sampleCursor());
    EXPECT_EQ(*KeysFile::load(dir.path()), sampleKeys());
}

TEST(TrackFileWriting, EmptyTracksWriteNoFile) {
    TempDir dir;
    EXPECT_TRUE(writeTrackFiles(dir.path(), {}, {}, {})->empty());
    EXPECT_TRUE(dir.entries().empty());

    // Clicks without pointer movement; kind changes without samples are not written.
    CursorFile kindsOnly{{}, {{0, "arrow"}}};
    EXPECT_EQ(*writeTrackFiles(dir.path(), sampleClicks(), kindsOnly, {}),
              std::vector<std::string>{"clicks.json"});
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"clicks.json"});
}

TEST(TrackFileWriting, AnUnencodableFileIsReportedAndTheOthersStillWritten) {
    TempDir dir;
    CursorFile bad = sampleCursor();
    bad.samples[1].x = std::nan("");
    const auto written = writeTrackFiles(dir.path(), sampleClicks(), bad, sampleKeys());
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().message,
              (dir.path() / "cursor.json").string() +
                  ": samples[1].x: cannot be written, the number is not finite");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"clicks.json", "keys.json"}));
}

TEST(TrackFileWriting, AMissingFolderGetsNothingAndNothingIsLeftBehind) {
    TempDir dir;
    const auto missing = dir.path() / "gone";
    const auto written = writeTrackFiles(missing, sampleClicks(), sampleCursor(), sampleKeys());
    ASSERT_FALSE(written);
    // Every file is named, in writing order.
    const std::string &message = written.error().message;
    const auto clicksAt = message.find((missing / "clicks.json").string());
    const auto cursorAt = message.find((missing / "cursor.json").string());
    const auto keysAt = message.find((missing / "keys.json").string());
    EXPECT_NE(keysAt, std::string::npos) << message;
    EXPECT_TRUE(clicksAt < cursorAt && cursorAt < keysAt) << message;
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_TRUE(dir.entries().empty());
}

TEST(TrackFileWriting, AFailedReplacementLeavesNoTemporaryFile) {
    TempDir dir;
    // A folder where the file should go: the rename fails after the temporary was written.
    std::filesystem::create_directory(dir.path() / "keys.json");
    std::filesystem::create_directory(dir.path() / "keys.json" / "inside");
    const auto written = writeTrackFiles(dir.path(), sampleClicks(), {}, sampleKeys());
    ASSERT_FALSE(written);
    EXPECT_THAT(written.error().message, HasSubstr((dir.path() / "keys.json").string()));
    EXPECT_THAT(written.error().message, ::testing::Not(HasSubstr("clicks.json")));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"clicks.json", "keys.json"}));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "keys.json"));
}

TEST(TrackFileWriting, ReplacesAnOldFileWholeWithUsualPermissions) {
    TempDir dir;
    ASSERT_TRUE(platform::writeFileAtomically(dir.path() / "keys.json", std::string(10000, 'x')));
    ASSERT_TRUE(writeTrackFiles(dir.path(), {}, {}, sampleKeys()));
    EXPECT_EQ(readFile(dir.path() / "keys.json"), *sampleKeys().encode());
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"keys.json"});
    struct stat st {};
    ASSERT_EQ(::stat((dir.path() / "keys.json").c_str(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST(TrackFileReading, NumbersBeyondRangeAreErrorsNotCrashes) {
    const std::string click =
        R"("x":1,"y":2,"screenW":3,"screenH":4,"displayId":"1","button":"left")";
    for (const std::string &bad :
         {std::string(R"({"clicks":[{"tMs":1e400,)") + click + "}]}",
          std::string(R"({"extra":1e400,"clicks":[]})"),
          std::string(R"({"clicks":[{"tMs":9223372036854775807,)") + click + "}]}",
          std::string(R"({"clicks":[{"tMs":1,"x":1e39,"y":2,"screenW":3,"screenH":4,)"
                      R"("displayId":"1","button":"left"}]})")}) {
        SCOPED_TRACE(bad);
        auto r = ClicksFile::decode(bad, "clicks.json");
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().message.rfind("clicks.json: ", 0), 0u) << r.error().message;
    }
    EXPECT_FALSE(CursorFile::decode(R"({"samples":[],"kinds":[],"n":-1e400})"));
    EXPECT_FALSE(KeysFile::decode(R"({"keys":[{"tMs":1e400,"chord":"x"}]})"));
}

} // namespace
} // namespace qv
