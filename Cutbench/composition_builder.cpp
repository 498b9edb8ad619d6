#include "Cutbench/composition_builder.h"

#include "Compositor/engine/metal_video_compositor.h"
#include "Compositor/engine/scene_instruction.h"
#include "Handtrace/track_files.h"
#include "interfaces/persistence/segment_map.h"
#include "interfaces/persistence/window_crop.h"
#include "platform/core/document_file.h"
#include "platform/core/log.h"
#include "platform/media/media_probe.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace CompositionBuilder {

namespace {

namespace media = platform::media;

platform::Logger &log() {
    static platform::Logger l("com.quillvane.cutbench", "builder");
    return l;
}

// Context each instruction keeps around its segment's source range: pointer smoothing, click
// effects and the key badge look back, and cursor kinds stay in force until the next change.
constexpr std::int64_t lookBackMs = 10000;
constexpr std::int64_t lookAheadMs = 1000;

double fraction(double value, double recordedSize, double fallback) {
    const double size = recordedSize > 0 ? recordedSize : fallback;
    return size > 0 ? value / size : 0;
}

template <class T> void sortByTime(std::vector<T> &v) {
    std::stable_sort(v.begin(), v.end(), [](const T &a, const T &b) { return a.tMs < b.tMs; });
}

// The samples within [from, to] plus the last one before `from`, which is still in force there.
template <class T>
std::vector<T> window(const std::vector<T> &all, std::int64_t from, std::int64_t to) {
    auto first = std::lower_bound(all.begin(), all.end(), from,
                                  [](const T &s, std::int64_t t) { return s.tMs < t; });
    if (first != all.begin()) --first;
    auto last = std::upper_bound(first, all.end(), to,
                                 [](std::int64_t t, const T &s) { return t < s.tMs; });
    return {first, last};
}

struct Tracks {
    std::vector<CursorSample> cursorPath;
    std::vector<CursorKindSample> cursorKinds;
    std::vector<CursorSample> clicks;
    std::vector<KeyChord> keyChords;
};

// Track positions are recorded over the whole capture. A window recording's screen is the
// window itself, so each position moves into the window as it lay at that moment: unscaled from
// its top-left corner when the canvas keeps the largest window ("maxObserved"), stretched with
// the window otherwise, exactly as the window's pixels are placed.
CursorSample intoWindow(CursorSample s, const WindowCrop &crop, Size screen) {
    const WindowCrop::Sample w = crop.sample(s.tMs);
    const double x = s.x * crop.captureWidth - w.x, y = s.y * crop.captureHeight - w.y;
    if (crop.isMaxObserved()) {
        s.x = fraction(x, screen.width, 0);
        s.y = fraction(y, screen.height, 0);
    } else {
        s.x = fraction(x, w.width, 0);
        s.y = fraction(y, w.height, 0);
    }
    return s;
}

// A track file that exists but cannot be read fails the build, naming the file and the problem:
// a movie silently without its pointer, clicks or keys would look like a finished export.
Result<Tracks> readTracks(const std::filesystem::path &dir, const RecordingMeta &meta,
                          const WindowCrop *crop, Size screen) {
    Tracks t;
    const double w = meta.width, h = meta.height;
    auto place = [&](CursorSample s) { return crop ? intoWindow(s, *crop, screen) : s; };
    auto cursor = CursorFile::load(dir);
    if (!cursor) return cursor.error();
    for (const auto &s : cursor->samples)
        t.cursorPath.push_back(
            place({s.tMs, fraction(s.x, s.screenW, w), fraction(s.y, s.screenH, h)}));
    for (const auto &k : cursor->kinds) t.cursorKinds.push_back({k.tMs, k.kind});
    auto clicks = ClicksFile::load(dir);
    if (!clicks) return clicks.error();
    for (const auto &c : clicks->clicks)
        t.clicks.push_back(
            place({c.tMs, fraction(c.x, c.screenW, w), fraction(c.y, c.screenH, h)}));
    auto keys = KeysFile::load(dir);
    if (!keys) return keys.error();
    for (const auto &k : keys->keys) t.keyChords.push_back({k.tMs, k.chord});
    sortByTime(t.cursorPath);
    sortByTime(t.cursorKinds);
    sortByTime(t.clicks);
    sortByTime(t.keyChords);
    return t;
}

// The metadata's length, unless it claims more than the screen video holds: the frames past the
// video's end would all repeat its last picture (and a wild value would never finish), so the
// video's own length wins, with a notice in the log.
std::int64_t sourceDuration(const RecordingMeta &meta, const std::filesystem::path &screenFile,
                            const media::VideoStreamInfo &screen) {
    // Far beyond any recording, and small enough that no time sum can overflow.
    constexpr double longestSeconds = 1e9;
    const double seconds = std::isfinite(screen.durationSeconds) && screen.durationSeconds > 0
                               ? std::min(screen.durationSeconds, longestSeconds)
                               : 0.0;
    const auto videoMs = static_cast<std::int64_t>(std::llround(seconds * 1000));
    if (meta.durationMs <= 0) return videoMs;
    // The two lengths may differ by a frame or so; only a real excess counts.
    const std::int64_t toleranceMs = std::max<std::int64_t>(
        100,
        static_cast<std::int64_t>(std::ceil(std::min(2000 * screen.frameDuration.seconds(), 1e6))));
    if (videoMs > 0 && meta.durationMs - toleranceMs > videoMs) {
        log().notice("%s: durationMs %lld is longer than the screen video %s (%lld ms); the "
                     "video's length is used",
                     RecordingMeta::fileName, static_cast<long long>(meta.durationMs),
                     screenFile.c_str(), static_cast<long long>(videoMs));
        return videoMs;
    }
    return meta.durationMs;
}

} // namespace

