#include "interfaces/persistence/window_crop.h"

#include "interfaces/persistence/json_io.h"

#include <algorithm>

namespace qv {

using persistence::DecodeFailure;
using persistence::Decoder;
using persistence::elementPath;
using persistence::Json;
using persistence::memberPath;

namespace {

constexpr int kFormatVersion = 1;

WindowCrop decodeCrop(const Decoder &d, const Json &root) {
    d.readFormatVersion(root);
    d.requireAll(root, "", {"captureWidth", "captureHeight", "samples"});
    WindowCrop crop;
    d.readRequired(root, "", "captureWidth", crop.captureWidth);
    d.readRequired(root, "", "captureHeight", crop.captureHeight);
    if (crop.captureWidth <= 0)
        d.fail("captureWidth", "must be positive, found " + std::to_string(crop.captureWidth));
    if (crop.captureHeight <= 0)
        d.fail("captureHeight", "must be positive, found " + std::to_string(crop.captureHeight));
    d.read(root, "", "canvasMode", crop.canvasMode);

    const Json &samples = d.asArray(d.require(root, "", "samples"), "samples");
    if (samples.empty()) d.fail("samples", "needs at least one sample");
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::string p = elementPath("samples", i);
        const Json &o = d.asObject(samples[i], p);
        d.requireAll(o, p, {"tMs", "x", "y", "width", "height"});
        WindowCrop::Sample s;
        d.readRequired(o, p, "tMs", s.tMs);
        d.readRequired(o, p, "x", s.x);
        d.readRequired(o, p, "y", s.y);
        d.readRequired(o, p, "width", s.width);
        d.readRequired(o, p, "height", s.height);
        if (s.width < 0) d.fail(memberPath(p, "width"), "must not be negative");
        if (s.height < 0) d.fail(memberPath(p, "height"), "must not be negative");
        // sample() searches by time, which needs them in order.
        if (!crop.samples.empty() && s.tMs < crop.samples.back().tMs)
            d.fail(memberPath(p, "tMs"), "time " + std::to_string(s.tMs) +
                                             " is before the previous sample's " +
                                             std::to_string(crop.samples.back().tMs));
        crop.samples.push_back(s);
    }
    return crop;
}

} // namespace

WindowCrop::Sample WindowCrop::sample(std::int64_t atSourceMs) const noexcept {
    if (samples.empty())
        return Sample{0, 0, 0, static_cast<double>(captureWidth),
                      static_cast<double>(captureHeight)};
    auto it = std::upper_bound(samples.begin(), samples.end(), atSourceMs,
                               [](std::int64_t t, const Sample &s) { return t < s.tMs; });
    return it == samples.begin() ? samples.front() : *(it - 1);
}

std::optional<Size> WindowCrop::canonicalSize() const noexcept {
    if (samples.empty()) return std::nullopt;
    if (!isMaxObserved()) return Size{samples.front().width, samples.front().height};
    Size largest{0, 0};
    for (const auto &s : samples) {
        largest.width = std::max(largest.width, s.width);
        largest.height = std::max(largest.height, s.height);
    }
    return largest;
}

Result<WindowCrop> WindowCrop::decode(std::string_view json, const std::string &source) {
    return persistence::guardedDecode<WindowCrop>(source, [&] {
        Decoder d(source);
        return decodeCrop(d, d.parseObject(json));
    });
}

std::string WindowCrop::encode() const {
    Json root = Json::object();
    root["formatVersion"] = kFormatVersion;
    root["captureWidth"] = captureWidth;
    root["captureHeight"] = captureHeight;
    if (canvasMode) root["canvasMode"] = *canvasMode;
    Json list = Json::array();
    for (const auto &s : samples)
        list.push_back(
            Json{{"tMs", s.tMs}, {"x", s.x}, {"y", s.y}, {"width", s.width}, {"height", s.height}});
    root["samples"] = std::move(list);
    return root.dump(2) + "\n";
}

std::optional<WindowCrop> WindowCrop::read(const std::filesystem::path &directory,
                                           const std::string &fileName) {
    auto crop = load(directory, fileName);
    if (!crop) return std::nullopt;
    return std::move(crop).value();
}

Result<WindowCrop> WindowCrop::load(const std::filesystem::path &directory,
                                    const std::string &fileName) {
    // The name comes from a document that may have been edited by hand or by someone else.
    if (!isContainedFileName(fileName))
        return Error{"window crop file name \"" + fileName + "\" is not a plain name inside " +
                     directory.string()};
    const std::filesystem::path file = directory / fileName;
    auto text = persistence::readTextFile(file);
    if (!text) return text.error();
    return decode(*text, file.string());
}

} // namespace qv
