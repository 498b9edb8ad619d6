// `quillvane record` end to end on a private Xvfb with real X clients: the frame where a window
// changes colour agrees with the click that changed it, pauses cut the same stretch from the
// screen and the tracks, a window recording follows its window, and the folder exports as is.
#include "recording/child_process.h"
#include "recording/movie_frames.h"
#include "recording/pulse_server.h"

#include "Handtrace/track_files.h"
#include "handtrace/xvfb.h"
#include "interfaces/persistence/recording.h"
#include "interfaces/persistence/window_crop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using qv::testing::ChildProcess;
using qv::testing::ScopedEnvironment;
using qv::testing::XvfbServer;

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int run(const std::string &command) {
    return std::system(command.c_str());
}

// The largest repaint time the colour window reported.
double maxRepaintMs(const std::string &out) {
    double most = 0;
    std::size_t at = 0;
    while ((at = out.find("repaint ", at)) != std::string::npos) {
        at += 8;
        most = std::max(most, std::stod(out.substr(at)));
    }
    return most;
}

// The times (ms) of the frames whose centre pixel flipped between dark and light.
std::vector<double> colourChanges(const std::vector<qv::testing::FrameLuma> &frames) {
    std::vector<double> changes;
    for (std::size_t i = 1; i < frames.size(); ++i)
        if ((frames[i].luma > 128) != (frames[i - 1].luma > 128)) changes.push_back(frames[i].ms);
    return changes;
}

class RecordCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(qv::testing::commandExists("xdotool")) << "xdotool is needed";
        library_ =
            fs::temp_directory_path() / ("qv-record-" + std::to_string(std::random_device{}()));
        fs::create_directories(library_);
        server_ = std::make_unique<XvfbServer>("640x480x24");
        ASSERT_TRUE(server_->ok()) << server_->error();
        auto variables = qv::testing::displayVariables(*server_);
        variables.emplace_back("QUILLVANE_LIBRARY", library_.string());
        environment_ = std::make_unique<ScopedEnvironment>(variables);
    }
    void TearDown() override {
        environment_.reset();
        server_.reset();
        fs::remove_all(library_);
    }

    std::unique_ptr<ChildProcess> startWindow(int x, int y, int w, int h) {
        auto window = std::make_unique<ChildProcess>(
            std::vector<std::string>{COLOUR_WINDOW_BIN, std::to_string(x), std::to_string(y),
                                     std::to_string(w), std::to_string(h)});
        EXPECT_TRUE(window->waitForOutput("\n")) << window->err();
        return window;
    }
    std::unique_ptr<ChildProcess> startRecording(std::vector<std::string> args) {
        args.insert(args.begin(), {QUILLVANE_BIN, "record"});
        auto recorder = std::make_unique<ChildProcess>(args);
        EXPECT_TRUE(recorder->waitForOutput("recording ")) << recorder->err();
        return recorder;
    }
    fs::path folder(const std::string &id) const { return library_ / "recordings" / id; }

    fs::path library_;
    std::unique_ptr<XvfbServer> server_;
    std::unique_ptr<ScopedEnvironment> environment_;
};

