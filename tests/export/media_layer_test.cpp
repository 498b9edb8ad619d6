// The media layer under the engine: the export session's contract, the writer, the sequential
// frame source and the audio timeline.
#include "platform/media/audio_timeline.h"
#include "platform/media/export_session.h"
#include "platform/media/movie_writer.h"
#include "platform/media/video_source.h"

#include "export_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <set>

namespace qv::platform::media {
namespace {

using testing::TempDir;

// Frame i of this video is a flat grey of level 8 × i (i < 30), so a pixel names its frame.
void writeCountingVideo(const std::filesystem::path &file, int frames, int fps = 30) {
    MovieWriter::Settings s;
    s.width = 64;
    s.height = 32;
    s.frameDuration = {1, fps};
    s.video = {"libx264", "nv12", {{"preset", "ultrafast"}, {"qp", "0"}}, "", 1};
    auto writer = MovieWriter::create(file, s);
    ASSERT_TRUE(writer) << writer.error().message;
    auto frame = PixelBuffer::create(64, 32, PixelFormat::bgra8);
    for (int i = 0; i < frames; ++i) {
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 64; ++x) {
                std::uint8_t *p = frame->row(y) + 4 * x;
                p[0] = p[1] = p[2] = std::uint8_t(8 * (i % 30));
                p[3] = 255;
            }
        ASSERT_TRUE((*writer)->appendVideo(*frame));
    }
    ASSERT_TRUE((*writer)->finish());
}

int frameIndex(const PixelBuffer &pb) {
    return int(std::lround(pb.row(16)[4 * 32 + 1] / 8.0));
}

TEST(MovieWriter, FramesMaySkipNumbersAndTheEarlierPictureShowsThere) {
    // A live capture that missed frames 1, 3 and 4 writes 0, 2 and 5.
    TempDir dir;
    MovieWriter::Settings s;
    s.width = 64;
    s.height = 32;
    s.frameDuration = {1, 30};
    s.video = {"libx264", "nv12", {{"preset", "ultrafast"}, {"qp", "0"}}, "", 1};
    auto writer = MovieWriter::create(dir.path() / "gaps.mp4", s);
    ASSERT_TRUE(writer) << writer.error().message;
    auto frame = PixelBuffer::create(64, 32, PixelFormat::bgra8);
    for (int i : {0, 2, 5}) {
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 64; ++x) {
                std::uint8_t *p = frame->row(y) + 4 * x;
                p[0] = p[1] = p[2] = std::uint8_t(8 * i);
                p[3] = 255;
            }
        ASSERT_TRUE((*writer)->appendVideo(*frame, i));
    }
    EXPECT_EQ((*writer)->videoFrameCount(), 6);
    const auto back = (*writer)->appendVideo(*frame, 4);
    ASSERT_FALSE(back);
    EXPECT_NE(back.error().message.find("frame 4 comes after frame 5"), std::string::npos)
        << back.error().message;
    ASSERT_TRUE((*writer)->finish());

    auto source = SequentialVideoSource::open(dir.path() / "gaps.mp4");
    ASSERT_TRUE(source) << source.error().message;
    const std::pair<std::int64_t, int> cases[] = {{0, 0},   {40, 0},  {70, 2},
                                                  {120, 2}, {170, 5}, {1000, 5}};
    for (auto [ms, shown] : cases) {
        auto f = (*source)->frameAt(ms);
        ASSERT_TRUE(f) << f.error().message;
        EXPECT_EQ(frameIndex(*f.value()), shown) << ms << " ms";
    }
}

TEST(SequentialVideoSource, HandsOutTheFrameOnScreenDuringEachMillisecond) {
    TempDir dir;
    writeCountingVideo(dir.path() / "v.mp4", 30);
    auto source = SequentialVideoSource::open(dir.path() / "v.mp4");
    ASSERT_TRUE(source) << source.error().message;
    EXPECT_EQ((*source)->size(), (Size{64, 32}));
    // Frame 1 starts at 33.3 ms: it is the frame of millisecond 33.
    const std::pair<std::int64_t, int> cases[] = {{0, 0},    {32, 0},   {33, 1},   {66, 2},
                                                  {500, 15}, {999, 29}, {5000, 29}};
    for (auto [ms, frame] : cases) {
        auto f = (*source)->frameAt(ms);
        ASSERT_TRUE(f) << f.error().message;
        EXPECT_NEAR(frameIndex(*f.value()), frame, 0) << ms << " ms";
    }
    // The same frame twice is the same buffer.
    auto a = (*source)->frameAt(6000), b = (*source)->frameAt(6001);
    EXPECT_EQ(a.value(), b.value());
}

