// The parts of a TFLite model file that the person-segmentation runtime needs: the first
// subgraph's tensors (shape, element type, constant data) and its operators with their options.
// Only the operators the runtime implements are accepted; anything else is an error that names
// the file, the operator and the problem.
//
// Thread safety: plain values. Lifetime: tensor data points into `bytes`, so a ModelFile must not
// be copied piecemeal (move it whole).
#pragma once

#include "platform/core/result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv::platform::inference {

enum class TensorType : std::int8_t { float32 = 0, float16 = 1, int32 = 2 };

enum class OpKind {
    add,
    averagePool2d,
    conv2d,
    depthwiseConv2d,
    dequantize,
    hardSwish,
    logistic,
    mean,
    mul,
    relu,
    resizeBilinear,
    transposeConvBias, // the custom "Convolution2DTransposeBias"
};

const char *opKindName(OpKind kind) noexcept;

enum class Padding { same, valid };

// An activation fused into an operator's output.
enum class Activation { none, relu, relu6, hardSwish, logistic };

struct TensorInfo {
    std::string name;
    std::vector<int> shape;
    TensorType type = TensorType::float32;
    std::span<const std::uint8_t> data; // empty unless the tensor is a constant
};

struct OpInfo {
    OpKind kind = OpKind::add;
    std::vector<int> inputs;
    std::vector<int> outputs;
    Padding padding = Padding::same;
    int strideW = 1;
    int strideH = 1;
    int filterW = 1; // pooling only
    int filterH = 1;
    int depthMultiplier = 1;
    int dilationW = 1;
    int dilationH = 1;
    Activation activation = Activation::none;
    bool alignCorners = false;
    bool halfPixelCenters = false;
    bool keepDims = false;
};

struct ModelFile {
    std::string name; // for error messages: the file it was read from
    std::vector<std::uint8_t> bytes;
    std::vector<TensorInfo> tensors;
    std::vector<OpInfo> ops;
    std::vector<int> inputs;
    std::vector<int> outputs;
};

// Decodes a model held in memory; `name` labels the errors. Every offset, length and index is
// checked against the data, so a truncated or damaged file is an error, never a crash.
Result<ModelFile> parseModel(std::vector<std::uint8_t> bytes, std::string name);

Result<ModelFile> readModel(const std::filesystem::path &path);

} // namespace qv::platform::inference