TEST_F(RecordCommand, ClicksAgreeWithTheFramesTheyChangedAndTheFolderExports) {
    auto window = startWindow(0, 0, 640, 480);
    auto recorder = startRecording({"--seconds", "3.5", "--id", "align"});
    sleepMs(500);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(run("xdotool click 1"), 0);
        sleepMs(450);
    }
    ASSERT_EQ(recorder->finish(), 0) << recorder->err();
    EXPECT_NE(recorder->out().find("wrote "), std::string::npos) << recorder->out();
    EXPECT_EQ(window->finish(), 0);
    const double repaintMs = maxRepaintMs(window->out());

    const auto meta = qv::RecordingMeta::readFromRecording(folder("align"));
    ASSERT_TRUE(meta) << meta.error().message;
    EXPECT_EQ(meta->width, 640);
    EXPECT_EQ(meta->height, 480);
    EXPECT_TRUE(meta->cursorSynthetic);
    EXPECT_FALSE(meta->hasMicrophone);
    EXPECT_NEAR(double(meta->durationMs), 3500, 100);

    const auto clicks = qv::ClicksFile::load(folder("align"));
    ASSERT_TRUE(clicks) << clicks.error().message;
    ASSERT_EQ(clicks->clicks.size(), 5u);

    const auto frames = qv::testing::readCentreLuma(folder("align") / "screen.mp4");
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front().ms, 0);
    EXPECT_NEAR(frames.back().ms, double(meta->durationMs), 100);
    const auto changes = colourChanges(frames);
    ASSERT_EQ(changes.size(), 5u);
    const double frameMs = 1000.0 / 30;
    // One frame, the client's repaint, and a little for the scheduling of three processes on
    // a busy machine.
    const double allowed = frameMs + repaintMs + 10;
    for (std::size_t i = 0; i < 5; ++i) {
        const double click = double(clicks->clicks[i].tMs);
        std::printf("click %zu: at %.0f ms, colour changed at %.1f ms\n", i, click, changes[i]);
        SCOPED_TRACE("click " + std::to_string(i) + " at " + std::to_string(click) +
                     " ms, colour changed at " + std::to_string(changes[i]) + " ms");
        EXPECT_LE(std::fabs(changes[i] - click), allowed);
    }

    // The folder is complete as written: the export takes it as it is.
    const fs::path movie = library_ / "align.mp4";
    ChildProcess exporter(
        {QUILLVANE_BIN, "export", "align", "--preset", "compact", "-o", movie.string()});
    ASSERT_EQ(exporter.finish(), 0) << exporter.err();
    EXPECT_GT(fs::file_size(movie), 1000u);
}

TEST_F(RecordCommand, PauseCutsTheSameStretchFromScreenAndTracks) {
    auto window = startWindow(0, 0, 640, 480);
    auto recorder = startRecording({"--seconds", "2.5", "--id", "paused"});
    using Clock = std::chrono::steady_clock;
    const auto msBetween = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    sleepMs(400);
    ASSERT_EQ(run("xdotool click 1"), 0); // recorded
    const auto firstClick = Clock::now();
    sleepMs(400);
    recorder->signal(SIGUSR1);
    const auto paused = Clock::now();
    sleepMs(500);
    ASSERT_EQ(run("xdotool click 1"), 0); // inside the pause: not recorded
    sleepMs(500);
    recorder->signal(SIGUSR2);
    const auto resumed = Clock::now();
    sleepMs(400);
    ASSERT_EQ(run("xdotool click 1"), 0); // recorded
    const auto lastClick = Clock::now();
    ASSERT_EQ(recorder->finish(), 0) << recorder->err();
    EXPECT_EQ(window->finish(), 0);

    const auto meta = qv::RecordingMeta::readFromRecording(folder("paused"));
    ASSERT_TRUE(meta) << meta.error().message;
    // --seconds counts recording time: the pause comes on top.
    EXPECT_NEAR(double(meta->durationMs), 2500, 100);
    const auto clicks = qv::ClicksFile::load(folder("paused"));
    ASSERT_TRUE(clicks) << clicks.error().message;
    std::string times;
    for (const auto &c : clicks->clicks) times += " " + std::to_string(c.tMs);
    ASSERT_EQ(clicks->clicks.size(), 2u) << "clicks at" << times << " ms; " << recorder->err();
    // The tracks lose the pause, as measured here; the margin covers starting xdotool and the
    // delivery of the signals.
    const double apart = double(clicks->clicks[1].tMs - clicks->clicks[0].tMs);
    EXPECT_NEAR(apart, msBetween(firstClick, lastClick) - msBetween(paused, resumed), 60);

    const auto frames = qv::testing::readCentreLuma(folder("paused") / "screen.mp4");
    ASSERT_FALSE(frames.empty());
    EXPECT_NEAR(frames.back().ms, double(meta->durationMs), 100);
    // Three changes: the first click, the pause's click (seen at the resume) and the last one.
    const auto changes = colourChanges(frames);
    ASSERT_EQ(changes.size(), 3u);
    const double allowed = 1000.0 / 30 + maxRepaintMs(window->out()) + 10;
    EXPECT_LE(std::fabs(changes[0] - double(clicks->clicks[0].tMs)), allowed);
    EXPECT_LE(std::fabs(changes[2] - double(clicks->clicks[1].tMs)), allowed);
    // The pause's click shows where the pause was cut, between the two.
    EXPECT_GT(changes[1], changes[0] + 200);
    EXPECT_LT(changes[1], changes[2] - 200);
}

