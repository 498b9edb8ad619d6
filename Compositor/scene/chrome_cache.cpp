#include "Compositor/scene/chrome_cache.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <type_traits>

namespace qv::SceneRenderer {

std::int64_t keyNumber(double v) noexcept {
    if (!std::isfinite(v)) return v > 0 ? INT64_MAX : (v < 0 ? INT64_MIN : 0);
    constexpr double lim = 9.0e15; // well inside the exact range of doubles
    return std::llround(std::clamp(v, -lim, lim));
}

namespace {

struct Hasher {
    std::size_t h;
    void add(std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); }
    void add(std::int64_t v) { add(std::hash<std::int64_t>()(v)); }
    void add(bool v) { add(std::size_t(v)); }
    void add(const std::string &s) { add(std::hash<std::string>()(s)); }
    template <class... T> void all(const T &...v) { (add(v), ...); }
};

std::size_t imageBytes(const platform::ImageRef &img) {
    if (!img) return 0;
    return img->bitmap().bytesPerRow() * std::size_t(img->bitmap().height());
}

} // namespace

std::size_t ChromeKeyHash::operator()(const ChromeKey &key) const noexcept {
    using namespace chrome_key;
    Hasher h{key.index()};
    std::visit(
        [&](const auto &k) {
            using K = std::decay_t<decltype(k)>;
            if constexpr (std::is_same_v<K, Border>)
                h.all(k.w, k.h, k.lw, k.r);
            else if constexpr (std::is_same_v<K, Triangle>)
                h.all(k.w, k.h);
            else if constexpr (std::is_same_v<K, Caption>)
                h.all(k.text, k.w, k.h, k.scale);
            else if constexpr (std::is_same_v<K, Shadow>)
                h.all(k.rx, k.ry, k.rw, k.rh, k.rad, k.a, k.blur, k.oy, k.bw, k.bh);
            else if constexpr (std::is_same_v<K, ChromeBar>)
                h.all(k.w, k.h, k.dots);
            else if constexpr (std::is_same_v<K, WebcamHairline>)
                h.all(k.w, k.h, k.shape);
            else if constexpr (std::is_same_v<K, WebcamShadow>)
                h.all(k.x, k.y, k.w, k.h, k.shape, k.cw, k.ch);
            else if constexpr (std::is_same_v<K, RoundMask>)
                h.all(k.w, k.h, k.r);
        },
        key);
    return h.h;
}

ChromeCache &ChromeCache::shared() {
    static ChromeCache cache;
    return cache;
}

platform::ImageRef ChromeCache::findLocked(const ChromeKey &key) {
    auto it = index_.find(key);
    if (it == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, it->second);
    ++hits_;
    return it->second->image;
}

void ChromeCache::storeLocked(const ChromeKey &key, platform::ImageRef image) {
    if (!image) return;
    if (auto it = index_.find(key); it != index_.end()) {
        bytes_ -= it->second->bytes;
        order_.erase(it->second);
        index_.erase(it);
    }
    const std::size_t bytes = imageBytes(image);
    order_.push_front(Entry{key, std::move(image), bytes});
    index_.emplace(key, order_.begin());
    bytes_ += bytes;
    trimLocked();
}

void ChromeCache::trimLocked() {
    // The newest entry stays even when it alone is over the limit: its caller uses it now.
    while (bytes_ > limit_ && order_.size() > 1) {
        const Entry &last = order_.back();
        bytes_ -= last.bytes;
        index_.erase(last.key);
        order_.pop_back();
        ++evictions_;
    }
}

platform::ImageRef ChromeCache::image(const ChromeKey &key,
                                      const std::function<platform::ImageRef()> &render) {
    std::lock_guard lock(mutex_);
    if (auto img = findLocked(key)) return img;
    ++renders_;
    platform::ImageRef img = render ? render() : nullptr;
    storeLocked(key, img);
    return img;
}

platform::ImageRef ChromeCache::lookup(const ChromeKey &key) {
    std::lock_guard lock(mutex_);
    return findLocked(key);
}

void ChromeCache::store(const ChromeKey &key, platform::ImageRef image) {
    std::lock_guard lock(mutex_);
    storeLocked(key, std::move(image));
}

ChromeCache::Stats ChromeCache::stats() const {
    std::lock_guard lock(mutex_);
    return {order_.size(), bytes_, hits_, renders_, evictions_};
}

std::size_t ChromeCache::byteLimit() const {
    std::lock_guard lock(mutex_);
    return limit_;
}

void ChromeCache::setByteLimit(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    limit_ = bytes;
    trimLocked();
}

} // namespace qv::SceneRenderer
