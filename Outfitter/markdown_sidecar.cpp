#include "Outfitter/markdown_sidecar.h"

#include "Outfitter/side_file.h"
#include "interfaces/persistence/window_crop.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <vector>

namespace qv::MarkdownSidecar {

namespace {

// The clicks as the report reads them: time, position and button; anything else in the file is
// ignored. One malformed click fails the whole file, which then gives no rows.
struct ClicksJSON {
    struct C {
        std::int64_t tMs = 0;
        double x = 0, y = 0;
        std::string button;
    };
    std::vector<C> clicks;
};

std::optional<ClicksJSON> decodeClicks(const std::filesystem::path &file) {
    auto read = platform::readDocumentFile(file.parent_path(), file.filename().string());
    if (!read || !read->has_value()) return std::nullopt;
    const auto json = nlohmann::json::parse(**read, nullptr, false);
    if (json.is_discarded() || !json.is_object()) return std::nullopt;
    const auto list = json.find("clicks");
    if (list == json.end() || !list->is_array()) return std::nullopt;
    ClicksJSON out;
    for (const auto &c : *list) {
        if (!c.is_object()) return std::nullopt;
        const auto t = c.find("tMs"), x = c.find("x"), y = c.find("y"), b = c.find("button");
        if (t == c.end() || x == c.end() || y == c.end() || b == c.end()) return std::nullopt;
        if (!x->is_number() || !y->is_number() || !b->is_string()) return std::nullopt;
        ClicksJSON::C click;
        if (t->is_number_unsigned()) {
            const auto v = t->get<std::uint64_t>();
            if (v > std::uint64_t(INT64_MAX)) return std::nullopt;
            click.tMs = static_cast<std::int64_t>(v);
        } else if (t->is_number_integer()) {
            click.tMs = t->get<std::int64_t>();
        } else if (t->is_number_float()) {
            // Whole numbers written with a fraction part are still integers.
            const double v = t->get<double>();
            if (!(std::trunc(v) == v && std::abs(v) < 9.2e18)) return std::nullopt;
            click.tMs = static_cast<std::int64_t>(v);
        } else {
            return std::nullopt;
        }
        click.x = x->get<double>();
        click.y = y->get<double>();
        click.button = b->get<std::string>();
        out.clicks.push_back(std::move(click));
    }
    return out;
}

// A coordinate truncated toward zero. Values no 64-bit integer holds are written as the
// truncated decimal all the same, so the row stays readable.
std::string truncated(double v) {
    char buf[64];
    if (std::isfinite(v) && std::abs(v) < 9.2e18)
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
    else if (std::isfinite(v))
        std::snprintf(buf, sizeof buf, "%.0f", std::trunc(v));
    else
        std::snprintf(buf, sizeof buf, "%s", std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf"));
    return buf;
}

std::optional<std::int64_t> integerSize(double v) {
    if (!std::isfinite(v) || std::abs(v) >= 9.2e18) return std::nullopt;
    return static_cast<std::int64_t>(v);
}

} // namespace

std::string minuteSecond(std::int64_t ms) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld", static_cast<long long>(ms / 60000),
                  static_cast<long long>(ms / 1000 % 60));
    return buf;
}

std::string dateText(double secondsSince1970) {
    const auto t = static_cast<std::time_t>(std::floor(secondsSince1970));
    std::tm local{};
    if (!localtime_r(&t, &local)) return "";
    char buf[64];
    if (std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &local) == 0) return "";
    return buf;
}

std::string document(const RecordingMeta &meta, const Edits &edits,
                     const std::filesystem::path &clicksURL, std::time_t exportedAt) {
    std::string tracks = "Screen";
    if (meta.hasWebcam) tracks += ", Webcam";
    if (meta.hasMicrophone) tracks += ", Mic";

    std::int64_t width = meta.width, height = meta.height;
    if (meta.windowCropFile) {
        const auto crop = WindowCrop::read(clicksURL.parent_path(), *meta.windowCropFile);
        if (crop) {
            if (const auto size = crop->canonicalSize()) {
                const auto w = integerSize(size->width), h = integerSize(size->height);
                if (w && h) {
                    width = *w;
                    height = *h;
                }
            }
        }
    }

    std::string out;
    out += "# Recording — " + dateText(double(meta.createdAtMs) / 1000.0);
    out += "\n\n- **Duration**: " + minuteSecond(std::max<std::int64_t>(meta.durationMs, 0));
    out += "\n- **Source**: " + meta.sourceName + " (" + std::to_string(width) + "×" +
           std::to_string(height);
    out += ")\n- **Tracks**: " + tracks;
    out += "\n- **Exported**: " + dateText(double(exportedAt));
    out += "\n\n## Click timeline\n\n| Time | Coords (x, y) | Button |\n| --- | --- | --- |\n";
    if (const auto clicks = decodeClicks(clicksURL)) {
        for (const auto &c : clicks->clicks) {
            if (c.tMs < 0 || c.tMs > meta.durationMs) continue;
            out += "| " + minuteSecond(c.tMs) + " " + "| " + truncated(c.x) + ", " +
                   truncated(c.y) + " | " + c.button + " |\n";
        }
    }
    out += "\n## Zoom keyframes\n\n";
    out += "| Time | Duration | Scale | Source |\n";
    out += "| --- | --- | --- | --- |\n";
    std::vector<Edits::Zoom> zooms = edits.zooms;
    std::stable_sort(zooms.begin(), zooms.end(), [](const Edits::Zoom &a, const Edits::Zoom &b) {
        return a.startMs < b.startMs;
    });
    for (const auto &z : zooms) {
        char duration[64], scale[64];
        std::snprintf(duration, sizeof duration, "%.1fs", double(z.durationMs) / 1000.0);
        std::snprintf(scale, sizeof scale, "%.1f×", z.scale);
        out += "| " + minuteSecond(std::max<std::int64_t>(z.startMs, 0)) + " " + "| " + duration +
               " " + "| " + scale + " " + "| " + (z.source != 0 ? "manual" : "smart") + " |\n";
    }
    return out;
}

Status write(const RecordingMeta &meta, const Edits &edits, const std::filesystem::path &clicksURL,
             const std::filesystem::path &videoURL) {
    const auto file = outfitter::sideFilePath(videoURL, "md");
    try {
        return outfitter::writeSideFile(file, document(meta, edits, clicksURL, std::time(nullptr)));
    } catch (const std::exception &e) {
        return Error{file.string() + ": cannot make the report: " + e.what()};
    }
}

} // namespace qv::MarkdownSidecar