TEST_F(RecordCommand, CtrlCAndSigtermFinishTheRecording) {
    for (const int signal : {SIGINT, SIGTERM}) {
        const std::string id = "stopped-" + std::to_string(signal);
        SCOPED_TRACE(id);
        auto recorder = startRecording({"--id", id});
        sleepMs(800);
        recorder->signal(signal);
        ASSERT_EQ(recorder->finish(), 0) << recorder->err();
        const auto meta = qv::RecordingMeta::readFromRecording(folder(id));
        ASSERT_TRUE(meta) << meta.error().message;
        EXPECT_NEAR(double(meta->durationMs), 800, 150);
        const auto frames = qv::testing::readCentreLuma(folder(id) / "screen.mp4");
        ASSERT_FALSE(frames.empty());
        EXPECT_NEAR(frames.back().ms, double(meta->durationMs), 100);
        // Nothing but the finished files is left in the folder.
        for (const auto &entry : fs::directory_iterator(folder(id)))
            EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    }
}

TEST_F(RecordCommand, ARecorderKilledOutrightLeavesAFolderTheExportRefusesClearly) {
    auto recorder = startRecording({"--id", "killed"});
    sleepMs(500);
    recorder->signal(SIGKILL);
    EXPECT_EQ(recorder->finish(), 128 + SIGKILL);
    ChildProcess exporter(
        {QUILLVANE_BIN, "export", "killed", "-o", (library_ / "killed.mp4").string()});
    EXPECT_EQ(exporter.finish(), 1);
    EXPECT_NE(exporter.err().find("meta.json"), std::string::npos) << exporter.err();
    EXPECT_FALSE(fs::exists(library_ / "killed.mp4"));
}

TEST_F(RecordCommand, KeysOnTheTerminalPauseResumeAndStop) {
    ChildProcess recorder({QUILLVANE_BIN, "record", "--id", "keys"}, true);
    ASSERT_TRUE(recorder.waitForOutput("p or space pauses")) << recorder.out();
    sleepMs(600);
    recorder.type("p");
    ASSERT_TRUE(recorder.waitForError("paused ")) << recorder.err();
    sleepMs(800);
    recorder.type(" ");
    sleepMs(600);
    recorder.type("q");
    ASSERT_EQ(recorder.finish(), 0) << recorder.err();
    // The status line showed the time, the frames and the dropped frames.
    EXPECT_NE(recorder.err().find("recording 00:00."), std::string::npos) << recorder.err();
    EXPECT_NE(recorder.err().find("dropped 0"), std::string::npos) << recorder.err();
    const auto meta = qv::RecordingMeta::readFromRecording(folder("keys"));
    ASSERT_TRUE(meta) << meta.error().message;
    // About 1.2 s recorded of the 2 s that passed.
    EXPECT_NEAR(double(meta->durationMs), 1200, 200);
}

