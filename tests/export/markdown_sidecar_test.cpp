// The Markdown report, byte for byte, in a fixed time zone.
#include "Outfitter/markdown_sidecar.h"

#include "export_fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace qv {
namespace {

using testing::spit;

class MarkdownSidecarTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char *tz = std::getenv("TZ");
        if (tz) oldTz_ = tz;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        meta_.id = "rec";
        meta_.createdAtMs = 1700000000000; // 2023-11-14 22:13:20 UTC
        meta_.durationMs = 61500;
        meta_.sourceName = "Built-in Display";
        meta_.width = 2880;
        meta_.height = 1800;
        clicks_ = dir_.path() / "clicks.json";
    }
    void TearDown() override {
        if (oldTz_)
            ::setenv("TZ", oldTz_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

    std::string document(const Edits &edits = {}) {
        return MarkdownSidecar::document(meta_, edits, clicks_, exportedAt_);
    }

    testing::TempDir dir_;
    RecordingMeta meta_;
    std::filesystem::path clicks_;
    std::time_t exportedAt_ = 1700003600; // 2023-11-14 23:13:20 UTC
    std::optional<std::string> oldTz_;
};

TEST_F(MarkdownSidecarTest, TheWholeReport) {
    spit(clicks_, R"({"clicks":[)"
                  R"({"tMs":61500,"x":100.9,"y":-3.7,"button":"left","screenW":1,"extra":true},)"
                  R"({"tMs":61501,"x":1,"y":1,"button":"right"},)"
                  R"({"tMs":-1,"x":1,"y":1,"button":"right"},)"
                  R"({"tMs":1200,"x":5,"y":6,"button":"other"}]})");
    Edits edits;
    edits.zooms.push_back({4000, 2500, 1.75, 1, 0.5, 0.5});
    edits.zooms.push_back({0, 1500, 2, 0, 0.5, 0.5});
    edits.zooms.push_back({4000, 1000, 3, 0, 0.5, 0.5});
    meta_.hasWebcam = true;
    meta_.hasMicrophone = true;
    EXPECT_EQ(document(edits), "# Recording — 2023-11-14 22:13\n"
                               "\n"
                               "- **Duration**: 01:01\n"
                               "- **Source**: Built-in Display (2880×1800)\n"
                               "- **Tracks**: Screen, Webcam, Mic\n"
                               "- **Exported**: 2023-11-14 23:13\n"
                               "\n"
                               "## Click timeline\n"
                               "\n"
                               "| Time | Coords (x, y) | Button |\n"
                               "| --- | --- | --- |\n"
                               "| 01:01 | 100, -3 | left |\n"
                               "| 00:01 | 5, 6 | other |\n"
                               "\n"
                               "## Zoom keyframes\n"
                               "\n"
                               "| Time | Duration | Scale | Source |\n"
                               "| --- | --- | --- | --- |\n"
                               "| 00:00 | 1.5s | 2.0× | smart |\n"
                               "| 00:04 | 2.5s | 1.8× | manual |\n"
                               "| 00:04 | 1.0s | 3.0× | smart |\n");
}

TEST_F(MarkdownSidecarTest, TracksLine) {
    EXPECT_NE(document().find("- **Tracks**: Screen\n"), std::string::npos);
    meta_.hasMicrophone = true;
    EXPECT_NE(document().find("- **Tracks**: Screen, Mic\n"), std::string::npos);
    meta_.hasWebcam = true;
    meta_.hasMicrophone = false;
    EXPECT_NE(document().find("- **Tracks**: Screen, Webcam\n"), std::string::npos);
}

TEST_F(MarkdownSidecarTest, MinutesAreNotWrapped) {
    EXPECT_EQ(MarkdownSidecar::minuteSecond(61500), "01:01");
    EXPECT_EQ(MarkdownSidecar::minuteSecond(3725000), "62:05");
    EXPECT_EQ(MarkdownSidecar::minuteSecond(75 * 60000), "75:00");
    EXPECT_EQ(MarkdownSidecar::minuteSecond(0), "00:00");
    meta_.durationMs = -5;
    EXPECT_NE(document().find("- **Duration**: 00:00\n"), std::string::npos);
}

TEST_F(MarkdownSidecarTest, AMissingOrMalformedClickFileGivesAnEmptyTable) {
    const std::string head = "| --- | --- | --- |\n\n## Zoom keyframes";
    EXPECT_NE(document().find(head), std::string::npos); // no file
    for (const char *text :
         {"not json", R"({"clicks":[{"tMs":1,"x":1,"y":1}]})",
          R"({"clicks":[{"tMs":1.5,"x":1,"y":1,"button":"left"}]})", R"({"clicks":{}})", R"([])"}) {
        spit(clicks_, text);
        EXPECT_NE(document().find(head), std::string::npos) << text;
    }
    // An empty zoom list still has its heading and table head.
    const std::string tail =
        "\n## Zoom keyframes\n\n| Time | Duration | Scale | Source |\n| --- | --- | --- | --- |\n";
    EXPECT_TRUE(document().ends_with(tail)) << document();
}

TEST_F(MarkdownSidecarTest, TheWindowCropSizeWinsWhenItHasOne) {
    meta_.windowCropFile = "window.json";
    // Unreadable crop: the metadata's size.
    EXPECT_NE(document().find("(2880×1800)"), std::string::npos);
    spit(dir_.path() / "window.json",
         R"({"captureWidth":2880,"captureHeight":1800,"canvasMode":"maxObserved",)"
         R"("samples":[{"tMs":0,"x":0,"y":0,"width":1200.7,"height":800},)"
         R"({"tMs":10,"x":0,"y":0,"width":1000,"height":900.9}]})");
    EXPECT_NE(document().find("- **Source**: Built-in Display (1200×900)\n"), std::string::npos)
        << document();
}

TEST_F(MarkdownSidecarTest, WritesBesideTheMovieOrSaysWhyNot) {
    const auto movie = dir_.path() / "demo.mp4";
    ASSERT_TRUE(MarkdownSidecar::write(meta_, {}, clicks_, movie));
    const std::string written = testing::slurp(dir_.path() / "demo.md");
    EXPECT_EQ(written.rfind("# Recording — 2023-11-14 22:13\n", 0), 0u);
    const auto missing = dir_.path() / "missing" / "demo.md";
    auto failed = MarkdownSidecar::write(meta_, {}, clicks_, dir_.path() / "missing" / "demo.mp4");
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().message.rfind(missing.string() + ": ", 0), 0u)
        << failed.error().message;
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "missing"));
}

} // namespace
} // namespace qv
