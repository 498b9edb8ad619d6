// The compositing pass, fast form. Geometry decisions (inside tests, content coordinates)
// use exactly the expressions of the per-pixel definition in 32-bit floats, so that both forms
// agree on every edge; colour maths works on four channels at once.

#include "Compositor/engine/scene_pass_kernel.h"

#include "Compositor/engine/scene_uniforms.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qv {

namespace {

using platform::PixelFormat;
using platform::gfx::Texture;

// Four channels in memory order B, G, R, A, 0..1.
typedef float f4 __attribute__((vector_size(16)));
typedef std::uint8_t u8x4 __attribute__((vector_size(4)));
typedef std::int32_t i4 __attribute__((vector_size(16)));

constexpr float kInv255 = 1.0f / 255.0f;

inline bool on(float flag) { return flag > 0.5f; }

inline f4 splat(float v) { return f4{v, v, v, v}; }

inline f4 unpack(std::uint32_t px) {
    u8x4 b;
    std::memcpy(&b, &px, 4);
    return __builtin_convertvector(b, f4) * kInv255;
}

inline f4 loadPx(const std::uint8_t *p) {
    u8x4 b;
    std::memcpy(&b, p, 4);
    return __builtin_convertvector(b, f4) * kInv255;
}

inline std::uint32_t pack(f4 v) {
    v = v < 0.0f ? splat(0) : v;
    v = v > 1.0f ? splat(1) : v;
    const i4 iv = __builtin_convertvector(v * 255.0f + 0.5f, i4);
    const u8x4 b = __builtin_convertvector(iv, u8x4);
    std::uint32_t px;
    std::memcpy(&px, &b, 4);
    return px | 0xFF000000u;
}

inline std::uint32_t readPx(const Texture &t, int x, int y) {
    std::uint32_t px;
    std::memcpy(&px, t.buffer().row(y) + 4 * x, 4);
    return px;
}

// Bilinear, clamp-to-edge, normalised coordinates, for any BGRA8 texture.
f4 sampleBGRA(const Texture &t, float u, float v) {
    const float x = u * t.width() - 0.5f, y = v * t.height() - 0.5f;
    const float x0f = std::floor(x), y0f = std::floor(y);
    const float fx = x - x0f, fy = y - y0f;
    const int wm = t.width() - 1, hm = t.height() - 1;
    const int x0 = static_cast<int>(std::clamp(x0f, 0.0f, float(wm)));
    const int x1 = static_cast<int>(std::clamp(x0f + 1, 0.0f, float(wm)));
    const int y0 = static_cast<int>(std::clamp(y0f, 0.0f, float(hm)));
    const int y1 = static_cast<int>(std::clamp(y0f + 1, 0.0f, float(hm)));
    const std::uint8_t *r0 = t.buffer().row(y0), *r1 = t.buffer().row(y1);
    const f4 a = loadPx(r0 + 4 * x0), b = loadPx(r0 + 4 * x1);
    const f4 c = loadPx(r1 + 4 * x0), d = loadPx(r1 + 4 * x1);
    const f4 top = a + (b - a) * fx, bottom = c + (d - c) * fx;
    return top + (bottom - top) * fy;
}

// Red channel of a one-channel texture, bilinear, clamp-to-edge.
float sampleR8(const Texture &t, float u, float v) {
    const float x = u * t.width() - 0.5f, y = v * t.height() - 0.5f;
    const float x0f = std::floor(x), y0f = std::floor(y);
    const float fx = x - x0f, fy = y - y0f;
    const int wm = t.width() - 1, hm = t.height() - 1;
    const int x0 = static_cast<int>(std::clamp(x0f, 0.0f, float(wm)));
    const int x1 = static_cast<int>(std::clamp(x0f + 1, 0.0f, float(wm)));
    const int y0 = static_cast<int>(std::clamp(y0f, 0.0f, float(hm)));
    const int y1 = static_cast<int>(std::clamp(y0f + 1, 0.0f, float(hm)));
    const std::uint8_t *r0 = t.buffer().row(y0), *r1 = t.buffer().row(y1);
    const float a = r0[x0] * kInv255, b = r0[x1] * kInv255;
    const float c = r1[x0] * kInv255, d = r1[x1] * kInv255;
    const float top = a + (b - a) * fx, bottom = c + (d - c) * fx;
    return top + (bottom - top) * fy;
}

float sample(const Texture &t, float u, float v, int channel) {
    if (t.format() == PixelFormat::r8) return channel == 2 ? sampleR8(t, u, v) : 0.0f;
    return sampleBGRA(t, u, v)[channel];
}

float roundedCoverage(float px, float py, float x, float y, float w, float h, float r) {
    const float cx = x + w / 2, cy = y + h / 2;
    const float qx = std::fabs(px - cx) - (w / 2 - r);
    const float qy = std::fabs(py - cy) - (h / 2 - r);
    const float mx = std::max(qx, 0.0f), my = std::max(qy, 0.0f);
    const float d = std::sqrt(mx * mx + my * my) + std::min(std::max(qx, qy), 0.0f) - r;
    return std::clamp(0.5f - d, 0.0f, 1.0f);
}

float triangleCoverage(float px, float py, float x, float y, float w, float h) {
    const float ax = x + w / 2, ay = y + h, bx = x, by = y, cx = x + w, cy = y;
    const float d1 = (px - bx) * (ay - by) - (ax - bx) * (py - by);
    const float d2 = (px - cx) * (ay - cy) - (ax - cx) * (py - cy);
    const float d3 = (px - ax) * (cy - ay) - (cx - ax) * (py - ay);
    const bool neg = d1 < 0 || d2 < 0 || d3 < 0;
    const bool pos = d1 > 0 || d2 > 0 || d3 > 0;
    return (neg && pos) ? 0.0f : 1.0f;
}

// A canvas-sized layer: read texel for texel when it matches the canvas, as a constant when it
// is a single pixel, sampled otherwise; `off` when it cannot contribute.
struct CanvasLayer {
    enum Mode { off, constant, direct, sampled } mode = off;
    const Texture *tex = nullptr;
    std::uint32_t value = 0;

