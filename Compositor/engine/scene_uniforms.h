// The parameter block of the compositing pass: 58 32-bit floats in a fixed order, bound as
// fragment buffer 0, and the mask rectangle list bound as fragment buffer 1. Flags are 1 for on
// and 0 for off; a flag counts as on above 0.5.
#pragma once

#include <array>
#include <cstddef>

namespace qv {

struct SceneUniforms {
    float canvasW, canvasH;
    float srX, srY, srW, srH;
    float contentW, contentH;
    float cropX, cropY;
    float screenTexW, screenTexH;
    float winX, winY, winW, winH;
    float screenW, screenH;
    float letterbox;
    float zoomActive;
    float zoomS;
    float focusX, focusY;
    float hasScreen;
    float tX, tY, tW, tH;
    float radius;
    float barY0, barY1;
    float hasCursor;
    float curX, curY, curW, curH;
    float hasClick;
    float clickKind;
    float clickCX, clickCY;
    float clickRadius, clickLineW, clickAlpha;
    float maskCount;
    float hasOverlay;
    float hasWebcam;
    float wdX, wdY, wdW, wdH;
    float wShape;
    float wRadius;
    float wAlpha;
    float wRemoveBg;
    float camW, camH;
    float hasShadow;
    float hasHairline;
};

static_assert(sizeof(SceneUniforms) == 232, "the pass reads a 232-byte block");
static_assert(offsetof(SceneUniforms, srX) == 2 * 4);
static_assert(offsetof(SceneUniforms, letterbox) == 18 * 4);
static_assert(offsetof(SceneUniforms, hasScreen) == 23 * 4);
static_assert(offsetof(SceneUniforms, radius) == 28 * 4);
static_assert(offsetof(SceneUniforms, hasCursor) == 31 * 4);
static_assert(offsetof(SceneUniforms, hasClick) == 36 * 4);
static_assert(offsetof(SceneUniforms, maskCount) == 43 * 4);
static_assert(offsetof(SceneUniforms, wdX) == 46 * 4);
static_assert(offsetof(SceneUniforms, camW) == 54 * 4);
static_assert(offsetof(SceneUniforms, hasHairline) == 57 * 4);

// A privacy mask in content space, y-up.
struct MaskRect {
    float x, y, width, height;
};
static_assert(sizeof(MaskRect) == 16);

inline constexpr int kMaxMasks = 8;

// Texture slots of the pass.
enum SceneSlot : int {
    slotBehind = 0,
    slotScreen = 1,
    slotChrome = 2,
    slotBorder = 3,
    slotCursor = 4,
    slotOverlay = 5,
    slotCamera = 6,
    slotPersonMask = 7,
    slotCamShadow = 8,
    slotCamHairline = 9,
    sceneSlotCount = 10,
};

// The names under which the pass's program is registered with the device.
inline constexpr const char *kSceneVertexFunction = "sceneV";
inline constexpr const char *kSceneFragmentFunction = "sceneF";

} // namespace qv
