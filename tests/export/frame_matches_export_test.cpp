// `quillvane frame` draws exactly the frame that the export writes at the same output time: the
// same composition, frame source and compositor. The recording changes its picture every frame
// (so a neighbour frame is caught), is full-range YUV (so a range mix-up is caught), and has a
// pointer and clicks (so empty tracks are caught).
#include "export_fixtures.h"

#include "Cutbench/composition_builder.h"
#include "platform/imageio/png.h"
#include "platform/media/composition_frame_source.h"
#include "platform/media/frame_request.h"
#include "platform/media/pixel_buffer_pool.h"

#include <gtest/gtest.h>

#include <map>

namespace qv::testing {
namespace {

namespace media = platform::media;

// Output buffers from a small pool, as the export makes them: reused buffers let the
// compositor redraw only what changed, which must not change the picture.
class PooledContext final : public media::RenderContext {
public:
    PooledContext(int w, int h)
        : w_(w), h_(h), pool_(media::PixelBufferPool::make(w, h, platform::PixelFormat::bgra8, 6)) {
    }
    Size size() const override { return {double(w_), double(h_)}; }
    platform::PixelBufferRef newPixelBuffer() override { return pool_->get(); }

private:
    int w_, h_;
    std::shared_ptr<media::PixelBufferPool> pool_;
};

class FrameMatchesExport : public ExportCommand {
protected:
    // Three seconds at 10 fps, 160 × 96, full-range: frame n is grey n × 8 with a white bar at
    // x = 4n, so neighbouring frames differ everywhere.
    fs::path makeRecording() {
        const fs::path dir = dir_.path() / "rec";
        fs::create_directories(dir);
        const std::string cmd =
            "ffmpeg -v error -y -f lavfi -i \"nullsrc=s=160x96:r=10:d=3,format=yuvj420p,"
            "geq=lum='if(between(X,4*N,4*N+3),255,N*8)':cb=128:cr=128\" -pix_fmt yuvj420p "
            "-c:v libx264 -qp 0 '" +
            (dir / "screen.mp4").string() + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        EXPECT_EQ(probeValue(dir / "screen.mp4", "-select_streams v:0", "stream=pix_fmt"),
                  "yuvj420p");
        spit(dir / "meta.json", R"({"id":"rec","durationMs":3000,"width":160,"height":96,)"
                                R"("sourceName":"Test"})");
        spit(dir / "cursor.json",
             R"({"samples":[{"tMs":0,"x":20,"y":20,"screenW":160,"screenH":96,"displayId":"1"},)"
             R"({"tMs":2500,"x":140,"y":80,"screenW":160,"screenH":96,"displayId":"1"}],)"
             R"("kinds":[]})");
        spit(dir / "clicks.json",
             R"({"clicks":[{"tMs":600,"x":60,"y":40,"screenW":160,"screenH":96,)"
             R"("displayId":"1","button":"left"}]})");
        // A trim, a cut and a speed change, so output and source time differ.
        spit(dir / "edits.json",
             R"({"trimStartMs":200,"cuts":[{"startMs":1000,"endMs":1400}],)"
             R"("speeds":[{"startMs":1800,"endMs":2400,"rate":2}],)"
             R"("scene":{"backgroundKind":"solid","backgroundColor":"#FFFFFF",)"
             R"("paddingPercent":8,"frameRadius":6,"cursorSize":1.5,"clickEffect":"ring"}})");
        return dir;
    }
};

TEST_F(FrameMatchesExport, SamePixelsAtTheSameOutputTime) {
    const fs::path dir = makeRecording();
    // Frame boundaries (every 100 ms), times inside frames, the cut and the end.
    const std::vector<std::int64_t> times = {0, 100, 300, 350, 799, 800, 801, 1200, 1900, 2099};

    // The export's way: every frame in order through one compositor and pooled buffers.
    auto meta = RecordingMeta::read(dir);
    ASSERT_TRUE(meta) << meta.error().message;
    auto edits = Edits::readFromRecording(dir);
    ASSERT_TRUE(edits && edits->has_value());
    const auto built = CompositionBuilder::buildNow(dir, *meta, **edits);
    ASSERT_TRUE(std::holds_alternative<EditorComposition>(built));
    const EditorComposition &c = std::get<EditorComposition>(built);
    auto source = media::CompositionFrameSource::open(*c.asset, *c.videoComposition);
    ASSERT_TRUE(source) << source.error().message;
    const int W = int(c.videoComposition->renderSize.width),
              H = int(c.videoComposition->renderSize.height);
    auto compositor = c.videoComposition->customVideoCompositor();
    auto context = std::make_shared<PooledContext>(W, H);
    std::map<std::int64_t, std::vector<std::uint8_t>> exported;
    for (std::int64_t i = 0; i < (*source)->frameCount(); ++i) {
        auto frame = (*source)->frame(i);
        ASSERT_TRUE(frame) << frame.error().message;
        auto request = std::make_shared<media::FrameRequest>(frame->time, frame->instruction,
                                                             context, frame->sources);
        compositor->startRequest(request);
        auto outcome = request->wait();
        ASSERT_TRUE(std::holds_alternative<platform::PixelBufferRef>(outcome));
        const auto &pb = *std::get<platform::PixelBufferRef>(outcome);
        std::vector<std::uint8_t> pixels;
        for (int y = 0; y < H; ++y) pixels.insert(pixels.end(), pb.row(y), pb.row(y) + 4 * W);
        exported[i] = std::move(pixels);
    }

    const DecodedVideo movie = [&] {
        const fs::path out = dir_.path() / "movie.mp4";
        std::string log;
        EXPECT_EQ(run("export " + quoted(dir) + " --preset compact -o " + quoted(out), &log), 0)
            << log;
        return decodeVideo(out);
    }();
    ASSERT_EQ(movie.width, W);
    ASSERT_EQ(std::int64_t(movie.frames.size()), (*source)->frameCount());

    for (std::int64_t ms : times) {
        SCOPED_TRACE("--at " + std::to_string(ms));
        const std::int64_t index = ms / 100; // 10 fps: frame i starts at 100 i ms
        EXPECT_EQ((*source)->frameIndexAt(ms), index);
        const fs::path png = dir_.path() / ("at" + std::to_string(ms) + ".png");
        std::string log;
        ASSERT_EQ(run("frame " + quoted(dir) + " --at " + std::to_string(ms) + " -o " + quoted(png),
                      &log),
                  0)
            << log;
        auto still = platform::readPng(png);
        ASSERT_TRUE(still) << still.error().message;
        const auto &pb = **still;
        ASSERT_EQ(pb.width(), W);
        ASSERT_EQ(pb.height(), H);
        const std::vector<std::uint8_t> &expected = exported.at(index);
        int differing = 0;
        for (int y = 0; y < H; ++y)
            differing +=
                std::memcmp(pb.row(y), expected.data() + std::size_t(y) * 4 * W, 4 * W) ? 1 : 0;
        EXPECT_EQ(differing, 0) << "rows that differ from the exported frame " << index;
        // And the movie's frame is that picture, give or take the encoder.
        double error = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const std::uint8_t *bgra = pb.row(y) + 4 * x;
                const std::uint8_t *rgb = movie.pixel(std::size_t(index), x, y);
                error += std::abs(bgra[2] - rgb[0]) + std::abs(bgra[1] - rgb[1]) +
                         std::abs(bgra[0] - rgb[2]);
            }
        EXPECT_LT(error / (3.0 * W * H), 4.0) << "mean difference from the movie's frame";
    }
}

// Full-range YUV keeps its full range: a dark and a light grey read back as the reference
// decoder shows them, not stretched again as if they were limited range (which moves them by
// more than ten levels).
TEST_F(FrameMatchesExport, FullRangeSourceKeepsItsLevels) {
    const fs::path dir = makeRecording();
    spit(dir / "edits.json", R"({"scene":{"paddingPercent":0,"frameRadius":0,"cursorSize":0,)"
                             R"("clickEffect":"none","shadowStrength":0}})");
    const DecodedVideo reference = decodeVideo(dir / "screen.mp4");
    ASSERT_EQ(reference.frames.size(), 30u);
    for (int n : {5, 27}) {
        const fs::path png = dir_.path() / ("grey" + std::to_string(n) + ".png");
        std::string log;
        ASSERT_EQ(
            run("frame " + quoted(dir) + " --at " + std::to_string(n * 100) + " -o " + quoted(png),
                &log),
            0)
            << log;
        auto still = platform::readPng(png);
        ASSERT_TRUE(still) << still.error().message;
        ASSERT_EQ((*still)->width(), 160);
        // Right of the bar, in the middle of the frame.
        const int x = 4 * n + 20 < 150 ? 4 * n + 20 : 40;
        const int expected = reference.pixel(std::size_t(n), x, 48)[0];
        const double misread = (expected - 16) * 255.0 / 219.0;
        ASSERT_GT(std::abs(misread - expected), 10) << "the grey does not tell the ranges apart";
        const std::uint8_t *p = (*still)->row(48) + 4 * x;
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(p[c], expected, 3) << "frame " << n;
    }
}

} // namespace
} // namespace qv::testing