TEST(SequentialVideoSource, JumpsAheadAcrossLongGaps) {
    TempDir dir;
    writeCountingVideo(dir.path() / "v.mp4", 300); // 10 s, a key frame every 250 frames at most
    auto source = SequentialVideoSource::open(dir.path() / "v.mp4");
    ASSERT_TRUE(source);
    for (auto [ms, frame] : {std::pair{100, 3}, {9000, 270 % 30}, {9900, 297 % 30}}) {
        auto f = (*source)->frameAt(ms);
        ASSERT_TRUE(f) << f.error().message;
        EXPECT_EQ(frameIndex(*f.value()), frame) << ms << " ms";
    }
}

// A fixed pattern with a block moving across it; with `lineage`, each frame names what changed
// since the one before, as the compositor does.
std::vector<PixelBufferRef> movingBlock(int frames, bool lineage) {
    std::vector<PixelBufferRef> out;
    for (int i = 0; i < frames; ++i) {
        auto pb = PixelBuffer::create(64, 32, PixelFormat::bgra8);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 64; ++x) {
                std::uint8_t *p = pb->row(y) + 4 * x;
                const bool block = x >= 3 * i && x < 3 * i + 10 && y >= 9 && y < 19;
                p[0] = std::uint8_t(block ? 240 : 4 * x), p[1] = std::uint8_t(block ? 30 : 7 * y);
                p[2] = std::uint8_t(block ? 90 : 100), p[3] = 255;
            }
        if (lineage) {
            auto l = std::make_shared<FrameLineage>();
            l->id = FrameLineage::newId();
            if (!out.empty()) {
                l->parent = out.back()->lineage()->id;
                l->changed.assign(32, {});
                for (int y = 9; y < 19; ++y) l->changed[y].add({3 * (i - 1), 3 * i + 10});
            }
            pb->setLineage(l);
        }
        out.push_back(pb);
    }
    return out;
}

void writeLossless(const std::filesystem::path &file, const std::vector<PixelBufferRef> &frames) {
    MovieWriter::Settings s;
    s.width = 64;
    s.height = 32;
    s.frameDuration = {1, 30};
    s.video = {"libx264", "nv12", {{"preset", "ultrafast"}, {"qp", "0"}}, "", 1};
    auto writer = MovieWriter::create(file, s);
    ASSERT_TRUE(writer) << writer.error().message;
    for (const auto &f : frames) ASSERT_TRUE((*writer)->appendVideo(*f));
    ASSERT_TRUE((*writer)->finish());
}

// Every frame of a 30 fps movie; `hold` keeps them all, so that none can be reused.
std::vector<std::vector<std::uint8_t>> decodeAll(const std::filesystem::path &file, int frames,
                                                 bool hold,
                                                 std::vector<FrameLineageRef> *lineages = nullptr,
                                                 std::set<const PixelBuffer *> *buffers = nullptr) {
    auto source = SequentialVideoSource::open(file);
    EXPECT_TRUE(source);
    std::vector<std::vector<std::uint8_t>> pixels;
    std::vector<PixelBufferRef> held;
    for (int i = 0; i < frames && source; ++i) {
        auto f = (*source)->frameAt(i * 1000 / 30 + 1);
        EXPECT_TRUE(f);
        if (!f) break;
        const PixelBuffer &pb = *f.value();
        std::vector<std::uint8_t> copy;
        for (int y = 0; y < pb.height(); ++y)
            copy.insert(copy.end(), pb.row(y), pb.row(y) + 4 * pb.width());
        pixels.push_back(std::move(copy));
        if (lineages) lineages->push_back(pb.lineage());
        if (buffers) buffers->insert(&pb);
        if (hold) held.push_back(f.value());
    }
    return pixels;
}

