// Internal to the device backends: the fragment programs registered by name and the
// compile-failure test hook. Thread-safe.
#pragma once

#include "platform/gfx/device.h"

#include <optional>
#include <string>

namespace qv::platform::gfx::detail {

std::optional<FragmentProgram> findFragmentProgram(const std::string &name);
bool pipelineCompileFailureForced();

} // namespace qv::platform::gfx::detail
