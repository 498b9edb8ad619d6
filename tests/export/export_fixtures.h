// Small synthetic recordings made by the tests themselves, and what the tests need to look into
// the movies they export: a temporary library, the ffprobe and ffmpeg commands for inspection
// (the tests skip when they are missing), and a run loop that drives the export engine.
#pragma once

#include "Outfitter/export_engine.h"
#include "interfaces/persistence/recording.h"
#include "platform/core/executor.h"
#include "platform/media/movie_writer.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace qv::testing {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "qv-export-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

inline std::string slurp(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void spit(const fs::path &file, const std::string &text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
}

inline bool haveCommand(const char *name) {
    return std::system(("command -v " + std::string(name) + " > /dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command and returns what it printed on stdout.
inline std::string capture(const std::string &command) {
    std::string out;
    if (FILE *p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// "key=value" lines of ffprobe for one stream or the format.
inline std::string probe(const fs::path &file, const std::string &select,
                         const std::string &entries) {
    return capture("ffprobe -v error " + select + " -show_entries " + entries +
                   " -of default=noprint_wrappers=1 '" + file.string() + "'");
}

inline std::string probeValue(const fs::path &file, const std::string &select,
                              const std::string &entry) {
    std::string v = capture("ffprobe -v error " + select + " -show_entries " + entry +
                            " -of default=noprint_wrappers=1:nokey=1 '" + file.string() + "'");
    while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.pop_back();
    return v;
}

// Every video frame of a movie as RGB24 of its own size.
struct DecodedVideo {
    int width = 0, height = 0;
    std::vector<std::vector<std::uint8_t>> frames;
    const std::uint8_t *pixel(std::size_t frame, int x, int y) const {
        return frames[frame].data() + (std::size_t(y) * width + x) * 3;
    }
};

inline DecodedVideo decodeVideo(const fs::path &file) {
    DecodedVideo v;
    const std::string size = probeValue(file, "-select_streams v:0", "stream=width,height");
    std::sscanf(size.c_str(), "%d\n%d", &v.width, &v.height);
    if (v.width <= 0 || v.height <= 0) return v;
    const std::string raw = capture("ffmpeg -v error -i '" + file.string() +
                                    "' -map 0:v:0 -f rawvideo -pix_fmt rgb24 -");
    const std::size_t frameBytes = std::size_t(v.width) * v.height * 3;
    for (std::size_t at = 0; at + frameBytes <= raw.size(); at += frameBytes)
        v.frames.emplace_back(raw.begin() + std::ptrdiff_t(at),
                              raw.begin() + std::ptrdiff_t(at + frameBytes));
    return v;
}

// The first audio stream as mono float samples at 48 kHz.
inline std::vector<float> decodeAudio(const fs::path &file) {
    const std::string raw =
        capture("ffmpeg -v error -i '" + file.string() + "' -map 0:a:0 -ac 1 -ar 48000 -f f32le -");
    std::vector<float> out(raw.size() / 4);
    std::memcpy(out.data(), raw.data(), out.size() * 4);
    return out;
}

inline bool near(const std::uint8_t *rgb, int r, int g, int b, int tolerance) {
    return std::abs(rgb[0] - r) <= tolerance && std::abs(rgb[1] - g) <= tolerance &&
           std::abs(rgb[2] - b) <= tolerance;
}

// A recording of `seconds` at `fps`: every frame a flat colour (green), except white frames
// from each flash time for one frame; the microphone (when asked for) is silent but for a
// loud click at each flash.
struct RecordingPlan {
    std::string id = "rec";
    int width = 160, height = 96, fps = 30;
    double seconds = 2;
    std::vector<double> flashes;
    bool microphone = false;
    std::optional<std::string> edits; // text of "edits.json"; none: no file
    int r = 20, g = 190, b = 40;      // the screen's colour
    bool noise = false; // fresh noise in every frame instead: slow to encode, on purpose
};

inline void writeScreen(const fs::path &file, const RecordingPlan &s) {
    platform::media::MovieWriter::Settings settings;
    settings.width = s.width;
    settings.height = s.height;
    settings.frameDuration = {1, s.fps};
    settings.video = {"libx264", "nv12", {{"preset", "ultrafast"}, {"crf", "10"}}, "", 1};
    auto writer = platform::media::MovieWriter::create(file, settings);
    ASSERT_TRUE(writer) << writer.error().message;
    auto frame = platform::PixelBuffer::create(s.width, s.height, platform::PixelFormat::bgra8);
    const int count = static_cast<int>(std::lround(s.seconds * s.fps));
    for (int i = 0; i < count; ++i) {
        bool flash = false;
        for (double f : s.flashes) flash |= i == static_cast<int>(std::lround(f * s.fps));
        std::uint32_t seed = 2654435761u * std::uint32_t(i + 1);
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x) {
                std::uint8_t *p = frame->row(y) + 4 * x;
                if (s.noise) {
                    seed = seed * 1664525u + 1013904223u;
                    p[0] = std::uint8_t(seed >> 24);
                    p[1] = std::uint8_t(seed >> 16);
                    p[2] = std::uint8_t(seed >> 8);
                    p[3] = 255;
                    continue;
                }
                p[0] = flash ? 255 : std::uint8_t(s.b);
                p[1] = flash ? 255 : std::uint8_t(s.g);
                p[2] = flash ? 255 : std::uint8_t(s.r);
                p[3] = 255;
            }
        ASSERT_TRUE((*writer)->appendVideo(*frame));
    }
    ASSERT_TRUE((*writer)->finish());
}

inline void writeMicrophone(const fs::path &file, const RecordingPlan &s) {
    platform::media::MovieWriter::Settings settings;
    settings.video.codec.clear();
    settings.audio = platform::media::AudioEncoderSettings{"aac", 128000};
    settings.audioChannels = 1;
    auto writer = platform::media::MovieWriter::create(file, settings);
    ASSERT_TRUE(writer) << writer.error().message;
    std::vector<float> sound(static_cast<std::size_t>(s.seconds * 48000), 0.0f);
    for (double f : s.flashes)
        for (int i = 0; i < 480; ++i) {
            const auto at = static_cast<std::size_t>(f * 48000) + i;
            if (at < sound.size()) sound[at] = (i % 8 < 4) ? 0.8f : -0.8f;
        }
    const float *plane = sound.data();
    ASSERT_TRUE((*writer)->appendAudio(&plane, int(sound.size())));
    ASSERT_TRUE((*writer)->finish());
}

inline void makeRecording(const fs::path &dir, const RecordingPlan &s) {
    fs::create_directories(dir);
    writeScreen(dir / "screen.mp4", s);
    if (s.microphone) writeMicrophone(dir / "mic.m4a", s);
    RecordingMeta meta;
    meta.id = s.id;
    meta.createdAtMs = 1700000000000;
    meta.durationMs = static_cast<std::int64_t>(std::lround(s.seconds * 1000));
    meta.sourceName = "Test Screen";
    meta.width = s.width;
    meta.height = s.height;
    meta.hasMicrophone = s.microphone;
    ASSERT_TRUE(meta.write(dir));
    if (s.edits) spit(dir / "edits.json", *s.edits);
}

// Noise takes the encoder seconds, so an export of this is still running well after its first
// progress report.
inline RecordingPlan slowToEncode() {
    RecordingPlan plan;
    plan.width = 640;
    plan.height = 384;
    plan.seconds = 4;
    plan.noise = true;
    return plan;
}

// A white canvas with a 10 % margin: the screen sits inside it, the corners show white.
inline const char *framedEdits =
    R"({"scene":{"backgroundKind":"solid","backgroundColor":"#FFFFFF",)"
    R"("paddingPercent":10,"frameRadius":0,"shadowStrength":0,)"
    R"("cursorSize":0,"clickEffect":"none","showKeystrokes":false,)"
    R"("webcamPosition":"hidden"}})";

// Nothing changed: a passthrough export copies this recording.
inline const char *untouchedEdits =
    R"({"scene":{"paddingPercent":0,"frameRadius":0,"cursorSize":0,"clickEffect":"none",)"
    R"("showKeystrokes":false,"webcamPosition":"hidden"}})";

// Drives an engine on a run loop of the test's thread.
class EngineHarness {
public:
    explicit EngineHarness(const fs::path &library) {
        RecordingStore::setLibraryDirectory(library);
        engine = std::make_unique<ExportEngine>(loop);
        engine->observePhase([this](const ExportEngine::Phase &p) { phases.push_back(p); });
    }
    ~EngineHarness() {
        engine.reset();
        RecordingStore::setLibraryDirectory(std::nullopt);
    }

    // Runs one export to its end (or a minute, which fails the test).
    ExportEngine::Phase run(const std::string &id, ExportPreset preset, const fs::path &out,
                            bool markdown = false,
                            std::function<void(ExportEngine &)> whileExporting = {}) {
        bool done = false;
        loop.post([&] {
            engine->exportRecording(id, preset, out, markdown, [&] {
                done = true;
                loop.stop();
            });
        });
        if (whileExporting) {
            auto callback = std::move(whileExporting);
            const auto id = engine->observePhase([&](const ExportEngine::Phase &p) {
                if (p.is<ExportEngine::Phase::Exporting>() && callback) {
                    auto once = std::move(callback);
                    callback = nullptr;
                    once(*engine);
                }
            });
            loop.runFor(std::chrono::seconds(60));
            engine->removePhaseObserver(id);
        } else {
            loop.runFor(std::chrono::seconds(60));
        }
        EXPECT_TRUE(done) << "the export did not end within a minute";
        return engine->phase();
    }

    platform::RunLoop loop;
    std::unique_ptr<ExportEngine> engine;
    std::vector<ExportEngine::Phase> phases;
};

// Set by the build when the quillvane executable is built alongside.
#ifndef QUILLVANE_BIN
#define QUILLVANE_BIN ""
#endif

// Runs the quillvane command as a user would, in a temporary folder of its own.
class ExportCommand : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(QUILLVANE_BIN).empty()) GTEST_SKIP() << "quillvane is not built";
        if (!haveCommand("ffprobe") || !haveCommand("ffmpeg"))
            GTEST_SKIP() << "the ffprobe and ffmpeg commands are needed to inspect the movies";
    }

    // Runs quillvane with the arguments (a shell fragment); returns the exit status.
    int run(const std::string &args, std::string *output = nullptr, const std::string &env = "") {
        const fs::path log = dir_.path() / "log.txt";
        const std::string cmd =
            env + " " + QUILLVANE_BIN + " " + args + " > '" + log.string() + "' 2>&1 < /dev/null";
        const int rc = std::system(cmd.c_str());
        if (output) *output = slurp(log);
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }

    std::string quoted(const fs::path &p) { return "'" + p.string() + "'"; }

    struct Interrupted {
        bool started = false; // the export reported progress before the signal
        int status = 0;       // as waitpid gives it
        std::string log;      // what it wrote to stdout and stderr
    };
    // Runs `quillvane export <recording> -o <movie>`, sends `signal` the moment its first
    // progress line arrives (its output is a pipe that this reads as it is written; a minute at
    // most), and waits for the process to end.
    Interrupted interruptExport(const fs::path &recording, const fs::path &movie, int signal) {
        Interrupted result;
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0) return result;
        const pid_t child = ::fork();
        if (child < 0) return result;
        if (child == 0) {
            ::dup2(pipeEnds[1], STDOUT_FILENO);
            ::dup2(pipeEnds[1], STDERR_FILENO);
            ::close(pipeEnds[0]);
            ::close(pipeEnds[1]);
            ::execl(QUILLVANE_BIN, QUILLVANE_BIN, "export", recording.c_str(), "-o", movie.c_str(),
                    static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(pipeEnds[1]);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        bool signalled = false;
        for (;;) {
            if (!signalled &&
                (result.started = result.log.find("exporting") != std::string::npos)) {
                ::kill(child, signal);
                signalled = true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd readable{pipeEnds[0], POLLIN, 0};
            if (left.count() <= 0 || ::poll(&readable, 1, int(left.count())) <= 0) break;
            char buf[4096];
            const ssize_t n = ::read(pipeEnds[0], buf, sizeof buf);
            if (n <= 0) break; // the process has ended
            result.log.append(buf, std::size_t(n));
        }
        // Never under way, or stuck: it is killed, and the test sees that it did not cancel.
        if (!signalled || std::chrono::steady_clock::now() >= deadline) ::kill(child, SIGKILL);
        ::close(pipeEnds[0]);
        ::waitpid(child, &result.status, 0);
        return result;
    }

    // No partial file of an export is left in the folder.
    void expectNoPartialFiles(const fs::path &folder) {
        for (const auto &e : fs::directory_iterator(folder))
            EXPECT_EQ(e.path().filename().string().find(".partial"), std::string::npos) << e.path();
    }

    TempDir dir_;
};

} // namespace qv::testing
