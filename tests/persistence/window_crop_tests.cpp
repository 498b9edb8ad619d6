// The window-crop file of window recordings, and file-name containment.
#include "interfaces/persistence/window_crop.h"
#include "temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qv {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

WindowCrop threeSamples() {
    WindowCrop c;
    c.captureWidth = 2560;
    c.captureHeight = 1440;
    c.samples = {{0, 10, 20, 800, 600}, {1000, 15, 25, 1200, 500}, {2000, 0, 0, 900, 700}};
    return c;
}

TEST(WindowCrop, SampleIsTheLastAtOrBeforeTheTime) {
    const auto c = threeSamples();
    EXPECT_EQ(c.sample(-100), c.samples[0]);
    EXPECT_EQ(c.sample(0), c.samples[0]);
    EXPECT_EQ(c.sample(999), c.samples[0]);
    EXPECT_EQ(c.sample(1000), c.samples[1]);
    EXPECT_EQ(c.sample(1999), c.samples[1]);
    EXPECT_EQ(c.sample(50000), c.samples[2]);
}

TEST(WindowCrop, SampleWithoutSamplesIsTheWholeCapture) {
    WindowCrop c;
    c.captureWidth = 640;
    c.captureHeight = 480;
    EXPECT_EQ(c.sample(5), (WindowCrop::Sample{0, 0, 0, 640, 480}));
    EXPECT_FALSE(c.canonicalSize().has_value());
}

TEST(WindowCrop, CanonicalSizeFollowsTheCanvasMode) {
    auto c = threeSamples();
    EXPECT_EQ(c.canonicalSize(), (Size{800, 600}));
    c.canvasMode = "initial";
    EXPECT_EQ(c.canonicalSize(), (Size{800, 600}));
    c.canvasMode = "maxObserved";
    EXPECT_TRUE(c.isMaxObserved());
    EXPECT_EQ(c.canonicalSize(), (Size{1200, 700}));
}

TEST(WindowCrop, RoundTrip) {
    auto c = threeSamples();
    c.canvasMode = "maxObserved";
    auto decoded = WindowCrop::decode(c.encode(), "crop.json");
    ASSERT_TRUE(decoded.ok()) << decoded.error().message;
    EXPECT_EQ(*decoded, c);
    EXPECT_THAT(c.encode(), HasSubstr("\"formatVersion\": 1"));
}

struct BadCrop {
    const char *name;
    const char *json;
    const char *member;
    const char *problem;
};

class WindowCropErrors : public ::testing::TestWithParam<BadCrop> {};

TEST_P(WindowCropErrors, MessageNamesFileMemberAndProblem) {
    auto decoded = WindowCrop::decode(GetParam().json, "rec/window.json");
    ASSERT_FALSE(decoded.ok());
    EXPECT_THAT(decoded.error().message, AllOf(HasSubstr("rec/window.json: "),
                                               HasSubstr(std::string(GetParam().member) + ":"),
                                               HasSubstr(GetParam().problem)));
}

constexpr const char *kSample = R"({"tMs": 0, "x": 0, "y": 0, "width": 10, "height": 10})";

INSTANTIATE_TEST_SUITE_P(
    Table, WindowCropErrors,
    ::testing::Values(
        BadCrop{"MissingWidth", R"({"captureHeight": 10, "samples": []})", "captureWidth",
                "missing"},
        BadCrop{"ZeroHeight", R"({"captureWidth": 10, "captureHeight": 0, "samples": []})",
                "captureHeight", "positive"},
        BadCrop{"FractionalWidth", R"({"captureWidth": 10.5, "captureHeight": 10, "samples": []})",
                "captureWidth", "expected an integer"},
        BadCrop{"NoSamples", R"({"captureWidth": 10, "captureHeight": 10, "samples": []})",
                "samples", "at least one"},
        BadCrop{"SamplesMissing", R"({"captureWidth": 10, "captureHeight": 10})", "samples",
                "missing"},
        BadCrop{"NegativeSize",
                R"({"captureWidth": 10, "captureHeight": 10,
                    "samples": [{"tMs": 0, "x": 0, "y": 0, "width": -1, "height": 10}]})",
                "samples[0].width", "negative"},
        BadCrop{"SampleMemberMissing",
                R"({"captureWidth": 10, "captureHeight": 10,
                    "samples": [{"tMs": 0, "y": 0, "width": 1, "height": 1}]})",
                "samples[0].x", "required member is missing"},
        BadCrop{"SampleMembersMissing",
                R"({"captureWidth": 10, "captureHeight": 10, "samples": [{"tMs": 0}]})",
                "samples[0]", "required members are missing: x, y, width, height"},
        BadCrop{"OutOfOrder",
                R"({"captureWidth": 10, "captureHeight": 10, "samples": [
                    {"tMs": 50, "x": 0, "y": 0, "width": 1, "height": 1},
                    {"tMs": 40, "x": 0, "y": 0, "width": 1, "height": 1}]})",
                "samples[1].tMs", "before the previous"},
        BadCrop{"ModeType",
                R"({"captureWidth": 10, "captureHeight": 10, "canvasMode": 3, "samples": []})",
                "canvasMode", "expected a string"}),
    [](const ::testing::TestParamInfo<BadCrop> &info) { return std::string(info.param.name); });