TEST_F(RecordCommand, PointerWarpsAreRecordedAsJumps) {
    // Where the pointer starts is recorded too.
    ASSERT_EQ(run("xdotool mousemove 120 70"), 0);
    // A region, so that positions are relative to its corner.
    auto recorder = startRecording(
        {"--region", "400x300+100+50", "--seconds", "1.5", "--id", "warps", "--fps", "60"});
    sleepMs(300);
    // `xdotool mousemove` warps: the server reports no motion at all.
    ASSERT_EQ(run("xdotool mousemove 150 100"), 0);
    sleepMs(300);
    // A click right after a warp reads the position first; the warp must still be a move.
    ASSERT_EQ(run("xdotool mousemove 450 320 click 1"), 0);
    sleepMs(300);
    ASSERT_EQ(recorder->finish(), 0) << recorder->err();

    const auto meta = qv::RecordingMeta::readFromRecording(folder("warps"));
    ASSERT_TRUE(meta) << meta.error().message;
    EXPECT_EQ(meta->width, 400);
    EXPECT_EQ(meta->height, 300);
    const auto cursor = qv::CursorFile::load(folder("warps"));
    ASSERT_TRUE(cursor) << cursor.error().message;
    std::vector<std::pair<double, double>> places;
    const auto &samples = cursor->samples;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto &s = samples[i];
        EXPECT_EQ(s.screenW, 400);
        EXPECT_EQ(s.screenH, 300);
        if (!places.empty() && places.back() == std::pair(s.x, s.y)) continue;
        places.emplace_back(s.x, s.y);
        // A jump, not a glide: the pointer was where it rested until a tick or two before.
        if (i > 0) {
            EXPECT_EQ(std::pair(samples[i - 1].x, samples[i - 1].y), places[places.size() - 2]);
            EXPECT_LE(s.tMs - samples[i - 1].tMs, 40) << "sample " << i;
        }
    }
    const std::vector<std::pair<double, double>> expected{{20, 20}, {50, 50}, {350, 270}};
    EXPECT_EQ(places, expected);
    const auto clicks = qv::ClicksFile::load(folder("warps"));
    ASSERT_TRUE(clicks) << clicks.error().message;
    ASSERT_EQ(clicks->clicks.size(), 1u);
    EXPECT_EQ(std::pair(clicks->clicks[0].x, clicks->clicks[0].y), std::pair(350.0, 270.0));
}

TEST_F(RecordCommand, AWindowRecordingFollowsItsWindow) {
    auto window = startWindow(100, 80, 200, 150);
    const std::string id = window->out().substr(6, window->out().find('\n') - 6);
    auto recorder = startRecording({"--window", id, "--seconds", "2.4", "--id", "window"});
    // When each change was made, in ms since the recorder said it had its first frame (which is
    // within a few ms of its time 0): before and after the xdotool that made it.
    const auto started = std::chrono::steady_clock::now();
    const auto since = [&] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    };
    std::vector<std::pair<double, double>> made;
    const auto change = [&](const std::string &command) {
        const double before = since();
        EXPECT_EQ(run(command), 0) << command;
        made.emplace_back(before, since());
    };
    sleepMs(500);
    change("xdotool windowmove " + id + " 300 200");
    sleepMs(500);
    change("xdotool windowsize " + id + " 240 160");
    sleepMs(500);
    // Moved while unmapped: nothing is sampled until it shows again.
    ASSERT_EQ(run("xdotool windowunmap " + id + " windowmove " + id + " 40 30"), 0);
    sleepMs(400);
    change("xdotool windowmap " + id);
    ASSERT_EQ(recorder->finish(), 0) << recorder->err();

    const auto meta = qv::RecordingMeta::readFromRecording(folder("window"));
    ASSERT_TRUE(meta) << meta.error().message;
    EXPECT_EQ(meta->sourceName, "colour window");
    ASSERT_TRUE(meta->windowCropFile);
    const auto crop = qv::WindowCrop::load(folder("window"), *meta->windowCropFile);
    ASSERT_TRUE(crop) << crop.error().message;
    EXPECT_EQ(crop->captureWidth, 640);
    EXPECT_EQ(crop->captureHeight, 480);
    ASSERT_EQ(crop->samples.size(), 4u);
    const auto &s = crop->samples;
    EXPECT_EQ(s[0], (qv::WindowCrop::Sample{0, 100, 80, 200, 150}));
    EXPECT_EQ(s[1], (qv::WindowCrop::Sample{s[1].tMs, 300, 200, 200, 150}));
    EXPECT_EQ(s[2], (qv::WindowCrop::Sample{s[2].tMs, 300, 200, 240, 160}));
    EXPECT_EQ(s[3], (qv::WindowCrop::Sample{s[3].tMs, 40, 30, 240, 160}));
    // Each change is sampled on the first frame after it: within a frame and a half (grab and
    // slot rounding) of the change, plus a little for the recorder's first line to arrive.
    ASSERT_EQ(made.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE("change " + std::to_string(i));
        EXPECT_GE(double(s[i + 1].tMs), made[i].first - 20);
        EXPECT_LE(double(s[i + 1].tMs), made[i].second + 60);
    }
}

