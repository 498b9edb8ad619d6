// Reading a recording's own small files (JSON documents, and the media it names) safely: only a
// regular file that lies inside the recording folder, never a FIFO or device that would block
// or never end, and documents only up to a size cap so that a runaway file cannot exhaust
// memory. Every error names the file and the problem.
#pragma once

#include "platform/core/result.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qv::platform {

// The largest document read: far above an hour of pointer samples at 60 a second.
inline constexpr std::uintmax_t maxDocumentBytes = std::uintmax_t(64) << 20;

// The contents of `directory`/`name`; nullopt when no such entry exists at all (a dangling link
// exists, and is an error). `name` must be a plain file name.
Result<std::optional<std::string>> readDocumentFile(const std::filesystem::path &directory,
                                                    std::string_view name,
                                                    std::uintmax_t maxBytes = maxDocumentBytes);

// Succeeds when `file` is a regular file, reached only through links that stay inside
// `directory`. Checked before a media file is opened by a library that would block on a FIFO.
Status checkRecordingFile(const std::filesystem::path &directory,
                          const std::filesystem::path &file);

// A plain name inside a folder: no separators, not "." or "..", not empty.
bool isContainedFileName(std::string_view name) noexcept;

} // namespace qv::platform
