// Window recordings exported as a user makes them: the capture shows a desktop with a window
// that moves and resizes, and the crop file follows it. The window must fill the frame at its
// own aspect ratio; what happens to a window of another size depends on the canvas mode.
#include "export_fixtures.h"

#include "interfaces/persistence/window_crop.h"

#include <gtest/gtest.h>

namespace qv::testing {
namespace {

using Phase = ExportEngine::Phase;

constexpr int captureW = 160, captureH = 96, fps = 30;

// The window's left half is red, its right half yellow; the desktop around it is blue.
void writeCapture(const fs::path &file, const WindowCrop &crop, double seconds) {
    platform::media::MovieWriter::Settings settings;
    settings.width = captureW;
    settings.height = captureH;
    settings.frameDuration = {1, fps};
    settings.video = {"libx264", "nv12", {{"preset", "ultrafast"}, {"crf", "10"}}, "", 1};
    auto writer = platform::media::MovieWriter::create(file, settings);
    ASSERT_TRUE(writer) << writer.error().message;
    auto frame = platform::PixelBuffer::create(captureW, captureH, platform::PixelFormat::bgra8);
    for (int i = 0; i < static_cast<int>(seconds * fps); ++i) {
        const WindowCrop::Sample w = crop.sample(i * 1000 / fps);
        for (int y = 0; y < captureH; ++y)
            for (int x = 0; x < captureW; ++x) {
                std::uint8_t *p = frame->row(y) + 4 * x;
                const bool inside = x >= w.x && x < w.x + w.width && y >= w.y && y < w.y + w.height;
                const bool left = x < w.x + w.width / 2;
                p[0] = inside ? 0 : 220;
                p[1] = inside && !left ? 220 : 0;
                p[2] = inside ? 230 : 0;
                p[3] = 255;
            }
        ASSERT_TRUE((*writer)->appendVideo(*frame));
    }
    ASSERT_TRUE((*writer)->finish());
}

struct Probe {
    double seconds;
    int x, y;
    enum Colour { red, yellow, background } colour;
};

struct WindowCase {
    const char *name;
    const char *canvasMode;
    std::vector<WindowCrop::Sample> samples;
    int canvasW, canvasH; // the window's canonical size
    std::vector<Probe> probes;
};

void PrintTo(const WindowCase &c, std::ostream *os) {
    *os << c.name;
}

class WindowRecording : public ::testing::TestWithParam<WindowCase> {
protected:
    void SetUp() override {
        if (!haveCommand("ffprobe") || !haveCommand("ffmpeg"))
            GTEST_SKIP() << "the ffprobe and ffmpeg commands are needed to inspect the movies";
    }
    TempDir temp_;
};

TEST_P(WindowRecording, FillsTheFrameAtItsOwnAspectRatio) {
    const WindowCase &c = GetParam();
    const fs::path library = temp_.path() / "library", dir = library / "recordings" / "win";
    fs::create_directories(dir);
    WindowCrop crop;
    crop.captureWidth = captureW;
    crop.captureHeight = captureH;
    crop.canvasMode = c.canvasMode;
    crop.samples = c.samples;
    spit(dir / "window.json", crop.encode());
    writeCapture(dir / "screen.mp4", crop, 2);
    RecordingMeta meta;
    meta.id = "win";
    meta.createdAtMs = 1700000000000;
    meta.durationMs = 2000;
    meta.sourceName = "Window";
    meta.width = captureW;
    meta.height = captureH;
    meta.windowCropFile = "window.json";
    ASSERT_TRUE(meta.write(dir));
    // No padding, corners or shadow: the window alone fills a white canvas.
    spit(dir / "edits.json",
         R"({"scene":{"backgroundKind":"solid","backgroundColor":"#FFFFFF","paddingPercent":0,)"
         R"("frameRadius":0,"shadowStrength":0,"cursorSize":0,"clickEffect":"none",)"
         R"("showKeystrokes":false,"webcamPosition":"hidden"}})");

    EngineHarness harness(library);
    const fs::path movie = temp_.path() / "win.mp4";
    const Phase phase = harness.run("win", ExportPreset::compact, movie);
    ASSERT_TRUE(phase.is<Phase::Finished>()) << phase.description();
    const DecodedVideo video = decodeVideo(movie);
    ASSERT_EQ(video.width, c.canvasW);
    ASSERT_EQ(video.height, c.canvasH);
    ASSERT_EQ(video.frames.size(), 60u);
    for (const Probe &p : c.probes) {
        const auto frame = static_cast<std::size_t>(p.seconds * fps);
        const std::uint8_t *rgb = video.pixel(frame, p.x, p.y);
        const int expected[3][3] = {{230, 0, 0}, {230, 220, 0}, {255, 255, 255}};
        const int *e = expected[p.colour];
        EXPECT_TRUE(near(rgb, e[0], e[1], e[2], 40))
            << "at " << p.seconds << " s, (" << p.x << ", " << p.y << "): " << int(rgb[0]) << ", "
            << int(rgb[1]) << ", " << int(rgb[2]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    CanvasModes, WindowRecording,
    ::testing::Values(
        // The first window's size is the canvas; the window moves at 1 s and shrinks to half
        // its size at 1.5 s, and is stretched to fill the frame whatever its size.
        WindowCase{"Initial",
                   "initial",
                   {{0, 20, 10, 80, 60}, {1000, 50, 20, 80, 60}, {1500, 30, 30, 40, 30}},
                   80,
                   60,
                   {{0.5, 20, 30, Probe::red},
                    {0.5, 60, 30, Probe::yellow},
                    {0.5, 20, 4, Probe::red},
                    {0.5, 20, 56, Probe::red},
                    {1.2, 20, 30, Probe::red},
                    {1.2, 60, 30, Probe::yellow},
                    {1.7, 20, 30, Probe::red},
                    {1.7, 60, 30, Probe::yellow},
                    {1.7, 20, 55, Probe::red}}},
        // The largest window seen is the canvas; smaller windows sit at its top-left, unscaled,
        // and the background shows beside and below them.
        WindowCase{"MaxObserved",
                   "maxObserved",
                   {{0, 20, 10, 80, 60}, {1000, 10, 5, 100, 40}},
                   100,
                   60,
                   {{0.5, 30, 30, Probe::red},
                    {0.5, 55, 30, Probe::yellow},
                    {0.5, 94, 30, Probe::background},
                    {0.5, 20, 4, Probe::red},
                    {1.5, 30, 20, Probe::red},
                    {1.5, 70, 20, Probe::yellow},
                    {1.5, 94, 20, Probe::yellow},
                    {1.5, 50, 54, Probe::background}}}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace qv::testing
