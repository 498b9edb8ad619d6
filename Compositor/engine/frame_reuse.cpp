#include "Compositor/engine/frame_reuse.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace qv {

namespace {

using platform::RowSpan;

#include "Compositor/engine/screen_mapping.inc"

// Content-space rows closer than this to a decoration count as touched by it: the shader's
// arithmetic may differ from this file's in the last bits.
constexpr float kRowSlack = 0.05f;

bool on(float flag) {
    return flag > 0.5f;
}

// The uniforms with the decoration fields cleared: what must match for rows to be reused.
SceneUniforms geometryOf(SceneUniforms u) {
    u.hasCursor = u.curX = u.curY = u.curW = u.curH = 0;
    u.hasClick = u.clickKind = u.clickCX = u.clickCY = 0;
    u.clickRadius = u.clickLineW = u.clickAlpha = 0;
    u.maskCount = 0;
    return u;
}

bool allFinite(const SceneUniforms &u) {
    float values[sizeof(SceneUniforms) / sizeof(float)];
    std::memcpy(values, &u, sizeof u);
    for (float v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

bool sameCursor(const DrawnFrame &a, const DrawnFrame &b) {
    const SceneUniforms &x = a.uniforms, &y = b.uniforms;
    return x.hasCursor == y.hasCursor && x.curX == y.curX && x.curY == y.curY && x.curW == y.curW &&
           x.curH == y.curH && a.layers[slotCursor] == b.layers[slotCursor];
}

bool sameClick(const SceneUniforms &x, const SceneUniforms &y) {
    return x.hasClick == y.hasClick && x.clickKind == y.clickKind && x.clickCX == y.clickCX &&
           x.clickCY == y.clickCY && x.clickRadius == y.clickRadius &&
           x.clickLineW == y.clickLineW && x.clickAlpha == y.clickAlpha;
}

bool sameMasks(const DrawnFrame &a, const DrawnFrame &b) {
    if (a.uniforms.maskCount != b.uniforms.maskCount || a.masks.size() != b.masks.size())
        return false;
    return a.masks.empty() ||
           std::memcmp(a.masks.data(), b.masks.data(), a.masks.size() * sizeof(MaskRect)) == 0;
}

// A monotonic map from output columns to what they read, for finding the columns that read a
// given range by binary search.
struct ColumnMap {
    std::vector<float> content;  // content-space x of each output column
    std::vector<int> src0, src1; // the two source columns of its horizontal tap
    bool monotonic = true;

    ColumnMap(const SceneUniforms &u, int W, int texW)
        : content(static_cast<std::size_t>(W)), src0(content.size()), src1(content.size()) {
        for (int i = 0; i < W; ++i) {
            const ScreenColumn c = screenColumnAt(u, i + 0.5f, texW);
            content[i] = c.p;
            src0[i] = c.x0;
            src1[i] = c.x1;
            if (i > 0 &&
                (content[i] < content[i - 1] || src0[i] < src0[i - 1] || src1[i] < src1[i - 1]))
                monotonic = false;
        }
    }

    int width() const { return static_cast<int>(content.size()); }

    // Output columns whose content x lies in [a, b], one column wider on each side.
    RowSpan contentColumns(float a, float b) const {
        if (!monotonic) return {0, width()};
        const auto first = std::lower_bound(content.begin(), content.end(), a - kRowSlack);
        const auto last = std::upper_bound(content.begin(), content.end(), b + kRowSlack);
        return widen(int(first - content.begin()), int(last - content.begin()));
    }

    // Output columns whose tap reads a source column in [a, b).
    RowSpan sourceColumns(int a, int b) const {
        if (!monotonic) return {0, width()};
        const auto first = std::lower_bound(src1.begin(), src1.end(), a);
        const auto last = std::lower_bound(src0.begin(), src0.end(), b);
        return widen(int(first - src1.begin()), int(last - src0.begin()));
    }

    RowSpan widen(int a, int b) const {
        if (b <= a) return {};
        return {std::max(a - 1, 0), std::min(b + 1, width())};
    }
};

// A decoration's reach in content space.
struct Area {
    float x0, x1, y0, y1;
};

void addCursor(const SceneUniforms &u, std::vector<Area> &out) {
    if (on(u.hasCursor)) out.push_back({u.curX, u.curX + u.curW, u.curY, u.curY + u.curH});
}

void addClick(const SceneUniforms &u, std::vector<Area> &out) {
    if (!on(u.hasClick)) return;
    // Wider than the shader's own reach: a ring's stroke extends past its radius.
    const float reach = std::fabs(u.clickRadius) + std::fabs(u.clickLineW) + 2.0f;
    out.push_back({u.clickCX - reach, u.clickCX + reach, u.clickCY - reach, u.clickCY + reach});
}

void addMasks(const DrawnFrame &f, std::vector<Area> &out) {
    for (const MaskRect &m : f.masks) out.push_back({m.x, m.x + m.width, m.y, m.y + m.height});
}

} // namespace

std::optional<platform::RowSpans> planRedraw(const DrawnFrame &last, const DrawnFrame &next,
                                             const platform::FrameLineageRef &screen) {
    if (last.outputId == 0) return std::nullopt;
    const int W = next.width, H = next.height;
    if (last.width != W || last.height != H || W < 1 || H < 1) return std::nullopt;
    for (int s = 0; s < sceneSlotCount; ++s)
        if (s != slotScreen && s != slotCursor && last.layers[s] != next.layers[s])
            return std::nullopt;
    if (!allFinite(last.uniforms) || !allFinite(next.uniforms)) return std::nullopt;
    // The overlay targets are reused with new content, so their identity says nothing: a frame
    // with badges, or the first one after, is drawn whole.
    if (on(last.uniforms.hasOverlay) || on(next.uniforms.hasOverlay)) return std::nullopt;
    // The camera picture changes with every frame and the bubble may sit anywhere on the canvas.
    if (on(last.uniforms.hasWebcam) || on(next.uniforms.hasWebcam)) return std::nullopt;
    const SceneUniforms a = geometryOf(last.uniforms), b = geometryOf(next.uniforms);
    if (std::memcmp(&a, &b, sizeof a) != 0) return std::nullopt;
    const SceneUniforms &u = next.uniforms;

    // Source columns that changed per source row, widened by one row and one column so that a
    // tap one off still sees them.
    platform::RowSpans sourceChanged;
    const bool screenShown = on(u.hasScreen);
    const int texW = screenShown ? next.screenWidth : 1, texH = screenShown ? next.screenHeight : 1;
    if (screenShown) {
        if (last.screenWidth != next.screenWidth || last.screenHeight != next.screenHeight)
            return std::nullopt;
        const auto changed = platform::FrameLineage::changesSince(screen, last.screenId, texH);
        if (!changed) return std::nullopt;
        sourceChanged.assign(changed->size(), {});
        for (std::size_t y = 0; y < changed->size(); ++y)
            for (RowSpan r : (*changed)[y]) {
                const RowSpan wide{std::max(r.begin - 1, 0), std::min(r.end + 1, texW)};
                for (std::size_t k = y ? y - 1 : 0; k <= y + 1 && k < changed->size(); ++k)
                    sourceChanged[k].add(wide);
            }
    }

    std::vector<Area> touched;
    if (!sameCursor(last, next)) addCursor(last.uniforms, touched), addCursor(u, touched);
    if (!sameClick(last.uniforms, u)) addClick(last.uniforms, touched), addClick(u, touched);
    if (!sameMasks(last, next)) addMasks(last, touched), addMasks(next, touched);

    const ColumnMap columns(u, W, texW);
    std::optional<platform::RowSpans> spans(std::in_place, static_cast<std::size_t>(H));
    for (int j = 0; j < H; ++j) {
        const float Y = u.canvasH - (j + 0.5f);
        const ScreenRow r = screenRowAt(u, Y, texH);
        if (!r.shown) continue; // only the screen area changes between such frames
        platform::RowChanges &out = (*spans)[j];
        if (screenShown) {
            platform::RowChanges src = sourceChanged[r.y0];
            src.add(sourceChanged[r.y1]);
            for (RowSpan s : src) out.add(columns.sourceColumns(s.begin, s.end));
        }
        for (const Area &t : touched)
            if (t.y0 - kRowSlack <= r.py && r.py <= t.y1 + kRowSlack)
                out.add(columns.contentColumns(t.x0, t.x1));
    }
    return spans;
}

std::vector<std::uint8_t> redrawPlanBytes(std::uint64_t previousId,
                                          const platform::RowSpans &spans) {
    std::vector<std::uint8_t> bytes(sizeof previousId + spans.size() * kPlanRowBytes, 0);
    std::memcpy(bytes.data(), &previousId, sizeof previousId);
    std::uint8_t *at = bytes.data() + sizeof previousId;
    for (const platform::RowChanges &r : spans) {
        const std::int32_t count = r.size();
        std::memcpy(at, &count, 4);
        int k = 0;
        for (RowSpan s : r) {
            const std::int32_t pair[2] = {s.begin, s.end};
            std::memcpy(at + 4 + 8 * k++, pair, 8);
        }
        at += kPlanRowBytes;
    }
    return bytes;
}

bool readRedrawPlan(const std::vector<std::uint8_t> &bytes, int rows, int width, int rowBegin,
                    int rowEnd, std::uint64_t &previousId, platform::RowSpans &spans) {
    if (rows < 0 || bytes.size() != sizeof previousId + std::size_t(rows) * kPlanRowBytes)
        return false;
    std::memcpy(&previousId, bytes.data(), sizeof previousId);
    spans.assign(static_cast<std::size_t>(rows), {});
    rowBegin = std::clamp(rowBegin, 0, rows), rowEnd = std::clamp(rowEnd, rowBegin, rows);
    const std::uint8_t *at =
        bytes.data() + sizeof previousId + std::size_t(rowBegin) * kPlanRowBytes;
    for (int j = rowBegin; j < rowEnd; ++j, at += kPlanRowBytes) {
        std::int32_t count = 0;
        std::memcpy(&count, at, 4);
        count = std::clamp(count, 0, platform::RowChanges::kMaxSpans);
        for (int k = 0; k < count; ++k) {
            std::int32_t pair[2];
            std::memcpy(pair, at + 4 + 8 * k, 8);
            spans[j].add({std::clamp(pair[0], 0, width), std::clamp(pair[1], 0, width)});
        }
    }
    return true;
}

} // namespace qv
