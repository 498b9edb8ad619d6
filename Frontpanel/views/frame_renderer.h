// One recording's frames as the export draws them: the editor component's composition
// (CompositionBuilder::buildNow), its frame source and its own compositor, on a canvas of the
// caller's size. The preview and the library's thumbnails take their pictures from here, so they
// show what the export writes.
//
// Thread safety: one thread at a time (the preview's render thread, a thumbnail job).
// Lifetime: owns the composition, the frame source and the compositor.
#pragma once

#include "Cutbench/composition_builder.h"
#include "interfaces/persistence/edits.h"
#include "platform/core/result.h"
#include "platform/media/composition_frame_source.h"
#include "platform/media/frame_request.h"
#include "platform/video/pixel_buffer.h"

#include <QImage>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

namespace qv::ui {

class FrameRenderer {
public:
    // `edits` absent: the recording's "edits.json" (the defaults when there is none; an error
    // naming the file when it cannot be read). `canvas` absent: the export's own canvas.
    static Result<std::unique_ptr<FrameRenderer>> open(const std::filesystem::path &folder,
                                                       std::optional<Edits> edits = std::nullopt,
                                                       std::optional<Size> canvas = std::nullopt);
    ~FrameRenderer();
    FrameRenderer(const FrameRenderer &) = delete;
    FrameRenderer &operator=(const FrameRenderer &) = delete;

    // The composed asset: its tracks (the sound among them) on the edited timeline.
    const platform::media::Asset &asset() const noexcept { return *composition_.asset; }
    std::int64_t frameCount() const noexcept;
    // The edited timeline's length in milliseconds.
    std::int64_t durationMs() const noexcept;
    double framesPerSecond() const noexcept;
    int width() const noexcept { return width_; }
    int height() const noexcept { return height_; }
    std::int64_t frameIndexAt(std::int64_t outputMs) const noexcept;
    std::int64_t timeMsOf(std::int64_t index) const noexcept;

    // Frame `index` (clamped to the frames there are), composed.
    Result<platform::PixelBufferRef> render(std::int64_t index);

    // The same in two steps, so that the next frame can be decoded while the compositor draws
    // this one: start() decodes the sources and hands the request to the compositor (waiting
    // while it already has two frames in hand); finish() waits for the picture.
    using Request = std::shared_ptr<platform::media::FrameRequest>;
    Result<Request> start(std::int64_t index);
    static Result<platform::PixelBufferRef> finish(const Request &request);

    // A deep copy of a BGRA frame as a QImage (premultiplied ARGB32 has the same bytes).
    static QImage toImage(const platform::PixelBuffer &frame);
    // The canvas for a source of this size that fits in `bounds` with its aspect kept, never
    // larger than the source, even sides, at least 2 × 2.
    static Size fittedCanvas(Size source, Size bounds);

private:
    FrameRenderer() = default;

    EditorComposition composition_;
    std::unique_ptr<platform::media::CompositionFrameSource> source_;
    std::unique_ptr<platform::media::VideoCompositing> compositor_;
    std::shared_ptr<platform::media::RenderContext> context_;
    int width_ = 0, height_ = 0;
};

} // namespace qv::ui
