// Reading and writing "edits.json".
#include "interfaces/persistence/edits.h"
#include "temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace qv {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

// Every member differs from its default, so a member that is dropped or swapped on the way
// through the file shows up as a difference.
Edits populated() {
    Edits e;
    Edits::Scene &s = e.scene;
    s.backgroundKind = Edits::BackgroundKind::image;
    s.wallpaperId = "dusk";
    s.gradientFrom = "#010203";
    s.gradientTo = "#040506";
    s.gradientAngle = 123.5;
    s.backgroundColor = "#0A0B0C";
    s.crop = {0.125, 0.25, 0.5, 0.625};
    s.paddingPercent = 3.25;
    s.frameRadius = 7;
    s.shadowBlur = 11;
    s.shadowOffset = -4;
    s.shadowStrength = 0.8;
    s.chromeStyle = Edits::ChromeStyle::browser;
    s.showBorder = true;
    s.webcamPosition = Edits::WebcamPosition::sideLeft;
    s.webcamShape = Edits::WebcamShape::roundedSquare;
    s.webcamSize = 0.3;
    s.webcamRemoveBackground = true;
    s.webcamTransitionMs = 450;
    s.cursorSmoothing = 0.1;
    s.cursorSize = 2.5;
    s.clickEffect = Edits::ClickEffect::shockwave;
    s.cursorShape = Edits::CursorShape::crosshair;
    s.cursorFilled = false;
    s.cursorFill = "#123456";
    s.cursorOutline = false;
    s.cursorOutlineColor = "#654321";
    s.cursorShadow = false;
    s.showKeystrokes = false;
    s.keystrokePosition = Edits::BadgePosition::left;
    s.keystrokeScale = 1.75;
    s.showCaptions = false;
    s.captionPosition = Edits::BadgePosition::right;
    s.captionScale = 0.5;
    e.trimStartMs = 1500;
    e.trimEndMs = 98000;
    e.cuts = {{2000, 3000}, {5000, 5500}};
    e.speeds = {{10000, 20000, 2}, {30000, 31000, 0.5}};
    e.zooms = {{4000, 2500, 2.5, 0, 0.25, 0.75}, {9000, 1200, 1.5, 1, 0.9, 0.1}};
    e.captions = {{"c1", 100, 900, "Hello \"world\" \u00e9", 1.25},
                  {"c2", 1000, 1000, "", std::nullopt}};
    e.masks = {{"m1",
                0,
                5000,
                Edits::MaskStyle::blur,
                {{0, 0.1, 0.2, 0.3, 0.4}, {900, 0.5, 0.6, 0.2, 0.1}}}};
    e.cameraBlocks = {
        {"b1", 700, 1700, Edits::WebcamPosition::full, Edits::WebcamShape::triangle, 0.4}};
    return e;
}

TEST(EditsCoding, PopulatedDocumentSurvivesTheRoundTrip) {
    const Edits original = populated();
    ASSERT_NE(original, Edits::defaults());
    auto decoded = Edits::decode(original.encode(), "edits.json");
    ASSERT_TRUE(decoded.ok()) << decoded.error().message;
    EXPECT_EQ(*decoded, original);
    EXPECT_EQ(decoded->encode(), original.encode());
}

TEST(EditsCoding, DefaultDocumentSurvivesTheRoundTrip) {
    auto decoded = Edits::decode(Edits::defaults().encode(), "edits.json");
    ASSERT_TRUE(decoded.ok()) << decoded.error().message;
    EXPECT_EQ(*decoded, Edits::defaults());
}