TEST(WindowCropFiles, ReadFindsAFileInTheFolder) {
    testing::TempFolder folder;
    testing::spit(folder.path() / "window.json",
                  std::string(R"({"formatVersion": 1, "captureWidth": 100, "captureHeight": 50,
                                   "samples": [)") +
                      kSample + "]}");
    auto crop = WindowCrop::read(folder.path(), "window.json");
    ASSERT_TRUE(crop.has_value());
    EXPECT_EQ(crop->captureWidth, 100);
    EXPECT_EQ(crop->samples.size(), 1u);
}

TEST(WindowCropFiles, ReadRefusesNamesThatLeaveTheFolder) {
    testing::TempFolder root;
    const auto inner = root.path() / "recording";
    std::filesystem::create_directories(inner);
    // A valid file just outside the folder, reachable by "../".
    testing::spit(root.path() / "x.json",
                  std::string(R"({"captureWidth": 10, "captureHeight": 10, "samples": [)") +
                      kSample + "]}");
    ASSERT_TRUE(WindowCrop::read(root.path(), "x.json").has_value());
    EXPECT_FALSE(WindowCrop::read(inner, "../x.json").has_value());
    EXPECT_FALSE(WindowCrop::read(inner, (root.path() / "x.json").string()).has_value());
    EXPECT_FALSE(WindowCrop::read(inner, "/etc/passwd").has_value());
    auto loaded = WindowCrop::load(inner, "../x.json");
    ASSERT_FALSE(loaded.ok());
    EXPECT_THAT(loaded.error().message, HasSubstr("../x.json"));
}

TEST(WindowCropFiles, MissingOrInvalidFilesAreAbsentAndLoadSaysWhy) {
    testing::TempFolder folder;
    EXPECT_FALSE(WindowCrop::read(folder.path(), "none.json").has_value());
    testing::spit(folder.path() / "bad.json",
                  R"({"captureWidth": "wide", "captureHeight": 1, "samples": []})");
    EXPECT_FALSE(WindowCrop::read(folder.path(), "bad.json").has_value());
    auto loaded = WindowCrop::load(folder.path(), "bad.json");
    ASSERT_FALSE(loaded.ok());
    EXPECT_THAT(loaded.error().message,
                AllOf(HasSubstr((folder.path() / "bad.json").string()), HasSubstr("captureWidth")));
}

struct NameCase {
    const char *name;
    std::string_view text;
    bool contained;
};

class ContainedFileName : public ::testing::TestWithParam<NameCase> {};

TEST_P(ContainedFileName, Table) {
    EXPECT_EQ(isContainedFileName(GetParam().text), GetParam().contained);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ContainedFileName,
    ::testing::Values(
        NameCase{"Plain", "window.json", true}, NameCase{"Hidden", ".crop.json", true},
        NameCase{"DotsInside", "a..b", true}, NameCase{"Spaces", "my crop.json", true},
        NameCase{"Empty", "", false}, NameCase{"Dot", ".", false}, NameCase{"DotDot", "..", false},
        NameCase{"ParentPath", "../x.json", false}, NameCase{"Absolute", "/etc/passwd", false},
        NameCase{"Nested", "sub/x.json", false}, NameCase{"TrailingSlash", "x/", false},
        NameCase{"Backslash", "..\\x.json", false},
        NameCase{"Nul", std::string_view("x\0.json", 7), false}),
    [](const ::testing::TestParamInfo<NameCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace qv