TEST(FrameLineage, WriterAndSourceRedoOnlyWhatChangedWithTheSameResult) {
    TempDir dir;
    const int n = 12;
    writeLossless(dir.path() / "partial.mp4", movingBlock(n, true));
    writeLossless(dir.path() / "whole.mp4", movingBlock(n, false));
    // The writer converted only the changed spans of the frames with a lineage.
    const auto whole = decodeAll(dir.path() / "whole.mp4", n, true);
    EXPECT_EQ(decodeAll(dir.path() / "partial.mp4", n, true), whole);

    // The source draws over buffers it gets back and says what changed between frames.
    std::vector<FrameLineageRef> lineages;
    std::set<const PixelBuffer *> buffers;
    const auto reused = decodeAll(dir.path() / "whole.mp4", n, false, &lineages, &buffers);
    ASSERT_EQ(reused.size(), whole.size());
    EXPECT_LT(buffers.size(), 4u); // buffers came back and were drawn over
    EXPECT_EQ(reused, whole);
    for (int i = 1; i < n; ++i) {
        ASSERT_TRUE(lineages[i] && lineages[i - 1]);
        EXPECT_EQ(lineages[i]->parent, lineages[i - 1]->id) << "frame " << i;
        ASSERT_EQ(lineages[i]->changed.size(), 32u);
        for (int y = 0; y < 32; ++y) {
            const RowChanges &r = lineages[i]->changed[y];
            for (int x = 0; x < 64; ++x) {
                if (std::any_of(r.begin(), r.end(),
                                [x](RowSpan s) { return x >= s.begin && x < s.end; }))
                    continue;
                const std::size_t at = 4 * std::size_t(64 * y + x);
                ASSERT_EQ(std::memcmp(&whole[i][at], &whole[i - 1][at], 4), 0)
                    << "frame " << i << " (" << x << ", " << y << ") changed outside its span";
            }
        }
        // The rows away from the block are unchanged and said to be so.
        EXPECT_TRUE(lineages[i]->changed[0].empty() && lineages[i]->changed[31].empty());
    }
}

TEST(MovieWriter, RefusesBadSizesAndLeavesNothingWhenAbandoned) {
    TempDir dir;
    MovieWriter::Settings s;
    s.width = 63;
    s.height = 32;
    s.video = {"libx264", "nv12", {}, "", 1};
    auto odd = MovieWriter::create(dir.path() / "a.mp4", s);
    ASSERT_FALSE(odd);
    EXPECT_NE(odd.error().message.find("even"), std::string::npos);
    s.width = 64;
    s.video.options = {{"no-such-option", "1"}};
    auto badOption = MovieWriter::create(dir.path() / "a.mp4", s);
    ASSERT_FALSE(badOption);
    EXPECT_NE(badOption.error().message.find("no-such-option"), std::string::npos);
    s.video.options.clear();
    {
        auto writer = MovieWriter::create(dir.path() / "a.mp4", s);
        ASSERT_TRUE(writer);
        auto wrong = PixelBuffer::create(32, 32, PixelFormat::bgra8);
        EXPECT_FALSE((*writer)->appendVideo(*wrong));
        EXPECT_FALSE((*writer)->finish()) << "no frames";
    }
    int entries = 0;
    for ([[maybe_unused]] auto &e : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 0);
    auto missingFolder = MovieWriter::create(dir.path() / "nope" / "a.mp4", s);
    ASSERT_FALSE(missingFolder);
    EXPECT_NE(missingFolder.error().message.find("nope"), std::string::npos);
}

TEST(AudioTimeline, CutsAndSpeedsKeepTheirTimelineLength) {
    TempDir dir;
    testing::RecordingPlan plan;
    plan.seconds = 3;
    plan.flashes = {0.5, 2.5}; // clicks
    testing::writeMicrophone(dir.path() / "m.m4a", plan);
    CompositionTrack track{3,
                           MediaType::audio,
                           dir.path() / "m.m4a",
                           // [0, 1000) plain, then [2000, 3000) twice as fast.
                           {{0, 1000, 1, 0, 1000}, {2000, 3000, 2, 1000, 500}}};
    auto timeline = AudioTimeline::open(track, 48000);
    ASSERT_TRUE(timeline) << timeline.error().message;
    EXPECT_EQ((*timeline)->channels(), 1);
    std::vector<float> sound(72000 + 4800);
    float *plane = sound.data();
    ASSERT_TRUE((*timeline)->read(&plane, int(sound.size())));
    auto onset = [&](std::size_t from) {
        for (std::size_t i = from; i < sound.size(); ++i)
            if (std::abs(sound[i]) > 0.25f) return double(i) / 48000;
        return -1.0;
    };
    EXPECT_NEAR(onset(0), 0.5, 0.005);
    EXPECT_NEAR(onset(48000), 1.25, 0.005); // 2.5 s of source, half a second into the fast part
    // After the timeline's 1.5 s: silence.
    for (std::size_t i = 72000; i < sound.size(); ++i) ASSERT_EQ(sound[i], 0.0f) << i;
}

