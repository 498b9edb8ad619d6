// The built-in synthetic scene of `quillvane frame --demo`: a desktop-like screen picture and
// an instruction that frames it with padding, rounded corners, a chrome bar, a zoom and a
// solid privacy mask.
#pragma once

#include "Compositor/engine/scene_instruction.h"
#include "platform/video/pixel_buffer.h"

#include <memory>

namespace qv::demo {

// A 2880 × 1800 desktop: wallpaper, a dock, two application windows with text and a form.
platform::PixelBufferRef desktopScreen(int width = 2880, int height = 1800);

// The demo's edit document (zoom from 1 s to 4 s on the form, a mask on its password field).
Edits demoEdits();

std::shared_ptr<const SceneInstruction> demoInstruction(Size renderSize, Size screenSize);

} // namespace qv::demo
