// A live FFmpeg input (a capture device, or a file or generated source played in real time)
// whose packets come stamped on the host monotonic clock.
//
// Thread safety: one thread at a time, except requestStop(), stopRequested(), clock() and
// firstLatencyNs(), which any thread may call.
// Lifetime: closes the input when destroyed.
#pragma once

#include "Frontpanel/recording/session_clock.h"
#include "platform/core/result.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qv::frontpanel {

struct CaptureInput {
    std::string format; // FFmpeg input format ("x11grab", "pulse", "v4l2", "lavfi"); empty: probe
    std::string url;
    std::vector<std::pair<std::string, std::string>> options;
};

class LiveInput {
public:
    // Opens the input and finds its first stream of the media type. `label` names it in
    // messages ("screen", "microphone", "webcam").
    static Result<std::unique_ptr<LiveInput>> open(const CaptureInput &input, AVMediaType type,
                                                   std::string label);
    ~LiveInput();
    LiveInput(const LiveInput &) = delete;
    LiveInput &operator=(const LiveInput &) = delete;

    AVStream *stream() const noexcept { return stream_; }
    const std::string &label() const noexcept { return label_; }

    // A decoder for the stream, opened; the caller frees it (avcodec_free_context).
    Result<AVCodecContext *> openDecoder() const;

    // Reads the stream's next packet and its host time (monotonic ns). False at the end of the
    // input or after requestStop(); an Error when reading failed.
    Result<bool> read(AVPacket *packet, std::int64_t *hostNs);
    // Makes a blocked read() return soon.
    void requestStop() noexcept { stop_ = true; }
    bool stopRequested() const noexcept { return stop_; }

    // How the stamps were read, known after the first packet: a device's own clock, or (none)
    // the input's stream time played out in real time from the first packet's arrival.
    // Both may be read from any thread.
    StampClock clock() const noexcept { return clock_.load(); }
    // The first packet's arrival minus its capture time.
    std::int64_t firstLatencyNs() const noexcept { return firstLatencyNs_.load(); }

private:
    LiveInput() = default;
    static int interrupted(void *self);

    std::string label_;
    AVFormatContext *format_ = nullptr;
    AVStream *stream_ = nullptr;
    std::atomic<bool> stop_{false};
    bool first_ = true;
    std::atomic<StampClock> clock_{StampClock::none};
    std::atomic<std::int64_t> firstLatencyNs_{0};
    // Played-out inputs: the first packet's stamp and arrival.
    std::int64_t firstStampNs_ = 0, firstArrivalNs_ = 0;
};

// Makes FFmpeg's capture devices (x11grab, pulse, v4l2, lavfi) known; safe to call again.
void registerCaptureDevices();

// The FFmpeg error text of a return code.
std::string avErrorText(int rc);

} // namespace qv::frontpanel
