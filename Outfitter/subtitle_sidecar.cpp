#include "Outfitter/subtitle_sidecar.h"

#include "Outfitter/side_file.h"

#include <algorithm>
#include <cstdio>

namespace qv::SubtitleSidecar {

namespace {

bool isWhiteSpaceOrLineBreak(char32_t c) {
    switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

// Decodes the UTF-8 sequence at `i`; `length` is 1 for a byte that starts no valid sequence.
char32_t decodeAt(std::string_view s, std::size_t i, std::size_t &length) {
    const auto b = static_cast<unsigned char>(s[i]);
    length = 1;
    if (b < 0x80) return b;
    const std::size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0xFFFD;
    char32_t c = b & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        const auto cont = static_cast<unsigned char>(s[i + k]);
        if ((cont & 0xC0) != 0x80) return 0xFFFD;
        c = (c << 6) | (cont & 0x3F);
    }
    length = n;
    return c;
}

} // namespace

std::string_view trimmed(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t n = 0;
        if (!isWhiteSpaceOrLineBreak(decodeAt(text, begin, n))) break;
        begin += n;
    }
    std::size_t end = text.size();
    while (end > begin) {
        // Step back to the start of the last sequence.
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        std::size_t n = 0;
        const char32_t c = decodeAt(text, start, n);
        if (start + n != end || !isWhiteSpaceOrLineBreak(c)) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

std::string cueTime(std::int64_t t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld,%03lld",
                  static_cast<long long>(t / 3600000), static_cast<long long>(t % 3600000 / 60000),
                  static_cast<long long>(t % 60000 / 1000), static_cast<long long>(t % 1000));
    return buf;
}

std::vector<Edits::Caption> captionsOnTimeline(const std::vector<Edits::Caption> &captions,
                                               const SegmentMap &segments,
                                               std::int64_t sourceDurationMs) {
    if (segments.keepsSourceUnchanged(sourceDurationMs)) return captions;
    std::vector<Edits::Caption> out;
    for (const Edits::Caption &c : captions) {
        // The end is inclusive; a caption that ends where it starts still shows for a moment.
        const std::int64_t end = c.endMs > c.startMs     ? c.endMs
                                 : c.startMs < INT64_MAX ? c.startMs + 1
                                                         : c.startMs;
        for (const SegmentMap::TimelineRange &r : segments.timelineRanges(c.startMs, end)) {
            Edits::Caption piece = c;
            piece.startMs = r.startMs;
            piece.endMs = r.endMs;
            out.push_back(std::move(piece));
        }
    }
    return out;
}

std::optional<std::string> document(const std::vector<Edits::Caption> &captions) {
    std::vector<const Edits::Caption *> kept;
    for (const auto &c : captions)
        if (!trimmed(c.text).empty()) kept.push_back(&c);
    std::stable_sort(
        kept.begin(), kept.end(),
        [](const Edits::Caption *a, const Edits::Caption *b) { return a->startMs < b->startMs; });
    if (kept.empty()) return std::nullopt;
    std::string out;
    int number = 1;
    for (const Edits::Caption *c : kept) {
        const std::int64_t start = std::max<std::int64_t>(c->startMs, 0);
        // Every cue lasts at least a millisecond; the +1 cannot overflow for document times.
        const std::int64_t end = std::max<std::int64_t>(
            std::max(c->endMs, c->startMs < INT64_MAX ? c->startMs + 1 : c->startMs), 0);
        out += std::to_string(number++) + "\n";
        out += cueTime(start) + " --> " + cueTime(end) + "\n";
        out += std::string(trimmed(c->text)) + "\n\n";
    }
    return out;
}

Status write(const std::vector<Edits::Caption> &captions, const std::filesystem::path &videoURL) {
    const auto file = outfitter::sideFilePath(videoURL, "srt");
    try {
        if (auto text = document(captions)) return outfitter::writeSideFile(file, *text);
        return Ok{};
    } catch (const std::exception &e) {
        return Error{file.string() + ": cannot make the captions: " + e.what()};
    }
}

} // namespace qv::SubtitleSidecar
