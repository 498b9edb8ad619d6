// ExportEngine::defaultOutputURL and the folder and name rules behind it.
#include "Outfitter/export_engine.h"

#include <pwd.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <fstream>
#include <locale.h>

namespace qv {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> homeDirectory() {
    if (const char *home = std::getenv("HOME"); home && *home) return fs::path(home);
    if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir)
        return fs::path(pw->pw_dir);
    return std::nullopt;
}

// XDG_VIDEOS_DIR="$HOME/Videos" from the user-dirs file, with $HOME expanded.
std::optional<fs::path> xdgVideosDir(const fs::path &home) {
    fs::path config = home / ".config";
    if (const char *c = std::getenv("XDG_CONFIG_HOME"); c && *c == '/') config = c;
    std::ifstream in(config / "user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_VIDEOS_DIR=";
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) return home / fs::path(value.substr(5)).relative_path();
        if (!value.empty() && value.front() == '/') return fs::path(value);
    }
    return std::nullopt;
}

// Letters and numbers in the Unicode sense, through the C.UTF-8 locale's character classes.
locale_t unicodeLocale() {
    static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    return loc;
}

char32_t decode(const std::string &s, std::size_t &i) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) {
        ++i;
        return 0xFFFD;
    }
    char32_t c = n == 1 ? b : (b & (0x7F >> n));
    for (std::size_t k = 1; k < n; ++k) {
        const auto cont = static_cast<unsigned char>(s[i + k]);
        if ((cont & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        c = (c << 6) | (cont & 0x3F);
    }
    i += n;
    return c;
}

void encode(char32_t c, std::string &out) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// Marks that combine with the character before them (an accent written separately).
bool isCombiningMark(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) ||
           (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x20D0 && c <= 0x20FF) ||
           (c >= 0xFE20 && c <= 0xFE2F);
}

} // namespace

std::optional<fs::path> ExportEngine::moviesDirectory() {
    const auto home = homeDirectory();
    if (!home) return std::nullopt;
    if (auto videos = xdgVideosDir(*home)) return videos;
    return *home / "Videos";
}

std::string ExportEngine::baseName(const RecordingMeta &meta) {
    const locale_t loc = unicodeLocale();
    std::string out;
    bool lastKept = false;
    const std::string &name = meta.sourceName;
    for (std::size_t i = 0; i < name.size();) {
        char32_t c = decode(name, i);
        if (c == U' ') c = U'-';
        const auto wc = static_cast<wint_t>(c);
        bool keep = false;
        if (c == U'-') {
            keep = true;
        } else if (loc) {
            c = static_cast<char32_t>(towlower_l(wc, loc));
            keep = iswalnum_l(static_cast<wint_t>(c), loc) != 0;
        } else {
            c = static_cast<char32_t>(std::towlower(wc));
            keep = std::iswalnum(static_cast<wint_t>(c)) != 0;
        }
        // An accent written as its own mark stays with the letter it belongs to.
        if (!keep && lastKept && isCombiningMark(c)) keep = true;
        if (keep) encode(c, out);
        lastKept = keep && c != U'-';
    }
    return out.empty() ? meta.id : out;
}

fs::path ExportEngine::defaultOutputURL(const RecordingMeta &meta, ExportPreset preset,
                                        const std::optional<fs::path> &in) {
    fs::path folder;
    if (in)
        folder = *in;
    else if (auto movies = moviesDirectory())
        folder = *movies;
    else
        folder = fs::temp_directory_path();
    const std::string base = baseName(meta);
    const std::string extension = std::string(".") + std::string(preset.fileExtension());
    std::error_code ec;
    fs::path candidate = folder / (base + extension);
    for (std::uint64_t counter = 2; fs::exists(fs::symlink_status(candidate, ec)); ++counter)
        candidate = folder / (base + " (" + std::to_string(counter) + ")" + extension);
    return candidate;
}

} // namespace qv