    static CanvasLayer make(const Texture *t, bool enabled, int W, int H, const SceneUniforms &u) {
        CanvasLayer l;
        if (!enabled || !t || t->format() != PixelFormat::bgra8) return l;
        l.tex = t;
        if (t->width() == 1 && t->height() == 1) {
            l.value = readPx(*t, 0, 0);
            l.mode = l.value ? constant : off;
        } else if (t->width() == W && t->height() == H && u.canvasW == float(W) &&
                   u.canvasH == float(H)) {
            l.mode = direct;
        } else {
            l.mode = sampled;
        }
        return l;
    }

    // The premultiplied texel at pixel (i, j), or 0 when fully clear.
    std::uint32_t at(int i, int j, float X, float Yf, const SceneUniforms &u) const {
        switch (mode) {
        case off:
            return 0;
        case constant:
            return value;
        case direct:
            return readPx(*tex, i, j);
        case sampled: {
            const f4 s = sampleBGRA(*tex, X / u.canvasW, Yf / u.canvasH);
            // Keep full precision by re-deriving through the float path below.
            std::uint32_t px;
            const i4 iv = __builtin_convertvector(s * 255.0f + 0.5f, i4);
            const u8x4 b = __builtin_convertvector(iv, u8x4);
            std::memcpy(&px, &b, 4);
            return px;
        }
        }
        return 0;
    }
};

inline void over(f4 &out, f4 layer) { out = out * (1.0f - layer[3]) + layer; }

// Per-column values that depend on X only.
struct Columns {
    std::vector<float> px;
    std::vector<std::uint8_t> flags;
    std::vector<std::int32_t> sx0, sx1;
    std::vector<float> sfx;
    std::vector<std::uint8_t> maskBits;
    int frameBegin = 0, frameEnd = 0; // columns where the bar or the screen may show

    enum : std::uint8_t { inScreen = 1, inContent = 2, outside = 4, inFrame = 8 };