// Reading from a point the timeline sought to gives the samples that reading through from the
// start gives there: in a plain segment, in a fast one, before the first segment's sound and
// after the last segment, going forwards and backwards.
TEST(AudioTimeline, SeekingGivesWhatReadingThroughGives) {
    TempDir dir;
    testing::RecordingPlan plan;
    plan.seconds = 20;
    plan.flashes = {3.0, 9.0, 12.0, 17.5};
    testing::writeMicrophone(dir.path() / "m.m4a", plan);
    // [0, 6000) plain; then [10000, 20000) twice as fast, at 6000 on the timeline.
    CompositionTrack track{3,
                           MediaType::audio,
                           dir.path() / "m.m4a",
                           {{0, 6000, 1, 0, 6000}, {10000, 20000, 2, 6000, 5000}}};
    constexpr int rate = 48000;
    std::vector<float> whole(std::size_t(12 * rate));
    {
        auto timeline = AudioTimeline::open(track, rate);
        ASSERT_TRUE(timeline) << timeline.error().message;
        float *plane = whole.data();
        ASSERT_TRUE((*timeline)->read(&plane, int(whole.size())));
    }
    auto timeline = AudioTimeline::open(track, rate);
    ASSERT_TRUE(timeline) << timeline.error().message;
    // 2.9 s: plain, over the flash at 3 s; 9.6 s: fast, over the flash at 17.5 s of source;
    // 5.9 s: back, across the cut; 10.9 s: past the last segment (silence); 0.1 s: back to the
    // start; 6.9 s: fast, over the flash at 12 s of source.
    for (const double at : {2.9, 9.6, 5.9, 10.9, 0.1, 6.9}) {
        const auto from = std::size_t(at * rate);
        ASSERT_TRUE((*timeline)->seek(std::int64_t(from)));
        std::vector<float> got(rate / 2);
        float *plane = got.data();
        ASSERT_TRUE((*timeline)->read(&plane, int(got.size())));
        float worst = 0;
        for (std::size_t i = 0; i < got.size(); ++i)
            worst = std::max(worst, std::abs(got[i] - whole[from + i]));
        EXPECT_LT(worst, 1e-3f) << "after seeking to " << at << " s";
    }
    // The flashes are there to be compared: the reference is not silence where they sound.
    for (const double flash : {3.0, 7.0, 9.75})
        EXPECT_GT(*std::max_element(whole.begin() + std::ptrdiff_t(flash * rate),
                                    whole.begin() + std::ptrdiff_t(flash * rate) + 480),
                  0.25f)
            << flash;
}

ExportPresetSettings copySettings() {
    return {"Passthrough", true, {}, {}};
}

ExportPresetSettings encodeSettings() {
    return {"Quick", false, {"libx264", "nv12", {{"preset", "ultrafast"}}, "", 0}, {"aac", 128000}};
}

std::shared_ptr<Asset> screenAsset(const std::filesystem::path &file, std::int64_t durationMs) {
    auto asset = std::make_shared<Asset>();
    asset->durationMs = durationMs;
    asset->tracks.push_back({1, MediaType::video, file, {}});
    return asset;
}

