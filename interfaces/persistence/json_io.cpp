#include "interfaces/persistence/json_io.h"

#include "platform/core/document_file.h"

#include <cerrno>
#include <cstring>

namespace qv::persistence {

Result<std::string> dumpChecked(const Json &value, const std::string &source) {
    auto text = platform::json::dumpChecked(value, source, 2);
    if (!text) return text.error();
    return std::move(*text) + "\n";
}

Result<std::string> readTextFile(const std::filesystem::path &file) {
    const std::filesystem::path folder =
        file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    auto text = platform::readDocumentFile(folder, file.filename().string());
    if (!text) return text.error();
    if (!text->has_value()) return Error{file.string() + ": cannot open: " + std::strerror(ENOENT)};
    return std::move(**text);
}

} // namespace qv::persistence