    void fill(const SceneUniforms &u, const MaskRect *masks, int maskCount, int W, int texW) {
        px.resize(W);
        flags.resize(W);
        sx0.resize(W);
        sx1.resize(W);
        sfx.resize(W);
        maskBits.resize(W);
        frameBegin = W;
        frameEnd = 0;
        const bool zoom = on(u.zoomActive), letterbox = on(u.letterbox);
        for (int i = 0; i < W; ++i) {
            const float X = i + 0.5f;
            std::uint8_t f = 0;
            if (u.tX <= X && X < u.tX + u.tW) f |= inFrame;
            if (u.srX <= X && X < u.srX + u.srW) f |= inScreen;
            if (f) {
                frameBegin = std::min(frameBegin, i);
                frameEnd = i + 1;
            }
            const float qx = (X - u.srX) * u.contentW / u.srW;
            const float p = zoom ? (qx - u.contentW / 2) / u.zoomS + u.focusX : qx;
            px[i] = p;
            if (0 <= p && p <= u.contentW) f |= inContent;
            const float sx = p + u.cropX;
            float capX;
            if (letterbox) {
                if (sx >= u.winW || sx < 0) f |= outside;
                capX = u.winX + sx;
            } else {
                capX = u.winX + (sx / u.screenW) * u.winW;
            }
            const float x = (capX / u.screenTexW) * texW - 0.5f;
            const float x0f = std::floor(x);
            sfx[i] = x - x0f;
            sx0[i] = static_cast<std::int32_t>(std::clamp(x0f, 0.0f, float(texW - 1)));
            sx1[i] = static_cast<std::int32_t>(std::clamp(x0f + 1, 0.0f, float(texW - 1)));
            std::uint8_t bits = 0;
            for (int k = 0; k < maskCount; ++k)
                if (masks[k].x <= p && p < masks[k].x + masks[k].width) bits |= 1u << k;
            maskBits[i] = bits;
            flags[i] = f;
        }
    }
};

struct Inputs {
    SceneUniforms u;
    MaskRect masks[kMaxMasks];
    int maskCount = 0;
    const Texture *tex[sceneSlotCount] = {};
};

Inputs readInputs(const platform::gfx::FragmentBindings &b) {
    Inputs in;
    std::memset(&in.u, 0, sizeof in.u);
    std::memcpy(&in.u, b.buffers[0].data(), std::min(b.buffers[0].size(), sizeof in.u));
    const int available = static_cast<int>(b.buffers[1].size() / sizeof(MaskRect));
    const int requested = static_cast<int>(in.u.maskCount);
    in.maskCount = std::clamp(std::min(requested, available), 0, kMaxMasks);
    std::memcpy(in.masks, b.buffers[1].data(), in.maskCount * sizeof(MaskRect));
    for (int s = 0; s < sceneSlotCount; ++s) in.tex[s] = b.textures[s].get();
    return in;
}

// The webcam bubble at one pixel, general form.
void compositeWebcam(f4 &out, float X, float Y, const SceneUniforms &u, const Inputs &in) {
    if (!(u.wdX <= X && X < u.wdX + u.wdW && u.wdY <= Y && Y < u.wdY + u.wdH)) return;
    const Texture *cam = in.tex[slotCamera];
    if (!cam) return;
    const float scale = std::max(u.wdW / u.camW, u.wdH / u.camH);
    const float sW = u.camW * scale, sH = u.camH * scale;
    const float ox = u.wdX + u.wdW / 2 - sW / 2, oy = u.wdY + u.wdH / 2 - sH / 2;
    const float cx = (X - ox) / scale, cy = (Y - oy) / scale;
    const float uvx = cx / u.camW, uvy = 1 - cy / u.camH;
    const f4 c = sampleBGRA(*cam, uvx, uvy);
    float a = u.wAlpha;
    if (on(u.wRemoveBg) && in.tex[slotPersonMask])
        a = a * sample(*in.tex[slotPersonMask], uvx, uvy, 2);
    const float cov = u.wShape > 2.5f ? triangleCoverage(X, Y, u.wdX, u.wdY, u.wdW, u.wdH)
                                      : roundedCoverage(X, Y, u.wdX, u.wdY, u.wdW, u.wdH, u.wRadius);
    a = a * cov;
    const float alpha = out[3];
    out = out + (c - out) * a;
    out[3] = alpha;
}

__attribute__((target_clones("avx2", "default"))) void
shadeRows(const Inputs &in, Texture &target, int rowBegin, int rowEnd) {
    const SceneUniforms &u = in.u;
    const int W = target.width(), H = target.height();
    const Texture *screen = on(u.hasScreen) ? in.tex[slotScreen] : nullptr;
    if (screen && screen->format() != PixelFormat::bgra8) screen = nullptr;
    const int texW = screen ? screen->width() : 1, texH = screen ? screen->height() : 1;

    const CanvasLayer behind = CanvasLayer::make(in.tex[slotBehind], true, W, H, u);
    const CanvasLayer chrome = CanvasLayer::make(in.tex[slotChrome], true, W, H, u);
    const CanvasLayer border = CanvasLayer::make(in.tex[slotBorder], true, W, H, u);
    const CanvasLayer overlay = CanvasLayer::make(in.tex[slotOverlay], on(u.hasOverlay), W, H, u);
    const bool webcam = on(u.hasWebcam);
    const CanvasLayer camShadow =
        CanvasLayer::make(in.tex[slotCamShadow], webcam && on(u.hasShadow), W, H, u);
    const CanvasLayer camHair =
        CanvasLayer::make(in.tex[slotCamHairline], webcam && on(u.hasHairline), W, H, u);
    const Texture *cursor = on(u.hasCursor) ? in.tex[slotCursor] : nullptr;
    const bool click = on(u.hasClick);
    const bool letterbox = on(u.letterbox);

    thread_local Columns cols;
    cols.fill(u, in.masks, in.maskCount, W, texW);
    const f4 maskColour{0.06f, 0.05f, 0.05f, 1.0f};

    for (int j = rowBegin; j < rowEnd; ++j) {
        const float Yf = j + 0.5f, Y = u.canvasH - Yf;
        auto *dst = reinterpret_cast<std::uint32_t *>(target.buffer().row(j));

        // Row values of the window layer.
        const bool rowBar = u.barY0 <= Y && Y < u.barY1;
        bool rowScreen = screen && u.srY <= Y && Y < u.srY + u.srH;
        float py = 0, sfy = 0;
        bool rowOutside = false;
        const std::uint8_t *sr0 = nullptr, *sr1 = nullptr;
        std::uint8_t rowMasks = 0;
        if (rowScreen) {
            const float qy = (Y - u.srY) * u.contentH / u.srH;
            py = on(u.zoomActive) ? (qy - u.contentH / 2) / u.zoomS + u.focusY : qy;
            rowScreen = 0 <= py && py <= u.contentH;
            const float sy = py + u.cropY;
            float capY;
            if (letterbox) {
                const float yBottom = u.screenH - u.winH;
                rowOutside = sy < yBottom || sy >= u.screenH;
                capY = u.winY + (sy - yBottom);
            } else {
                capY = u.winY + (sy / u.screenH) * u.winH;
            }
            const float y = ((u.screenTexH - capY) / u.screenTexH) * texH - 0.5f;
            const float y0f = std::floor(y);
            sfy = y - y0f;
            sr0 = screen->buffer().row(
                static_cast<int>(std::clamp(y0f, 0.0f, float(texH - 1))));
            sr1 = screen->buffer().row(
                static_cast<int>(std::clamp(y0f + 1, 0.0f, float(texH - 1))));
            for (int k = 0; k < in.maskCount; ++k)
                if (in.masks[k].y <= py && py < in.masks[k].y + in.masks[k].height)
                    rowMasks |= 1u << k;
        }
        const bool rowCursor = cursor && u.curY <= py && py < u.curY + u.curH;
        const float cursorV = rowCursor ? (py - u.curY) / u.curH : 0;
        const bool rowWindow = rowBar || rowScreen;
        const bool rowWebcam = webcam && u.wdY <= Y && Y < u.wdY + u.wdH;

        for (int i = 0; i < W; ++i) {
            const float X = i + 0.5f;
            const std::uint32_t behindPx = behind.at(i, j, X, Yf, u);
            f4 out;
            bool touched = false;
            auto touch = [&] {
                if (!touched) {
                    out = unpack(behindPx);
                    touched = true;
                }
            };

            if (rowWindow && i >= cols.frameBegin && i < cols.frameEnd) {
                const std::uint8_t f = cols.flags[i];
                f4 win = splat(0);
                bool any = false;
                if (rowBar && (f & Columns::inFrame)) {
                    const std::uint32_t c = chrome.at(i, j, X, Yf, u);
                    if (c) {
                        win = unpack(c);
                        any = true;
                    }
                } else if (rowScreen && (f & Columns::inScreen) && (f & Columns::inContent)) {
                    any = true;
                    if (!(letterbox && (rowOutside || (f & Columns::outside)))) {
                        const float fx = cols.sfx[i];
                        const int x0 = 4 * cols.sx0[i], x1 = 4 * cols.sx1[i];
                        const f4 a = loadPx(sr0 + x0), b = loadPx(sr0 + x1);
                        const f4 c = loadPx(sr1 + x0), d = loadPx(sr1 + x1);
                        const f4 top = a + (b - a) * fx, bottom = c + (d - c) * fx;
                        win = top + (bottom - top) * sfy;
                        const float p = cols.px[i];
                        if (click) {
                            const float dx = p - u.clickCX, dy = py - u.clickCY;
                            const float dist = std::sqrt(dx * dx + dy * dy);
                            float ca;
                            if (u.clickKind < 1.5f) {
                                ca = u.clickAlpha * std::max(0.0f, 1 - dist / u.clickRadius);
                            } else {
                                const float edge =
                                    std::fabs(dist - u.clickRadius) - u.clickLineW / 2;
                                ca = u.clickAlpha * std::clamp(0.5f - edge, 0.0f, 1.0f);
                            }
                            win = win * (1.0f - ca) + ca;
                        }
                        if (rowCursor && u.curX <= p && p < u.curX + u.curW)
                            over(win, sampleBGRA(*cursor, (p - u.curX) / u.curW, cursorV));
                        if (cols.maskBits[i] & rowMasks) win = maskColour;
                    }
                }
                if (any && win[3] != 0.0f) {
                    const float cov =
                        roundedCoverage(X, Y, u.tX, u.tY, u.tW, u.tH, u.radius);
                    touch();
                    out = out * (1.0f - win[3] * cov) + win * cov;
                } else if (any && (win[0] != 0.0f || win[1] != 0.0f || win[2] != 0.0f)) {
                    const float cov =
                        roundedCoverage(X, Y, u.tX, u.tY, u.tW, u.tH, u.radius);
                    touch();
                    out = out + win * cov;
                }
            }

            if (const std::uint32_t b = border.at(i, j, X, Yf, u)) {
                touch();
                over(out, unpack(b));
            }
            if (webcam) {
                if (const std::uint32_t s = camShadow.at(i, j, X, Yf, u)) {
                    touch();
                    over(out, unpack(s));
                }
                if (rowWebcam && u.wdX <= X && X < u.wdX + u.wdW) {
                    touch();
                    compositeWebcam(out, X, Y, u, in);
                }
                if (const std::uint32_t h = camHair.at(i, j, X, Yf, u)) {
                    touch();
                    over(out, unpack(h));
                }
            }
            if (const std::uint32_t o = overlay.at(i, j, X, Yf, u)) {
                touch();
                over(out, unpack(o));
            }
            dst[i] = touched ? pack(out) : (behindPx | 0xFF000000u);
        }
    }
}

} // namespace

void sceneFragmentProgram(const platform::gfx::FragmentBindings &bindings,
                          platform::gfx::Texture &target, int rowBegin, int rowEnd) {
    const Inputs in = readInputs(bindings);
    if (!in.tex[slotBehind] || target.format() != PixelFormat::bgra8) return;
    shadeRows(in, target, rowBegin, rowEnd);
}

void registerScenePassProgram() {
    static const bool registered = [] {
        platform::gfx::registerFragmentProgram(kSceneFragmentFunction, &sceneFragmentProgram);
        return true;
    }();
    (void)registered;
}

} // namespace qv