Size renderSize(Size source) {
    double w = source.width, h = source.height;
    if (!(w >= 1 && h >= 1) || !std::isfinite(w) || !std::isfinite(h)) return {2, 2};
    const double longest = std::max(w, h), shortest = std::min(w, h);
    const double scale = std::min({1.0, 3840.0 / longest, 2160.0 / shortest});
    auto even = [](double v) { return std::max(2.0, 2 * std::floor(v / 2)); };
    return {even(std::floor(w * scale)), even(std::floor(h * scale))};
}

std::vector<Edits::Zoom> centredZooms(const std::vector<Edits::Zoom> &zooms,
                                      const std::vector<CursorSample> &path) {
    std::vector<Edits::Zoom> out = zooms;
    for (Edits::Zoom &z : out) {
        if (z.source != 0 || path.empty()) continue;
        const std::int64_t start = z.startMs,
                           end = z.startMs + std::max<std::int64_t>(z.durationMs, 0);
        // The position in force at `start`: the last sample at or before it.
        auto it = std::upper_bound(path.begin(), path.end(), start,
                                   [](std::int64_t t, const CursorSample &s) { return t < s.tMs; });
        if (end <= start) {
            if (it != path.begin()) {
                z.centerX = std::prev(it)->x;
                z.centerY = std::prev(it)->y;
            }
            continue;
        }
        double sx = 0, sy = 0, weight = 0;
        std::int64_t t = start;
        std::optional<CursorSample> current;
        if (it != path.begin()) current = *std::prev(it);
        for (; it != path.end() && it->tMs < end; ++it) {
            if (current) {
                const double dt = double(it->tMs - t);
                sx += current->x * dt;
                sy += current->y * dt;
                weight += dt;
            }
            current = *it;
            t = it->tMs;
        }
        if (!current) continue; // no sample up to the zoom's end
        const double dt = double(end - t);
        sx += current->x * dt;
        sy += current->y * dt;
        weight += dt;
        if (weight > 0) {
            z.centerX = sx / weight;
            z.centerY = sy / weight;
        }
    }
    return out;
}