TEST(EditsCoding, EncodingWritesVersionAndMembersInFixedOrder) {
    const std::string text = populated().encode();
    const auto at = [&](const char *key) { return text.find(std::string("\"") + key + "\""); };
    EXPECT_THAT(text, HasSubstr("\"formatVersion\": 1"));
    ASSERT_NE(at("formatVersion"), std::string::npos);
    EXPECT_LT(at("formatVersion"), at("scene"));
    EXPECT_LT(at("scene"), at("trimStartMs"));
    EXPECT_LT(at("trimStartMs"), at("trimEndMs"));
    EXPECT_LT(at("trimEndMs"), at("cuts"));
    EXPECT_LT(at("cuts"), at("speeds"));
    EXPECT_LT(at("speeds"), at("zooms"));
    EXPECT_LT(at("zooms"), at("captions"));
    EXPECT_LT(at("captions"), at("masks"));
    EXPECT_LT(at("masks"), at("cameraBlocks"));
    EXPECT_LT(at("backgroundKind"), at("captionScale"));
    EXPECT_THAT(text, HasSubstr("\"webcamPosition\": \"side-left\""));
    EXPECT_THAT(text, HasSubstr("\"webcamShape\": \"rounded-square\""));
}

TEST(EditsCoding, AbsentOptionalMembersAreLeftOut) {
    Edits e;
    e.captions = {{"c", 0, 10, "x", std::nullopt}};
    const std::string text = e.encode();
    EXPECT_THAT(text, Not(HasSubstr("trimEndMs")));
    EXPECT_THAT(text, Not(HasSubstr("\"scale\"")));
}

TEST(EditsCoding, MissingMembersTakeTheirDefaults) {
    auto empty = Edits::decode("{}", "edits.json");
    ASSERT_TRUE(empty.ok()) << empty.error().message;
    EXPECT_EQ(*empty, Edits::defaults());
    EXPECT_EQ(empty->scene.wallpaperId, Edits::wallpaperPresets().front().id);

    auto partial = Edits::decode(
        R"({"scene": {"paddingPercent": 2, "crop": {"x": 0.5}},
            "masks": [{"keyframes": [{"x": 0.25}]}], "cuts": [{"endMs": 40}]})",
        "edits.json");
    ASSERT_TRUE(partial.ok()) << partial.error().message;
    Edits expected = Edits::defaults();
    expected.scene.paddingPercent = 2;
    expected.scene.crop.x = 0.5;
    Edits::Mask mask;
    mask.keyframes = {{0, 0.25, 0, 0, 0}};
    expected.masks = {mask};
    expected.cuts = {{0, 40}};
    EXPECT_EQ(*partial, expected);
}

TEST(EditsCoding, UnknownMembersAreIgnored) {
    auto decoded = Edits::decode(
        R"({"formatVersion": 1, "futureThing": {"a": [1, 2]}, "scene": {"sparkle": true,
            "frameRadius": 3}, "zooms": [{"startMs": 5, "easing": "bounce"}]})",
        "edits.json");
    ASSERT_TRUE(decoded.ok()) << decoded.error().message;
    EXPECT_EQ(decoded->scene.frameRadius, 3);
    ASSERT_EQ(decoded->zooms.size(), 1u);
    EXPECT_EQ(decoded->zooms[0].startMs, 5);
}

TEST(EditsCoding, NewerFormatVersionIsReadAsFarAsUnderstood) {
    auto decoded = Edits::decode(R"({"formatVersion": 7, "trimStartMs": 250})", "edits.json");
    ASSERT_TRUE(decoded.ok()) << decoded.error().message;
    EXPECT_EQ(decoded->trimStartMs, 250);
}

TEST(EditsCoding, IntegralDoublesAreAcceptedForIntegers) {
    auto decoded = Edits::decode(
        R"({"formatVersion": 1.0, "trimStartMs": 1000.0, "trimEndMs": 2e3,
            "zooms": [{"source": 0.0}]})",
        "edits.json");
    ASSERT_TRUE(decoded.ok()) << decoded.error().message;
    EXPECT_EQ(decoded->trimStartMs, 1000);
    EXPECT_EQ(decoded->trimEndMs, 2000);
    EXPECT_EQ(decoded->zooms.at(0).source, 0);
}

TEST(EditsCoding, NullTrimEndMeansToTheEnd) {
    auto decoded = Edits::decode(R"({"trimEndMs": null})", "edits.json");
    ASSERT_TRUE(decoded.ok()) << decoded.error().message;
    EXPECT_FALSE(decoded->trimEndMs.has_value());
}