TEST_F(RecordCommand, TheMicrophoneKeepsTheScreensClock) {
    ASSERT_TRUE(qv::testing::commandExists("pulseaudio")) << "pulseaudio is needed";
    qv::testing::PulseServer pulse;
    ASSERT_TRUE(pulse.ok()) << "the sound server did not start";
    ScopedEnvironment pulseVariables(pulse.environment());
    auto window = std::make_unique<ChildProcess>(
        std::vector<std::string>{COLOUR_WINDOW_BIN, "0", "0", "640", "480", "tone"});
    ASSERT_TRUE(window->waitForOutput("\n")) << window->err();
    ASSERT_TRUE(pulse.waitForSound()) << "the null sink delivers no sound";
    auto recorder = startRecording({"--mic", "qvnull.monitor", "--seconds", "3", "--id", "mic"});
    sleepMs(500);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(run("xdotool click 1"), 0);
        sleepMs(550);
    }
    ASSERT_EQ(recorder->finish(), 0) << recorder->err();
    EXPECT_EQ(window->finish(), 0);
    const auto meta = qv::RecordingMeta::readFromRecording(folder("mic"));
    ASSERT_TRUE(meta) << meta.error().message;
    EXPECT_TRUE(meta->hasMicrophone);
    const auto changes = colourChanges(qv::testing::readCentreLuma(folder("mic") / "screen.mp4"));
    const auto sound = qv::testing::readSound(folder("mic") / "mic.m4a");
    EXPECT_EQ(sound.rate, 48000);
    EXPECT_NEAR(double(sound.samples.size()) * 1000 / sound.rate, double(meta->durationMs), 60);
    const auto onsets = qv::testing::soundOnsets(sound, 0.05f, 100);
    const auto list = [](const std::vector<double> &v) {
        std::string text;
        for (double x : v) text += std::to_string(x) + " ";
        return text;
    };
    SCOPED_TRACE("colour changes " + list(changes) + "; tone onsets " + list(onsets));
    ASSERT_EQ(changes.size(), 4u);
    ASSERT_EQ(onsets.size(), 4u);
    // The client's playback delays the tone by up to 20 ms: its 5 ms chunks, its 10 ms buffer
    // and the null sink's block. Beyond that the tone and the colour agree within a frame.
    const double allowed = 1000.0 / 30 + 20 + maxRepaintMs(window->out());
    for (std::size_t i = 0; i < 4; ++i) {
        std::printf("tone %zu: heard at %.1f ms, colour changed at %.1f ms\n", i, onsets[i],
                    changes[i]);
        EXPECT_LE(std::fabs(onsets[i] - changes[i]), allowed);
    }
}

