#include "Outfitter/side_file.h"

#include "platform/media/movie_writer.h"

#include <fstream>

namespace qv::outfitter {

bool writeSideFile(const std::filesystem::path &file, std::string_view contents) noexcept {
    try {
        auto temporary = platform::media::makeTemporarySibling(file);
        if (!temporary) return false;
        const std::filesystem::path temp = temporary.value();
        bool written = false;
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
            out.flush();
            written = static_cast<bool>(out);
        }
        if (written && platform::media::commitTemporary(temp, file)) return true;
        std::error_code ec;
        std::filesystem::remove(temp, ec);
        return false;
    } catch (...) {
        return false;
    }
}

std::filesystem::path sideFilePath(const std::filesystem::path &movie, std::string_view extension) {
    std::filesystem::path p = movie;
    p.replace_extension(std::string(extension));
    return p;
}

} // namespace qv::outfitter