TEST(EditsCoding, EveryEnumerationTextRoundTrips) {
    for (auto v : {Edits::WebcamPosition::cornerTL, Edits::WebcamPosition::cornerTR,
                   Edits::WebcamPosition::cornerBL, Edits::WebcamPosition::cornerBR,
                   Edits::WebcamPosition::sideLeft, Edits::WebcamPosition::sideRight,
                   Edits::WebcamPosition::full, Edits::WebcamPosition::hidden}) {
        Edits e;
        e.scene.webcamPosition = v;
        auto decoded = Edits::decode(e.encode(), "edits.json");
        ASSERT_TRUE(decoded.ok()) << decoded.error().message;
        EXPECT_EQ(decoded->scene.webcamPosition, v) << rawValue(v);
    }
}

TEST(EditsCoding, RawValuesAreTheStoredTexts) {
    EXPECT_EQ(rawValue(Edits::BackgroundKind::wallpaper), "wallpaper");
    EXPECT_EQ(rawValue(Edits::BackgroundKind::image), "image");
    EXPECT_EQ(rawValue(Edits::ChromeStyle::minimal), "minimal");
    EXPECT_EQ(rawValue(Edits::WebcamPosition::cornerTL), "corner-tl");
    EXPECT_EQ(rawValue(Edits::WebcamPosition::sideRight), "side-right");
    EXPECT_EQ(rawValue(Edits::WebcamShape::roundedSquare), "rounded-square");
    EXPECT_EQ(rawValue(Edits::ClickEffect::shockwave), "shockwave");
    EXPECT_EQ(rawValue(Edits::CursorShape::crosshair), "crosshair");
    EXPECT_EQ(rawValue(Edits::BadgePosition::center), "center");
    EXPECT_EQ(rawValue(Edits::MaskStyle::blur), "blur");
}

struct BadDocument {
    const char *name;
    const char *json;
    const char *member;  // path the message must name
    const char *problem; // and a piece of its explanation
};

class EditsErrors : public ::testing::TestWithParam<BadDocument> {};

TEST_P(EditsErrors, MessageNamesFileMemberAndProblem) {
    const BadDocument &c = GetParam();
    auto decoded = Edits::decode(c.json, "/tmp/rec/edits.json");
    ASSERT_FALSE(decoded.ok());
    const std::string &message = decoded.error().message;
    EXPECT_THAT(message, AllOf(HasSubstr("/tmp/rec/edits.json"),
                               HasSubstr(std::string(c.member) + ":"), HasSubstr(c.problem)));
}

