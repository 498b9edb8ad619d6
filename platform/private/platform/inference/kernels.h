// The arithmetic of the segmentation runtime on float32 tensors in NHWC order with one image
// (batch 1). The hot operators (matrix products behind the convolutions, depthwise convolution,
// element-wise activations and arithmetic) come in a scalar and an AVX2 set with the same
// contract; `kernels()` picks the set the processor can run. The others are scalar only.
//
// Thread safety: every function is pure over its arguments. Lifetime: nothing is kept.
#pragma once

#include "platform/inference/tflite_model.h"

#include <cstddef>
#include <vector>

namespace qv::platform::inference {

struct Shape {
    int h = 1;
    int w = 1;
    int c = 1;
    std::size_t size() const noexcept { return static_cast<std::size_t>(h) * w * c; }
    bool operator==(const Shape &) const = default;
};

// Weights of a matrix product out[m][n] = act(bias[n] + sum_k a[m][k] * w[n][k]), rearranged at
// load time as [k][n] with n padded to a multiple of 8 so that the kernels read whole vectors.
struct PackedWeights {
    int k = 0;
    int n = 0;
    int nPadded = 0;
    std::vector<float> w;    // k * nPadded
    std::vector<float> bias; // nPadded
};

// `weights` holds n rows of k values; `bias` n values or null for zeros.
PackedWeights packWeights(const float *weights, const float *bias, int n, int k);

struct GemmArgs {
    const float *a = nullptr; // m rows of k values, `lda` apart
    int m = 0;
    std::size_t lda = 0;
    const PackedWeights *w = nullptr;
    float *out = nullptr; // m rows of n values, `ldo` apart
    std::size_t ldo = 0;
    Activation act = Activation::none;
};

// A convolution or pooling window: its size, its steps, and how far its first position
// overhangs the input's top and left edges (the padding).
struct Window2d {
    int kh = 1;
    int kw = 1;
    int strideH = 1;
    int strideW = 1;
    int padTop = 0;
    int padLeft = 0;
};

struct DepthwiseArgs {
    const float *in = nullptr;
    Shape inShape;
    const float *weights = nullptr; // [kh][kw][c]
    const float *bias = nullptr;    // [c]
    Window2d win;
    float *out = nullptr;
    Shape outShape;
    Activation act = Activation::none;
};

struct Kernels {
    const char *name;
    void (*gemm)(const GemmArgs &args);
    void (*depthwise)(const DepthwiseArgs &args);
    // out[i] = act(in[i]); `in` may equal `out`.
    void (*activate)(const float *in, float *out, std::size_t count, Activation act);
    // out[i] = act(a[i] + b[i]).
    void (*add)(const float *a, const float *b, float *out, std::size_t count, Activation act);
    // out[p][c] = act(a[p][c] * b[p][c]), or act(a[p][c] * b[c]) when `bPerChannel`.
    void (*mul)(const float *a, const float *b, bool bPerChannel, float *out, std::size_t pixels,
                int channels, Activation act);
};

const Kernels &scalarKernels() noexcept;
// Null when the processor lacks AVX2 and FMA.
const Kernels *avx2Kernels() noexcept;
// The fastest set the processor runs.
const Kernels &kernels() noexcept;

// Padding before the first row or column of a convolution or pooling window, and the output size.
struct Window {
    int out = 0;
    int padBefore = 0;
};
Window windowFor(Padding padding, int in, int filter, int stride) noexcept;

// A convolution with any kernel size: each output row's input patches are gathered into
// `scratch` ([out.w][kh * kw * in.c], zero outside the input) and multiplied by `w`, whose k
// runs over (ky, kx, c).
struct ConvArgs {
    const float *in = nullptr;
    Shape inShape;
    const PackedWeights *w = nullptr;
    Window2d win;
    float *out = nullptr;
    Shape outShape;
    Activation act = Activation::none;
};
void conv2d(const Kernels &k, const ConvArgs &args, std::vector<float> &scratch);

// Transposed convolution with bias: `w` has k = in.c and n = kh * kw * outC in (ky, kx, o)
// order; each input pixel's products are added into the outputs its window covers.
struct TransposeConvArgs {
    const float *in = nullptr;
    Shape inShape;
    const PackedWeights *w = nullptr;
    const float *bias = nullptr; // [out.c]
    Window2d win;
    float *out = nullptr;
    Shape outShape;
};
void transposeConv(const Kernels &k, const TransposeConvArgs &args, std::vector<float> &scratch);

// Average over the in-bounds part of each window.
struct PoolArgs {
    const float *in = nullptr;
    Shape inShape;
    Window2d win;
    float *out = nullptr;
    Shape outShape;
    Activation act = Activation::none;
};
void averagePool(const PoolArgs &args);

// Mean over height and width: out has `in.c` values.
void meanOverPixels(const float *in, Shape inShape, float *out);

void resizeBilinear(const float *in, Shape inShape, float *out, Shape outShape, bool alignCorners,
                    bool halfPixelCenters);

// IEEE half precision to single.
float halfToFloat(std::uint16_t h) noexcept;

} // namespace qv::platform::inference
