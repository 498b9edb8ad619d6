// Shared plumbing of the document files: finite-number checks before writing and reading a
// document's text. Member reading comes from platform/core/json_document.h. Internal to the
// Persistence library.
#pragma once

#include "platform/core/json_document.h"
#include "platform/core/result.h"

#include <filesystem>
#include <string>

namespace qv::persistence {

// Member reading is the platform's JSON toolkit; what follows is the writing side and the file
// access the document types share.
using Json = platform::json::Value;
using platform::json::DecodeFailure;
using platform::json::Decoder;
using platform::json::elementPath;
using platform::json::guardedDecode;
using platform::json::memberPath;

// The document's text, indented by two spaces and ending in a newline; fails with a message
// naming the file and the member that holds a non-finite number.
Result<std::string> dumpChecked(const Json &value, const std::string &source);

// A document file's text: a regular file, reached by no link that leaves its folder, within the
// document size cap. A missing file is an error here.
Result<std::string> readTextFile(const std::filesystem::path &file);

} // namespace qv::persistence