INSTANTIATE_TEST_SUITE_P(
    Table, EditsErrors,
    ::testing::Values(
        BadDocument{"StringForNumber", R"({"scene": {"paddingPercent": "8"}})",
                    "scene.paddingPercent", "expected a number, found a string"},
        BadDocument{"NumberForBool", R"({"scene": {"showBorder": 1}})", "scene.showBorder",
                    "expected a boolean, found 1"},
        BadDocument{"NumberForString", R"({"scene": {"wallpaperId": 4}})", "scene.wallpaperId",
                    "expected a string, found 4"},
        BadDocument{"NullForNumber", R"({"scene": {"frameRadius": null}})", "scene.frameRadius",
                    "found null"},
        BadDocument{"ArrayForScene", R"({"scene": []})", "scene",
                    "expected an object, found an array"},
        BadDocument{"CropNotObject", R"({"scene": {"crop": 1}})", "scene.crop",
                    "expected an object"},
        BadDocument{"CropMember", R"({"scene": {"crop": {"height": true}}})", "scene.crop.height",
                    "expected a number, found a boolean"},
        BadDocument{"UnknownEnum", R"({"scene": {"chromeStyle": "fancy"}})", "scene.chromeStyle",
                    "unknown value \"fancy\""},
        BadDocument{"EnumCaseMatters", R"({"scene": {"webcamPosition": "Corner-TL"}})",
                    "scene.webcamPosition", "unknown value \"Corner-TL\""},
        BadDocument{"EnumInBlock", R"({"cameraBlocks": [{}, {"shape": "hexagon"}]})",
                    "cameraBlocks[1].shape", "unknown value \"hexagon\""},
        BadDocument{"MaskStyle", R"({"masks": [{"style": "pixelate", "keyframes": [{}]}]})",
                    "masks[0].style", "unknown value \"pixelate\""},
        BadDocument{"FractionalInteger", R"({"trimStartMs": 12.5})", "trimStartMs",
                    "expected an integer, found 12.5"},
        BadDocument{"FractionalInList", R"({"cuts": [{"startMs": 1, "endMs": 2.25}]})",
                    "cuts[0].endMs", "expected an integer, found 2.25"},
        BadDocument{"IntegerOutOfRange", R"({"trimEndMs": 1e30})", "trimEndMs", "out of range"},
        BadDocument{"UnsignedOutOfRange", R"({"trimEndMs": 18446744073709551615})", "trimEndMs",
                    "out of range"},
        BadDocument{"IntOutOfRange", R"({"zooms": [{"source": 4294967296}]})", "zooms[0].source",
                    "out of range"},
        BadDocument{"DeepKeyframe",
                    R"({"masks": [{"keyframes": [{}]}, {"keyframes": [{}]},
                                  {"keyframes": [{"x": "left"}]}]})",
                    "masks[2].keyframes[0].x", "expected a number, found a string"},
        BadDocument{"MaskWithoutKeyframes", R"({"masks": [{"id": "m", "keyframes": []}]})",
                    "masks[0].keyframes", "at least one keyframe"},
        BadDocument{"MaskKeyframesMissing", R"({"masks": [{"id": "m"}]})", "masks[0].keyframes",
                    "at least one keyframe"},
        BadDocument{"KeyframesNotArray", R"({"masks": [{"keyframes": {}}]})", "masks[0].keyframes",
                    "expected an array, found an object"},
        BadDocument{"MaskStartAfterEnd",
                    R"({"masks": [{"startMs": 50, "endMs": 10, "keyframes": [{}]}]})",
                    "masks[0].startMs", "after the end"},
        BadDocument{"CaptionStartAfterEnd", R"({"captions": [{"startMs": 9, "endMs": 8}]})",
                    "captions[0].startMs", "after the end"},
        BadDocument{"CutStartAfterEnd", R"({"cuts": [{"startMs": 5000, "endMs": 1000}]})",
                    "cuts[0].startMs", "after the end"},
        BadDocument{
            "SpeedStartAfterEnd",
            R"({"speeds": [{"startMs": 0, "endMs": 10}, {"startMs": 7, "endMs": 6, "rate": 2}]})",
            "speeds[1].startMs", "after the end"},
        BadDocument{"BlockStartAfterEnd", R"({"cameraBlocks": [{"startMs": 2, "endMs": 1}]})",
                    "cameraBlocks[0].startMs", "after the end"},
        BadDocument{"CaptionScaleType", R"({"captions": [{"scale": "big"}]})", "captions[0].scale",
                    "expected a number"},
        BadDocument{"CutsNotArray", R"({"cuts": {"startMs": 1}})", "cuts",
                    "expected an array, found an object"},
        BadDocument{"SpeedNotObject", R"({"speeds": [3]})", "speeds[0]",
                    "expected an object, found 3"},
        BadDocument{"FractionalVersion", R"({"formatVersion": 1.5})", "formatVersion",
                    "expected an integer, found 1.5"},
        BadDocument{"TextVersion", R"({"formatVersion": "1"})", "formatVersion",
                    "expected an integer, found a string"},
        BadDocument{"ZeroVersion", R"({"formatVersion": 0})", "formatVersion", "positive integer"}),
    [](const ::testing::TestParamInfo<BadDocument> &info) { return std::string(info.param.name); });

TEST(EditsCoding, UnknownEnumerationMessageShowsOnlyTheBadValue) {
    auto decoded = Edits::decode(R"({"scene": {"clickEffect": "sparkles"}})", "edits.json");
    ASSERT_FALSE(decoded.ok());
    EXPECT_EQ(decoded.error().message, "edits.json: scene.clickEffect: unknown value \"sparkles\"");
}

