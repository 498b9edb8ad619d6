// The command-line entry points. Each returns the process exit status.
#pragma once

#include <string>
#include <vector>

namespace qv::cli {

using Args = std::vector<std::string>;

int frameCommand(const Args &args);
int exportCommand(const Args &args);
int demoCommand(const Args &args);
int cursorsCommand(const Args &args);
int wallpapersCommand(const Args &args);
int trackCommand(const Args &args);
int recordCommand(const Args &args);

} // namespace qv::cli
