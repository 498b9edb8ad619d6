#include "scene_pass_reference.h"

#include <algorithm>
#include <cmath>

namespace qv::testing {

namespace {

struct RGBAf {
    float r = 0, g = 0, b = 0, a = 0;
};

bool on(float flag) {
    return flag > 0.5f;
}

RGBAf texel(const platform::gfx::Texture &t, int x, int y) {
    const std::uint8_t *p = t.buffer().row(y);
    if (t.format() == platform::PixelFormat::r8) return {p[x] / 255.0f, 0, 0, 1};
    p += 4 * x;
    return {p[2] / 255.0f, p[1] / 255.0f, p[0] / 255.0f, p[3] / 255.0f};
}

// Bilinear with clamp-to-edge, normalised coordinates, texel centres at half-integers.
RGBAf sample(const platform::gfx::Texture &t, float u, float v) {
    const float x = u * t.width() - 0.5f, y = v * t.height() - 0.5f;
    const float fx0 = std::floor(x), fy0 = std::floor(y);
    const float fx = x - fx0, fy = y - fy0;
    auto cx = [&](float i) { return static_cast<int>(std::clamp(i, 0.0f, float(t.width() - 1))); };
    auto cy = [&](float j) { return static_cast<int>(std::clamp(j, 0.0f, float(t.height() - 1))); };
    const RGBAf a = texel(t, cx(fx0), cy(fy0)), b = texel(t, cx(fx0 + 1), cy(fy0));
    const RGBAf c = texel(t, cx(fx0), cy(fy0 + 1)), d = texel(t, cx(fx0 + 1), cy(fy0 + 1));
    auto lerp = [](float p, float q, float f) { return p + (q - p) * f; };
    auto mix = [&](const RGBAf &p, const RGBAf &q, float f) {
        return RGBAf{lerp(p.r, q.r, f), lerp(p.g, q.g, f), lerp(p.b, q.b, f), lerp(p.a, q.a, f)};
    };
    return mix(mix(a, b, fx), mix(c, d, fx), fy);
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

// out := layer over out, premultiplied.
void over(RGBf &out, const RGBAf &l) {
    out.r = out.r * (1 - l.a) + l.r;
    out.g = out.g * (1 - l.a) + l.g;
    out.b = out.b * (1 - l.a) + l.b;
}

} // namespace

RGBf scenePixelReference(float X, float Yf, const SceneUniforms &u, std::span<const MaskRect> masks,
                         const SceneTextures &tex) {
    const float Y = u.canvasH - Yf;
    const float cu = X / u.canvasW, cv = Yf / u.canvasH;

    // 1. The opaque background.
    const RGBAf behind = sample(*tex[slotBehind], cu, cv);
    RGBf out{behind.r, behind.g, behind.b};

    // 2.-11. The window layer: chrome bar, or the screen content with its decorations.
    RGBAf win;
    const bool inBar = u.barY0 <= Y && Y < u.barY1 && u.tX <= X && X < u.tX + u.tW;
    if (inBar) {
        win = sample(*tex[slotChrome], cu, cv);
    } else if (on(u.hasScreen) && u.srX <= X && X < u.srX + u.srW && u.srY <= Y &&
               Y < u.srY + u.srH) {
        const float qx = (X - u.srX) * u.contentW / u.srW;
        const float qy = (Y - u.srY) * u.contentH / u.srH;
        float px = qx, py = qy;
        if (on(u.zoomActive)) {
            px = (qx - u.contentW / 2) / u.zoomS + u.focusX;
            py = (qy - u.contentH / 2) / u.zoomS + u.focusY;
        }
        if (0 <= px && px <= u.contentW && 0 <= py && py <= u.contentH) {
            const float sx = px + u.cropX, sy = py + u.cropY;
            bool outsideWindow = false;
            float capX, capY;
            if (on(u.letterbox)) {
                const float yBottom = u.screenH - u.winH;
                outsideWindow = sx >= u.winW || sx < 0 || sy < yBottom || sy >= u.screenH;
                capX = u.winX + sx;
                capY = u.winY + (sy - yBottom);
            } else {
                capX = u.winX + (sx / u.screenW) * u.winW;
                capY = u.winY + (sy / u.screenH) * u.winH;
            }
            RGBAf c;
            if (!outsideWindow) {
                c = sample(*tex[slotScreen], capX / u.screenTexW,
                           (u.screenTexH - capY) / u.screenTexH);
                if (on(u.hasClick)) {
                    const float dx = px - u.clickCX, dy = py - u.clickCY;
                    const float d = std::sqrt(dx * dx + dy * dy);
                    float a;
                    if (u.clickKind < 1.5f) {
                        a = u.clickAlpha * std::max(0.0f, 1 - d / u.clickRadius);
                    } else {
                        const float edge = std::fabs(d - u.clickRadius) - u.clickLineW / 2;
                        a = u.clickAlpha * std::clamp(0.5f - edge, 0.0f, 1.0f);
                    }
                    c.r = c.r * (1 - a) + a;
                    c.g = c.g * (1 - a) + a;
                    c.b = c.b * (1 - a) + a;
                    c.a = c.a + a * (1 - c.a);
                }
                if (on(u.hasCursor) && u.curX <= px && px < u.curX + u.curW && u.curY <= py &&
                    py < u.curY + u.curH) {
                    const RGBAf s =
                        sample(*tex[slotCursor], (px - u.curX) / u.curW, (py - u.curY) / u.curH);
                    c.r = c.r * (1 - s.a) + s.r;
                    c.g = c.g * (1 - s.a) + s.g;
                    c.b = c.b * (1 - s.a) + s.b;
                    c.a = c.a + s.a * (1 - c.a);
                }
                const int count = static_cast<int>(u.maskCount);
                for (int k = 0; k < count && k < static_cast<int>(masks.size()); ++k) {
                    const MaskRect &m = masks[k];
                    if (m.x <= px && px < m.x + m.width && m.y <= py && py < m.y + m.height)
                        c = {0.05f, 0.05f, 0.06f, 1};
                }
            }
            win = c;
        }
    }

    // 12. Rounded frame clip, bar included.
    const float cov = roundedCoverage(X, Y, u.tX, u.tY, u.tW, u.tH, u.radius);
    out.r = out.r * (1 - win.a * cov) + win.r * cov;
    out.g = out.g * (1 - win.a * cov) + win.g * cov;
    out.b = out.b * (1 - win.a * cov) + win.b * cov;

    // 13. Border.
    over(out, sample(*tex[slotBorder], cu, cv));

    // 14. Webcam bubble.
    if (on(u.hasWebcam)) {
        if (on(u.hasShadow)) over(out, sample(*tex[slotCamShadow], cu, cv));
        if (u.wdX <= X && X < u.wdX + u.wdW && u.wdY <= Y && Y < u.wdY + u.wdH) {
            const float scale = std::max(u.wdW / u.camW, u.wdH / u.camH);
            const float sW = u.camW * scale, sH = u.camH * scale;
            const float ox = u.wdX + u.wdW / 2 - sW / 2, oy = u.wdY + u.wdH / 2 - sH / 2;
            const float cx = (X - ox) / scale, cy = (Y - oy) / scale;
            const float uvx = cx / u.camW, uvy = 1 - cy / u.camH;
            const RGBAf c = sample(*tex[slotCamera], uvx, uvy);
            float a = u.wAlpha;
            if (on(u.wRemoveBg)) a = a * sample(*tex[slotPersonMask], uvx, uvy).r;
            const float wc = u.wShape > 2.5f
                                 ? triangleCoverage(X, Y, u.wdX, u.wdY, u.wdW, u.wdH)
                                 : roundedCoverage(X, Y, u.wdX, u.wdY, u.wdW, u.wdH, u.wRadius);
            a = a * wc;
            out.r = out.r + (c.r - out.r) * a;
            out.g = out.g + (c.g - out.g) * a;
            out.b = out.b + (c.b - out.b) * a;
        }
        if (on(u.hasHairline)) over(out, sample(*tex[slotCamHairline], cu, cv));
    }

    // 15. Keystroke and caption overlay, above everything.
    if (on(u.hasOverlay)) over(out, sample(*tex[slotOverlay], cu, cv));
    return out;
}

void renderSceneReference(const SceneUniforms &u, std::span<const MaskRect> masks,
                          const SceneTextures &tex, platform::PixelBuffer &out) {
    auto byte = [](float v) {
        return static_cast<std::uint8_t>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f);
    };
    for (int j = 0; j < out.height(); ++j) {
        std::uint8_t *row = out.row(j);
        for (int i = 0; i < out.width(); ++i) {
            const RGBf c = scenePixelReference(i + 0.5f, j + 0.5f, u, masks, tex);
            row[4 * i + 0] = byte(c.b);
            row[4 * i + 1] = byte(c.g);
            row[4 * i + 2] = byte(c.r);
            row[4 * i + 3] = 255;
        }
    }
}

} // namespace qv::testing