TEST(EditsCoding, TextThatIsNotAnObjectIsRejected) {
    for (const char *text : {"", "[1, 2]", "{\"scene\": ", "null", "42"}) {
        auto decoded = Edits::decode(text, "broken.json");
        ASSERT_FALSE(decoded.ok()) << text;
        EXPECT_THAT(decoded.error().message, HasSubstr("broken.json: ")) << text;
    }
}

TEST(EditsFiles, WriteThenReadGivesTheSameDocument) {
    testing::TempFolder folder;
    const auto file = folder.path() / "edits.json";
    const Edits original = populated();
    auto written = original.write(file);
    ASSERT_TRUE(written.ok()) << written.error().message;
    auto read = Edits::read(file);
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(*read, original);
    // Only the document itself is left: the temporary file was renamed, not copied.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(folder.path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(EditsFiles, WriteReplacesAnExistingDocument) {
    testing::TempFolder folder;
    const auto file = folder.path() / "edits.json";
    testing::spit(file, "{\"trimStartMs\": 1}");
    Edits e;
    e.trimStartMs = 77;
    ASSERT_TRUE(e.write(file).ok());
    auto read = Edits::read(file);
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(read->trimStartMs, 77);
}

struct NonFinite {
    const char *name;
    void (*spoil)(Edits &);
    const char *member;
};

class EditsNonFinite : public ::testing::TestWithParam<NonFinite> {};

TEST_P(EditsNonFinite, FailedEncodeLeavesTheExistingFileUntouched) {
    testing::TempFolder folder;
    const auto file = folder.path() / "edits.json";
    const std::string good = populated().encode();
    testing::spit(file, good);

    Edits bad = populated();
    GetParam().spoil(bad);
    auto written = bad.write(file);
    ASSERT_FALSE(written.ok());
    EXPECT_THAT(written.error().message,
                AllOf(HasSubstr(file.string()), HasSubstr(GetParam().member), HasSubstr("finite")));
    EXPECT_EQ(testing::slurp(file), good);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(folder.path()))
        ++entries;
    EXPECT_EQ(entries, 1u) << "no temporary file may be left behind";

    // The unchecked text stays valid JSON all the same.
    EXPECT_FALSE(bad.encode().empty());
    EXPECT_THAT(bad.encode(), Not(HasSubstr("nan")));
    EXPECT_THAT(bad.encode(), Not(HasSubstr("inf")));
}

INSTANTIATE_TEST_SUITE_P(
    Table, EditsNonFinite,
    ::testing::Values(
        NonFinite{"Padding", [](Edits &e) { e.scene.paddingPercent = std::nan(""); },
                  "scene.paddingPercent"},
        NonFinite{"Crop",
                  [](Edits &e) { e.scene.crop.width = std::numeric_limits<double>::infinity(); },
                  "scene.crop.width"},
        NonFinite{
            "Keyframe",
            [](Edits &e) { e.masks[0].keyframes[1].y = -std::numeric_limits<double>::infinity(); },
            "masks[0].keyframes[1].y"},
        NonFinite{"CaptionScale", [](Edits &e) { e.captions[0].scale = std::nan(""); },
                  "captions[0].scale"}),
    [](const ::testing::TestParamInfo<NonFinite> &info) { return std::string(info.param.name); });

TEST(EditsFiles, ReadingAMissingFileNamesIt) {
    testing::TempFolder folder;
    auto read = Edits::read(folder.path() / "nope.json");
    ASSERT_FALSE(read.ok());
    EXPECT_THAT(read.error().message, HasSubstr("nope.json"));
}

TEST(EditsFiles, WritingIntoAMissingFolderFailsWithoutCrashing) {
    testing::TempFolder folder;
    auto written = Edits{}.write(folder.path() / "missing" / "edits.json");
    ASSERT_FALSE(written.ok());
    EXPECT_THAT(written.error().message, HasSubstr("edits.json"));
}

} // namespace
} // namespace qv