Outcome buildNow(const std::filesystem::path &dir, const RecordingMeta &meta, const Edits &edits,
                 const media::CancellationFlag &cancelled, std::optional<Size> requestedCanvas) {
    auto failure = [](std::string message) {
        return media::MediaError::failure(std::move(message));
    };
    if (cancelled.isCancelled()) return media::MediaError::cancellation();

    // The media must be the folder's own regular files: a link out of the folder, a FIFO or a
    // device is refused before anything opens it.
    auto ownFile = [&dir](const char *name) -> Result<std::filesystem::path> {
        const std::filesystem::path file = dir / name;
        if (auto ok = platform::checkRecordingFile(dir, file); !ok) return ok.error();
        return file;
    };
    auto screenPath = ownFile(RecordingFiles::screen);
    if (!screenPath) return failure(screenPath.error().message);
    const std::filesystem::path screenFile = *screenPath;
    auto screen = media::probeVideo(screenFile);
    if (!screen) return failure(screen.error().message);
    std::optional<std::filesystem::path> webcamFile, micFile;
    // The metadata says these were recorded: a missing or unreadable file is an error rather
    // than a movie that silently lacks them.
    if (meta.hasWebcam) {
        auto file = ownFile(RecordingFiles::webcam);
        if (!file) return failure(file.error().message);
        webcamFile = *file;
        if (auto probe = media::probeVideo(*webcamFile); !probe)
            return failure(probe.error().message);
    }
    if (meta.hasMicrophone) {
        auto file = ownFile(RecordingFiles::microphone);
        if (!file) return failure(file.error().message);
        micFile = *file;
        if (auto probe = media::probeAudio(*micFile); !probe) return failure(probe.error().message);
    }
    if (cancelled.isCancelled()) return media::MediaError::cancellation();

    const std::int64_t sourceDurationMs = sourceDuration(meta, screenFile, *screen);
    const SegmentMap segmentMap = SegmentMap::make(edits, sourceDurationMs);
    const std::int64_t timelineMs = segmentMap.timelineDurationMs();
    if (timelineMs <= 0)
        return failure(
            "Nothing is left to export: the edits trim or cut away the whole recording.");

    // A window recording drawn without its crop would show the whole capture: a crop file that
    // the metadata names must be there and decode.
    std::optional<WindowCrop> crop;
    if (meta.windowCropFile) {
        auto loaded = WindowCrop::load(dir, *meta.windowCropFile);
        if (!loaded) return failure(loaded.error().message);
        crop = std::move(loaded).value();
    }
    // The screen of a window recording is the window at its canonical size, so that a live
    // window of that size fills the frame at its own aspect ratio; the capture's size only
    // matters for sampling its pixels.
    Size screenSize = screen->size;
    if (crop)
        if (auto canonical = crop->canonicalSize();
            canonical && canonical->width >= 1 && canonical->height >= 1)
            screenSize = *canonical;
    const Size canvas = requestedCanvas.value_or(renderSize(screenSize));

    auto readTracksResult = readTracks(dir, meta, crop ? &*crop : nullptr, screenSize);
    if (!readTracksResult) return failure(readTracksResult.error().message);
    Tracks tracks = std::move(readTracksResult).value();
    if (cancelled.isCancelled()) return media::MediaError::cancellation();

    ZoomPath zoomPath(centredZooms(edits.zooms, tracks.cursorPath), screenSize);

    auto asset = std::make_shared<media::Asset>();
    asset->durationMs = timelineMs;
    std::vector<media::TrackSegment> segments;
    for (const auto &s : segmentMap.segments())
        if (s.timelineDurationMs() > 0)
            segments.push_back({s.sourceStartMs, s.sourceEndMs, s.rate, s.timelineStartMs,
                                s.timelineDurationMs()});
    asset->tracks.push_back(
        {CompositionTrackID::screen, media::MediaType::video, screenFile, segments});
    if (webcamFile)
        asset->tracks.push_back(
            {CompositionTrackID::webcam, media::MediaType::video, *webcamFile, segments});
    if (micFile)
        asset->tracks.push_back(
            {CompositionTrackID::microphone, media::MediaType::audio, *micFile, segments});

    auto composition = std::make_shared<media::VideoComposition>();
    composition->renderSize = canvas;
    composition->frameDuration = screen->frameDuration;
    composition->customVideoCompositor = [] { return std::make_unique<MetalVideoCompositor>(); };
    // One instruction per continuous stretch of the source, each with the tracks of its stretch;
    // the document, time map, zoom path and crop are shared by all of them.
    const auto sharedEdits = std::make_shared<const Edits>(edits);
    const auto sharedSegments = std::make_shared<const SegmentMap>(segmentMap);
    const auto sharedZoom = std::make_shared<const ZoomPath>(zoomPath);
    const auto sharedCrop = crop ? std::make_shared<const WindowCrop>(*crop) : nullptr;
    for (const media::TrackSegment &s : segments) {
        const std::int64_t from = s.sourceStartMs - lookBackMs, to = s.sourceEndMs + lookAheadMs;
        composition->instructions.push_back(std::make_shared<const SceneInstruction>(
            media::TimeRange{{s.timelineStartMs, 1000}, {s.timelineDurationMs, 1000}},
            CompositionTrackID::screen,
            webcamFile ? std::optional<media::TrackID>(CompositionTrackID::webcam) : std::nullopt,
            sharedEdits, canvas, screenSize, sharedSegments, sharedZoom,
            window(tracks.cursorPath, from, to), window(tracks.cursorKinds, from, to),
            window(tracks.clicks, from, to), window(tracks.keyChords, from, to),
            meta.cursorSynthetic, nullptr, sharedCrop));
    }

    auto mix = std::make_shared<media::AudioMix>();
    if (micFile) mix->inputParameters.push_back({CompositionTrackID::microphone, 1.0});

    if (cancelled.isCancelled()) return media::MediaError::cancellation();
    return EditorComposition{std::move(asset), std::move(composition), std::move(mix),
                             sourceDurationMs, std::move(zoomPath)};
}

