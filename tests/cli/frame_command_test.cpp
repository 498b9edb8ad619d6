// `quillvane frame` end to end: a recording folder made with the ffmpeg command-line tool, one
// frame rendered through the compositor, the PNG checked as a picture.
#include "platform/imageio/png.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

class FrameCommand : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v ffmpeg > /dev/null 2>&1") != 0)
            GTEST_SKIP() << "the ffmpeg command is needed to make the test recording";
        dir_ = fs::temp_directory_path() / ("qv-frame-" + std::to_string(std::random_device{}())) /
               "rec1";
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_.parent_path());
    }

    int run(const std::string &args, std::string *output = nullptr) {
        const fs::path log = dir_ / "log.txt";
        const std::string cmd =
            std::string(QUILLVANE_BIN) + " " + args + " > " + log.string() + " 2>&1";
        const int rc = std::system(cmd.c_str());
        if (output) {
            std::ifstream in(log);
            output->assign(std::istreambuf_iterator<char>(in), {});
        }
        return WEXITSTATUS(rc);
    }

    void write(const fs::path &file, const std::string &text) { std::ofstream(file) << text; }

    // Two seconds: pure red for the first, pure blue for the second, 320 × 200.
    void makeRecording() {
        const std::string cmd =
            "ffmpeg -v error -y -f lavfi -i color=c=red:s=320x200:r=30:d=1 -f lavfi -i "
            "color=c=blue:s=320x200:r=30:d=1 -filter_complex concat=n=2:v=1 -pix_fmt yuv420p "
            "-c:v libx264 -qp 0 " +
            (dir_ / "screen.mp4").string();
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        write(dir_ / "meta.json", R"({"formatVersion":1,"id":"rec1","durationMs":2000,)"
                                  R"("width":320,"height":200,"sourceName":"Test"})");
        // A white solid background, 10 % padding and no shadow: the screen sits inside a white
        // margin.
        write(dir_ / "edits.json",
              R"({"scene":{"backgroundKind":"solid","backgroundColor":"#FFFFFF",)"
              R"("paddingPercent":10,"frameRadius":0,"chromeStyle":"none","shadowStrength":0}})");
    }

    fs::path dir_;
};

TEST_F(FrameCommand, RendersTheFrameAtTheRequestedTime) {
    makeRecording();
    for (auto [ms, red, blue] : {std::tuple{500, 255, 0}, std::tuple{1500, 0, 255}}) {
        const fs::path png = dir_ / ("f" + std::to_string(ms) + ".png");
        std::string out;
        ASSERT_EQ(run("frame " + dir_.string() + " --at " + std::to_string(ms) +
                          " --size 320x240 -o " + png.string(),
                      &out),
                  0)
            << out;
        auto image = qv::platform::readPng(png);
        ASSERT_TRUE(image) << image.error().message;
        const auto &pb = *image.value();
        ASSERT_EQ(pb.width(), 320);
        ASSERT_EQ(pb.height(), 240);
        const std::uint8_t *corner = pb.row(2) + 4 * 2;
        EXPECT_EQ(corner[0], 255);
        EXPECT_EQ(corner[1], 255);
        EXPECT_EQ(corner[2], 255);
        const std::uint8_t *centre = pb.row(120) + 4 * 160;
        EXPECT_NEAR(centre[2], red, 12) << "at " << ms << " ms";
        EXPECT_NEAR(centre[0], blue, 12) << "at " << ms << " ms";
        EXPECT_LE(centre[1], 12);
    }
}

TEST_F(FrameCommand, ReportsABrokenEditDocumentByFileAndMember) {
    makeRecording();
    write(dir_ / "edits.json", R"({"scene":{"paddingPercent":"wide"}})");
    std::string out;
    EXPECT_EQ(run("frame " + dir_.string() + " --at 0 -o " + (dir_ / "x.png").string(), &out), 1);
    EXPECT_NE(out.find("edits.json"), std::string::npos) << out;
    EXPECT_NE(out.find("scene.paddingPercent"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir_ / "x.png"));
}

TEST_F(FrameCommand, ReportsAMissingRecordingAndBadOptions) {
    std::string out;
    EXPECT_EQ(run("frame " + (dir_ / "nothing").string() + " --at 0 -o x.png", &out), 1);
    EXPECT_NE(out.find("meta.json"), std::string::npos) << out;
    EXPECT_EQ(run("frame --demo --size 0x10 -o x.png", &out), 2);
    EXPECT_EQ(run("frame --demo", &out), 2);
    EXPECT_NE(out.find("-o"), std::string::npos) << out;
}

TEST_F(FrameCommand, DemoSceneFramesTheScreenOnTheBackground) {
    const fs::path png = dir_ / "demo.png";
    ASSERT_EQ(run("frame --demo --at 0 --size 480x270 -o " + png.string()), 0);
    auto image = qv::platform::readPng(png);
    ASSERT_TRUE(image) << image.error().message;
    const auto &pb = *image.value();
    // The corner is the gradient background, the centre the desktop picture: they differ.
    const std::uint8_t *corner = pb.row(1) + 4;
    const std::uint8_t *centre = pb.row(135) + 4 * 240;
    EXPECT_GT(std::abs(int(corner[0]) - int(centre[0])) + std::abs(int(corner[2]) - int(centre[2])),
              40);
}

} // namespace
