#include "platform/inference/person_segmenter.h"

#include "platform/core/resources.h"
#include "platform/inference/interpreter.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace qv::platform {

using inference::Interpreter;
using inference::Shape;

struct PersonSegmenter::Impl {
    std::unique_ptr<Interpreter> square;
    std::unique_ptr<Interpreter> landscape;
};

namespace {

Result<std::unique_ptr<Interpreter>> loadModel(const char *resource, int width, int height) {
    const auto path = findResource(resource);
    if (!path)
        return Error{std::string(resource) +
                     ": model not found in the resource folders (scripts/install-deps.sh fetches "
                     "it and the build copies it)"};
    auto file = inference::readModel(*path);
    if (!file) return file.error();
    auto it = Interpreter::create(*file);
    if (!it) return it.error();
    const Shape in = (*it)->inputShape(), out = (*it)->outputShape();
    if (in != Shape{height, width, 3} || out != Shape{height, width, 1})
        return Error{path->string() + ": expected a " + std::to_string(width) + "x" +
                     std::to_string(height) + " RGB input and a one-channel output of that size"};
    return it;
}

// One source column (or row) of a bilinear sample with pixel centres at half-integers.
struct Tap {
    int lo;
    int hi;
    float t;
};

std::vector<Tap> taps(int outSize, int inSize) {
    std::vector<Tap> out(static_cast<std::size_t>(outSize));
    const float scale = static_cast<float>(inSize) / static_cast<float>(outSize);
    for (int o = 0; o < outSize; ++o) {
        const float src = std::max((static_cast<float>(o) + 0.5f) * scale - 0.5f, 0.0f);
        const int lo = std::min(static_cast<int>(src), inSize - 1);
        out[static_cast<std::size_t>(o)] = {lo, std::min(lo + 1, inSize - 1),
                                            src - static_cast<float>(lo)};
    }
    return out;
}

// The frame stretched to the model's input: bilinear samples, RGB in [0, 1]. Camera frames are
// opaque, so the alpha channel is not looked at.
void fillInput(const PixelBuffer &frame, Shape in, float *dst) {
    const auto xs = taps(in.w, frame.width());
    const auto ys = taps(in.h, frame.height());
    constexpr float kScale = 1.0f / 255.0f;
    for (const Tap &ty : ys) {
        const std::uint8_t *r0 = frame.row(ty.lo);
        const std::uint8_t *r1 = frame.row(ty.hi);
        for (const Tap &tx : xs) {
            const std::uint8_t *a = r0 + 4 * tx.lo, *b = r0 + 4 * tx.hi;
            const std::uint8_t *c = r1 + 4 * tx.lo, *d = r1 + 4 * tx.hi;
            for (int ch = 2; ch >= 0; --ch) { // BGRA in memory, RGB out
                const float top = a[ch] + (b[ch] - a[ch]) * tx.t;
                const float bottom = c[ch] + (d[ch] - c[ch]) * tx.t;
                *dst++ = (top + (bottom - top) * ty.t) * kScale;
            }
        }
    }
}

} // namespace

PersonSegmenter::PersonSegmenter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {
}
PersonSegmenter::~PersonSegmenter() = default;

Result<std::unique_ptr<PersonSegmenter>> PersonSegmenter::open() {
    auto impl = std::make_unique<Impl>();
    auto square = loadModel("models/selfie_segmentation.tflite", 256, 256);
    if (!square) return square.error();
    auto landscape = loadModel("models/selfie_segmentation_landscape.tflite", 256, 144);
    if (!landscape) return landscape.error();
    impl->square = std::move(*square);
    impl->landscape = std::move(*landscape);
    return std::unique_ptr<PersonSegmenter>(new PersonSegmenter(std::move(impl)));
}

Result<PixelBufferRef> PersonSegmenter::segment(const PixelBuffer &frame, ModelChoice choice) {
    if (frame.format() != PixelFormat::bgra8)
        return Error{"person segmentation: the frame is not BGRA"};
    if (choice == ModelChoice::byAspect) {
        const bool wide =
            static_cast<long long>(frame.width()) * 3 > static_cast<long long>(frame.height()) * 4;
        choice = wide ? ModelChoice::landscape : ModelChoice::square;
    }
    Interpreter &model = choice == ModelChoice::landscape ? *impl_->landscape : *impl_->square;
    const Shape in = model.inputShape();
    fillInput(frame, in, model.input());
    model.run();
    auto mask = PixelBuffer::create(in.w, in.h, PixelFormat::r8);
    if (!mask) return Error{"person segmentation: cannot allocate the mask"};
    const float *p = model.output();
    for (int y = 0; y < in.h; ++y) {
        std::uint8_t *row = mask->row(y);
        for (int x = 0; x < in.w; ++x, ++p)
            row[x] =
                static_cast<std::uint8_t>(std::fmin(std::fmax(*p, 0.0f), 1.0f) * 255.0f + 0.5f);
    }
    return mask;
}

} // namespace qv::platform