Task::~Task() {
    cancel();
    if (thread_.joinable()) thread_.join();
}

void Task::cancel() {
    cancelled_->cancel();
}

std::shared_ptr<Task> build(std::filesystem::path recordingDirectory, RecordingMeta meta,
                            Edits edits, platform::Executor &deliverOn,
                            std::function<void(Outcome)> completion) {
    std::shared_ptr<Task> task(new Task());
    // Shared, so that the completion survives a thread that could not be started.
    auto done = std::make_shared<std::function<void(Outcome)>>(std::move(completion));
    auto deliver = [&deliverOn, done, cancelled = task->cancelled_](Outcome outcome) {
        deliverOn.post([cancelled, done, outcome = std::move(outcome)]() mutable {
            // A cancel that came while the outcome was on its way still counts.
            if (cancelled->isCancelled()) outcome = platform::media::MediaError::cancellation();
            if (*done) (*done)(std::move(outcome));
        });
    };
    try {
        // The thread holds only the flag: the task's destructor joins the thread first.
        task->thread_ =
            std::thread([cancelled = task->cancelled_, deliver, dir = std::move(recordingDirectory),
                         meta = std::move(meta), edits = std::move(edits)]() mutable {
                deliver([&]() -> Outcome {
                    try {
                        return buildNow(dir, meta, edits, *cancelled);
                    } catch (...) {
                        // Exhausted memory while reading a huge track, for one.
                        return media::currentExceptionAsError();
                    }
                }());
            });
    } catch (...) {
        deliver(media::currentExceptionAsError());
    }
    return task;
}

} // namespace CompositionBuilder

} // namespace qv