TEST(AssetExportSession, CreationExportOnceStatesAndFailures) {
    TempDir dir;
    writeCountingVideo(dir.path() / "v.mp4", 30);
    auto asset = screenAsset(dir.path() / "v.mp4", 1000);
    // Settings whose encoders this machine lacks.
    ExportPresetSettings missing{"Fastest", false, {"libnothing", "nv12", {}, "", 0}, {"aac", 1}};
    EXPECT_FALSE(AssetExportSession::make(asset, missing));
    EXPECT_FALSE(AssetExportSession::make(std::make_shared<Asset>(), copySettings()));
    EXPECT_FALSE(AssetExportSession::make(nullptr, copySettings()));

    // The loop outlives the session, whose thread may still be posting to it when the result is
    // seen.
    RunLoop loop;
    auto session = AssetExportSession::make(asset, copySettings());
    ASSERT_TRUE(session);
    EXPECT_EQ(session->status(), AssetExportSession::Status::unknown);
    std::vector<AssetExportSession::State> states;
    auto task = session->states(loop, std::chrono::milliseconds(5),
                                [&](const AssetExportSession::State &s) { states.push_back(s); });
    std::optional<std::optional<MediaError>> result;
    session->exportAsynchronously(dir.path() / "copy.mp4", FileType::mpeg4,
                                  [&](std::optional<MediaError> e) {
                                      loop.post([&, e] {
                                          result = e;
                                          loop.stop();
                                      });
                                  });
    loop.runFor(std::chrono::seconds(30));
    ASSERT_TRUE(result);
    EXPECT_FALSE(*result) << (*result)->localizedDescription;
    EXPECT_EQ(session->status(), AssetExportSession::Status::completed);
    EXPECT_DOUBLE_EQ(session->progress(), 1.0);
    // The state sequence ends with the export: the task finishes (its last report may still be
    // on the loop) and no state comes after it.
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         !task->isFinished() && std::chrono::steady_clock::now() < deadline;)
        loop.runFor(std::chrono::milliseconds(5));
    EXPECT_TRUE(task->isFinished());
    const std::size_t seen = states.size();
    loop.runFor(std::chrono::milliseconds(30));
    EXPECT_EQ(states.size(), seen);
    for (const auto &s : states) EXPECT_NE(s.kind, AssetExportSession::State::Kind::pending);

    // A session exports once.
    std::promise<std::optional<MediaError>> again;
    session->exportAsynchronously(dir.path() / "again.mp4", FileType::mpeg4,
                                  [&](std::optional<MediaError> e) { again.set_value(e); });
    const auto second = again.get_future().get();
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->isCancellation());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "again.mp4"));
}

std::optional<MediaError> exportNow(const std::shared_ptr<AssetExportSession> &session,
                                    const std::filesystem::path &url) {
    std::promise<std::optional<MediaError>> done;
    session->exportAsynchronously(url, FileType::mpeg4,
                                  [&](std::optional<MediaError> e) { done.set_value(e); });
    return done.get_future().get();
}

TEST(AssetExportSession, ReadableFailures) {
    TempDir dir;
    writeCountingVideo(dir.path() / "v.mp4", 30);
    // Passthrough cannot copy an edited track.
    auto edited = screenAsset(dir.path() / "v.mp4", 500);
    edited->tracks[0].segments = {{500, 1000, 1, 0, 500}};
    auto e = exportNow(AssetExportSession::make(edited, copySettings()), dir.path() / "a.mp4");
    ASSERT_TRUE(e);
    EXPECT_NE(e->localizedDescription.find("v.mp4"), std::string::npos) << e->localizedDescription;
    // A composing preset without a video composition.
    e = exportNow(
        AssetExportSession::make(screenAsset(dir.path() / "v.mp4", 1000), encodeSettings()),
        dir.path() / "b.mp4");
    ASSERT_TRUE(e);
    EXPECT_NE(e->localizedDescription.find("video composition"), std::string::npos);
    // A folder that does not exist.
    e = exportNow(AssetExportSession::make(screenAsset(dir.path() / "v.mp4", 1000), copySettings()),
                  dir.path() / "missing" / "c.mp4");
    ASSERT_TRUE(e);
    EXPECT_NE(e->localizedDescription.find("missing"), std::string::npos);
    // Cancelled before it starts: a cancellation, and no file.
    auto session =
        AssetExportSession::make(screenAsset(dir.path() / "v.mp4", 1000), copySettings());
    session->cancelExport();
    e = exportNow(session, dir.path() / "d.mp4");
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->isCancellation());
    EXPECT_EQ(session->status(), AssetExportSession::Status::cancelled);
    for (const char *name : {"a.mp4", "b.mp4", "d.mp4"})
        EXPECT_FALSE(std::filesystem::exists(dir.path() / name)) << name;
}

} // namespace
} // namespace qv::platform::media
