// Runs a decoded model on float32 tensors, one operator after the other on the calling thread.
// Loading checks every operator's tensors (types, shapes, constant weights) against what the
// operator needs, turns half-precision weights into single precision, packs the weights for the
// kernels, fuses an activation into the operator before it when nothing else reads that
// operator's output, and lets tensors whose lives do not overlap share memory.
//
// Thread safety: one thread at a time per interpreter (run() writes its tensors).
// Lifetime: owns everything it uses; the ModelFile may be dropped after create().
#pragma once

#include "platform/core/result.h"
#include "platform/inference/kernels.h"
#include "platform/inference/tflite_model.h"

#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace qv::platform::inference {

class Interpreter {
public:
    // Fails naming the model, the operator and the problem. `k` is the kernel set to run with.
    static Result<std::unique_ptr<Interpreter>> create(const ModelFile &model,
                                                       const Kernels &k = kernels());

    Shape inputShape() const noexcept { return tensors_[inputIndex_].shape; }
    Shape outputShape() const noexcept { return tensors_[outputIndex_].shape; }
    // The input to fill before run(), and the result after it.
    float *input() noexcept { return tensors_[inputIndex_].data; }
    const float *output() const noexcept { return tensors_[outputIndex_].data; }

    void run();

    // Operators left after fusion, for the record.
    std::size_t stepCount() const noexcept { return steps_.size(); }

private:
    struct Tensor {
        Shape shape;
        float *data = nullptr;
        std::vector<float> constant; // the values of a float constant
        std::vector<int> ints;       // the values of an int32 constant
        bool isConstant = false;
    };
    friend class InterpreterBuilder;

    explicit Interpreter(const Kernels &k) : kernels_(&k) {}

    const Kernels *kernels_;
    std::vector<Tensor> tensors_;
    std::vector<std::unique_ptr<float[]>> arena_;
    std::deque<PackedWeights> packed_;     // deques: steps point at their elements
    std::deque<std::vector<float>> zeros_; // biases of operators that have none
    std::vector<std::function<void()>> steps_;
    std::vector<float> scratch_;
    int inputIndex_ = 0;
    int outputIndex_ = 0;
};

} // namespace qv::platform::inference
