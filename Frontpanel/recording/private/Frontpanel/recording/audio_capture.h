// The microphone, read from the sound server and encoded while it is captured into an AAC
// MPEG-4 file whose time 0 is the session's origin.
//
// One thread reads, places and encodes the sound. Each packet is placed by its host time: a
// packet that starts later than the sound written so far is preceded by silence (the start, a
// resume), one that overlaps it loses its overlapping part; packets inside a pause are dropped.
// Thread safety: start(), finish() and abandon() from one thread; levelDb() and samples() from
// any thread. Lifetime: destroying a capture that was not finished abandons its file.
#pragma once

#include "Frontpanel/recording/live_input.h"
#include "Frontpanel/recording/session_clock.h"
#include "platform/core/result.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace qv::frontpanel {

// Where a packet of sound goes in the file, in samples. `writtenSamples` is what the file holds;
// `packetStart` the packet's recording time in samples (negative before the origin). Gaps and
// overlaps up to `slack` samples are left alone. Returns how many samples of silence to write
// first (gap) and how many of the packet's first samples to leave out (overlap).
struct SoundPlacement {
    std::int64_t silence = 0;
    std::int64_t skip = 0;
    friend bool operator==(const SoundPlacement &, const SoundPlacement &) = default;
};
SoundPlacement placeSound(std::int64_t writtenSamples, std::int64_t packetStart,
                          std::int64_t slack) noexcept;

// Keeps the sound continuous and on the session's clock. The sound server's stamps jitter by
// tens of milliseconds from packet to packet, while its samples come without gaps; so after the
// first packet (and the first after each pause) the sound is written as it comes, and is moved
// only when the median offset of the last `window` packets from their stamps exceeds the slack.
// Thread safety: one thread at a time. Lifetime: a plain value.
class SoundPlacer {
public:
    SoundPlacer(std::int64_t slack, std::size_t window) : slack_(slack), window_(window) {}
    SoundPlacement place(std::int64_t writtenSamples, std::int64_t packetStart);
    // The next packet is placed by its own stamp (after a pause).
    void reset() noexcept { anchored_ = false; }

private:
    std::int64_t slack_;
    std::size_t window_;
    bool anchored_ = false;
    std::vector<std::int64_t> offsets_;
};

struct AudioCaptureSettings {
    CaptureInput input;
    std::filesystem::path destination;
};

class AudioCapture {
public:
    static Result<std::unique_ptr<AudioCapture>> open(AudioCaptureSettings settings,
                                                      SessionClock &clock);
    ~AudioCapture();
    AudioCapture(const AudioCapture &) = delete;
    AudioCapture &operator=(const AudioCapture &) = delete;

    void start(std::function<void(const Error &)> onFailure);
    // Stops reading, pads the sound to `durationNs` of recording time and completes the file.
    Status finish(std::int64_t durationNs);
    void abandon() noexcept;
    // The peak of the last packet in dBFS; nothing before the first.
    std::optional<double> levelDb() const noexcept;
    std::int64_t samples() const noexcept;
    StampClock stampClock() const noexcept;
    std::int64_t firstLatencyNs() const noexcept;

    struct State;

private:
    explicit AudioCapture(std::unique_ptr<State> s);
    std::unique_ptr<State> s_;
};

} // namespace qv::frontpanel
