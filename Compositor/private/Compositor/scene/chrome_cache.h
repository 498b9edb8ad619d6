// The process-wide cache of baked decoration images: frame shadows, chrome bars, borders, the
// webcam bubble's hairline, shadow and round mask, and caption images. Images are stored at the
// origin and moved into place by whoever asks.
//
// Bound: entries are dropped least recently used first once the images held exceed the byte
// limit (256 MiB by default: about eight canvas-sized 4K layers, or a few hundred webcam-sized
// ones). Without a bound an animated webcam bubble, whose halo key changes with every frame of
// its transition, would grow the cache for as long as the process lives. An image handed out
// stays valid after its entry is dropped; only the cache forgets it.
//
// Thread safety: one mutex serialises look-up, render on a miss and insertion, so one image is
// rendered per key even when frames are requested concurrently.
#pragma once

#include "platform/image/image.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <variant>

namespace qv::SceneRenderer {

// Numbers in keys are whole: the callers round (halves away from zero) with keyNumber.
std::int64_t keyNumber(double v) noexcept;

namespace chrome_key {
struct Border {
    std::int64_t w, h, lw, r; // lw: line width × 100; r: corner radius
    friend bool operator==(const Border &, const Border &) = default;
};
struct Triangle {
    std::int64_t w, h;
    friend bool operator==(const Triangle &, const Triangle &) = default;
};
struct Caption {
    std::string text;
    std::int64_t w, h, scale;
    friend bool operator==(const Caption &, const Caption &) = default;
};
struct Shadow {
    std::int64_t rx, ry, rw, rh; // the frame
    std::int64_t rad;            // radius × 10
    std::int64_t a;              // opacity × 1000
    std::int64_t blur;           // blur × 10
    std::int64_t oy;             // offset × 10
    std::int64_t bw, bh;         // the canvas
    friend bool operator==(const Shadow &, const Shadow &) = default;
};
struct ChromeBar {
    std::int64_t w, h;
    bool dots;
    friend bool operator==(const ChromeBar &, const ChromeBar &) = default;
};
struct WebcamHairline {
    std::int64_t w, h, shape;
    friend bool operator==(const WebcamHairline &, const WebcamHairline &) = default;
};
struct WebcamShadow {
    std::int64_t x, y, w, h, shape, cw, ch;
    friend bool operator==(const WebcamShadow &, const WebcamShadow &) = default;
};
struct RoundMask {
    std::int64_t w, h, r;
    friend bool operator==(const RoundMask &, const RoundMask &) = default;
};
} // namespace chrome_key

// One case per kind of baked image.
using ChromeKey =
    std::variant<chrome_key::Border, chrome_key::Triangle, chrome_key::Caption, chrome_key::Shadow,
                 chrome_key::ChromeBar, chrome_key::WebcamHairline, chrome_key::WebcamShadow,
                 chrome_key::RoundMask>;

struct ChromeKeyHash {
    std::size_t operator()(const ChromeKey &key) const noexcept;
};

class ChromeCache {
public:
    static constexpr std::size_t kDefaultByteLimit = std::size_t(256) << 20;

    // The cache every decoration shares.
    static ChromeCache &shared();

    explicit ChromeCache(std::size_t byteLimit = kDefaultByteLimit) : limit_(byteLimit) {}
    ChromeCache(const ChromeCache &) = delete;
    ChromeCache &operator=(const ChromeCache &) = delete;

    // The image under `key`; on a miss `render` runs under the lock and a non-null result is
    // stored.
    platform::ImageRef image(const ChromeKey &key,
                             const std::function<platform::ImageRef()> &render);
    platform::ImageRef lookup(const ChromeKey &key);
    void store(const ChromeKey &key, platform::ImageRef image);

    struct Stats {
        std::size_t entries = 0, bytes = 0;
        std::size_t hits = 0, renders = 0, evictions = 0;
    };
    Stats stats() const;
    std::size_t byteLimit() const;
    // A smaller limit drops entries at once.
    void setByteLimit(std::size_t bytes);

private:
    struct Entry {
        ChromeKey key;
        platform::ImageRef image;
        std::size_t bytes;
    };
    using List = std::list<Entry>; // most recently used first

    platform::ImageRef findLocked(const ChromeKey &key);
    void storeLocked(const ChromeKey &key, platform::ImageRef image);
    void trimLocked();

    mutable std::mutex mutex_;
    std::size_t limit_;
    std::size_t bytes_ = 0;
    List order_;
    std::unordered_map<ChromeKey, List::iterator, ChromeKeyHash> index_;
    std::size_t hits_ = 0, renders_ = 0, evictions_ = 0;
};

} // namespace qv::SceneRenderer