TEST_F(RecordCommand, AWebcamFromAnyFfmpegInput) {
    auto recorder = startRecording(
        {"--webcam", "lavfi:testsrc=size=320x240:rate=30", "--seconds", "1.5", "--id", "webcam"});
    ASSERT_EQ(recorder->finish(), 0) << recorder->err();
    const auto meta = qv::RecordingMeta::readFromRecording(folder("webcam"));
    ASSERT_TRUE(meta) << meta.error().message;
    EXPECT_TRUE(meta->hasWebcam);
    const auto frames = qv::testing::readCentreLuma(folder("webcam") / "webcam.mp4");
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front().ms, 0);
    // The generator is played out in real time: about as many frames as the screen.
    EXPECT_NEAR(double(frames.size()), 45, 6);
    EXPECT_NEAR(frames.back().ms, double(meta->durationMs), 100);
    // A keyframe at least every 30 frames (a second at 30 fps) in both movies, so that a seek
    // decodes at most that many. Counted in frames: a camera's frames come when they come, so
    // 30 of them may span a little more than a second.
    for (const char *name : {"screen.mp4", "webcam.mp4"}) {
        const auto movie = qv::testing::readCentreLuma(folder("webcam") / name);
        ASSERT_FALSE(movie.empty()) << name;
        EXPECT_TRUE(movie.front().key) << name;
        std::size_t lastKey = 0;
        for (std::size_t i = 0; i < movie.size(); ++i) {
            if (!movie[i].key) continue;
            EXPECT_LE(i - lastKey, 30u) << name << ": frames " << lastKey << " to " << i;
            lastKey = i;
        }
        EXPECT_LT(movie.size() - lastKey, 30u)
            << name << ": the last keyframe is frame " << lastKey;
    }
}

TEST_F(RecordCommand, AnOptionalStreamThatEndsEndsTheSessionWithEverythingWritten) {
    // A webcam input that lasts one second.
    auto recorder = startRecording(
        {"--webcam", "lavfi:testsrc=size=320x240:rate=30:duration=1", "--id", "ended"});
    EXPECT_EQ(recorder->finish(), 1);
    EXPECT_NE(recorder->err().find("webcam: its input ended"), std::string::npos)
        << recorder->err();
    const auto meta = qv::RecordingMeta::readFromRecording(folder("ended"));
    ASSERT_TRUE(meta) << meta.error().message;
    EXPECT_TRUE(meta->hasWebcam);
    EXPECT_NEAR(double(meta->durationMs), 1000, 200);
    EXPECT_TRUE(fs::exists(folder("ended") / "screen.mp4"));
    EXPECT_TRUE(fs::exists(folder("ended") / "webcam.mp4"));
}

TEST_F(RecordCommand, RefusesWhatItCannotRecord) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::pair<std::string, std::optional<std::string>>> environment;
        int status;
        const char *message;
    };
    const std::vector<Case> cases = {
        {{"--fps", "25"}, {}, 2, "--fps: must be 30 or 60"},
        {{"--region", "10x10"}, {}, 2, "is not WxH+X+Y"},
        {{"--region", "10x10+0+0", "--window", "1"}, {}, 2, "cannot be combined"},
        {{"--region", "800x600+0+0"}, {}, 1, "does not lie inside the screen"},
        {{"--window", "0x1234567"}, {}, 1, "there is no window 0x1234567"},
        {{"--webcam", "/dev/video-none"}, {}, 1, "webcam (v4l2 /dev/video-none): cannot open"},
        {{"--mic", "no-such-source"}, {}, 1, "microphone (pulse no-such-source): cannot open"},
        {{},
         {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", "wayland-0"}},
         1,
         "Wayland session without X11"},
        {{}, {{"DISPLAY", std::nullopt}}, 1, "DISPLAY is not set"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        ScopedEnvironment environment(c.environment);
        std::vector<std::string> argv{QUILLVANE_BIN, "record", "--seconds", "1"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ChildProcess recorder(argv);
        EXPECT_EQ(recorder.finish(), c.status);
        EXPECT_NE(recorder.err().find(c.message), std::string::npos) << recorder.err();
    }
    EXPECT_FALSE(fs::exists(library_ / "recordings") && !fs::is_empty(library_ / "recordings"));
}

} // namespace
