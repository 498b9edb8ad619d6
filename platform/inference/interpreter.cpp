#include "platform/inference/interpreter.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

namespace qv::platform::inference {

namespace {

struct Invalid {
    std::string what;
};

bool isActivationOp(OpKind k) {
    return k == OpKind::relu || k == OpKind::hardSwish || k == OpKind::logistic;
}

Activation activationOf(OpKind k) {
    switch (k) {
    case OpKind::relu:
        return Activation::relu;
    case OpKind::hardSwish:
        return Activation::hardSwish;
    case OpKind::logistic:
        return Activation::logistic;
    default:
        return Activation::none;
    }
}

// Operators whose kernels can apply an activation to their output.
bool takesActivation(OpKind k) {
    return k == OpKind::conv2d || k == OpKind::depthwiseConv2d || k == OpKind::add ||
           k == OpKind::mul;
}

std::string shapeText(const std::vector<int> &shape) {
    std::string s = "[";
    for (std::size_t i = 0; i < shape.size(); ++i) s += (i ? ", " : "") + std::to_string(shape[i]);
    return s + "]";
}

} // namespace

class InterpreterBuilder {
public:
    InterpreterBuilder(const ModelFile &model, Interpreter &it) : model_(model), it_(it) {}

    void build() {
        const auto &m = model_;
        if (m.inputs.size() != 1 || m.outputs.size() != 1)
            throw Invalid{"the model must have one input and one output"};
        it_.tensors_.resize(m.tensors.size());
        for (std::size_t i = 0; i < m.tensors.size(); ++i) loadTensor(static_cast<int>(i));
        std::vector<OpInfo> ops = foldConstants();
        fuseActivations(ops);
        it_.inputIndex_ = m.inputs[0];
        it_.outputIndex_ = m.outputs[0];
        if (it_.tensors_[static_cast<std::size_t>(it_.inputIndex_)].isConstant ||
            it_.tensors_[static_cast<std::size_t>(it_.outputIndex_)].isConstant)
            throw Invalid{"the model's input or output is a constant"};
        allocate(ops);
        for (std::size_t i = 0; i < ops.size(); ++i) prepare(ops[i], i);
    }

private:
    using Tensor = Interpreter::Tensor;

    Tensor &tensor(int i) { return it_.tensors_[static_cast<std::size_t>(i)]; }
    const TensorInfo &info(int i) const { return model_.tensors[static_cast<std::size_t>(i)]; }

    std::string describe(int i) const {
        return "tensor " + std::to_string(i) + " (" + info(i).name + ")";
    }

    void loadTensor(int i) {
        const TensorInfo &ti = info(i);
        Tensor &t = tensor(i);
        const auto &s = ti.shape;
        // Activations are [1, h, w, c] or [1, c]; constants keep their element count only.
        if (s.size() == 4 && s[0] == 1)
            t.shape = {s[1], s[2], s[3]};
        else if (s.size() == 2 && s[0] == 1)
            t.shape = {1, 1, s[1]};
        else if (s.size() == 1)
            t.shape = {1, 1, s[0]};
        else
            t.shape = {0, 0, 0}; // refused by computed() unless a constant fills it
        if (ti.data.empty()) {
            if (ti.type != TensorType::float32)
                throw Invalid{describe(i) + ": only float32 tensors can be computed"};
            // A bound far above these models' largest tensor (1 MiB), so that a damaged shape
            // cannot ask for gigabytes.
            if (t.shape.size() > (std::size_t{1} << 26))
                throw Invalid{describe(i) + ": shape " + shapeText(s) + " is too large"};
            return;
        }
        t.isConstant = true;
        const std::size_t bytes = ti.data.size();
        switch (ti.type) {
        case TensorType::float32:
            t.constant.resize(bytes / 4);
            std::memcpy(t.constant.data(), ti.data.data(), bytes);
            break;
        case TensorType::float16:
            t.constant.resize(bytes / 2);
            for (std::size_t k = 0; k < t.constant.size(); ++k) {
                std::uint16_t h;
                std::memcpy(&h, ti.data.data() + 2 * k, 2);
                t.constant[k] = halfToFloat(h);
            }
            break;
        case TensorType::int32:
            t.ints.resize(bytes / 4);
            std::memcpy(t.ints.data(), ti.data.data(), bytes);
            break;
        }
        t.data = t.constant.data();
    }

    // DEQUANTIZE of a constant happens once, here; what is left runs at every frame.
    std::vector<OpInfo> foldConstants() {
        std::vector<OpInfo> ops;
        for (std::size_t i = 0; i < model_.ops.size(); ++i) {
            const OpInfo &op = model_.ops[i];
            if (op.kind != OpKind::dequantize) {
                ops.push_back(op);
                continue;
            }
            where_ = "operator " + std::to_string(i) + " (DEQUANTIZE)";
            expectCounts(op, 1, 1);
            Tensor &in = tensor(op.inputs[0]);
            Tensor &out = tensor(op.outputs[0]);
            if (!in.isConstant || in.constant.empty())
                throw Invalid{where_ + ": only constant float16 inputs are supported"};
            if (info(op.inputs[0]).shape != info(op.outputs[0]).shape)
                throw Invalid{where_ + ": input and output shapes differ"};
            out.constant = in.constant;
            out.data = out.constant.data();
            out.isConstant = true;
        }
        return ops;
    }

    // An activation operator that alone reads the output of an operator that can apply it is
    // folded into that operator.
    void fuseActivations(std::vector<OpInfo> &ops) {
        std::map<int, int> readers;
        for (const auto &op : ops)
            for (int t : op.inputs) ++readers[t];
        for (int t : model_.outputs) ++readers[t];
        std::map<int, std::size_t> producer;
        for (std::size_t i = 0; i < ops.size(); ++i)
            for (int t : ops[i].outputs) producer[t] = i;
        std::vector<bool> dropped(ops.size(), false);
        for (std::size_t i = 0; i < ops.size(); ++i) {
            const OpInfo &act = ops[i];
            if (!isActivationOp(act.kind) || act.inputs.size() != 1 || act.outputs.size() != 1)
                continue;
            const auto p = producer.find(act.inputs[0]);
            if (p == producer.end() || readers[act.inputs[0]] != 1) continue;
            OpInfo &src = ops[p->second];
            if (!takesActivation(src.kind) || src.activation != Activation::none ||
                src.outputs.size() != 1)
                continue;
            if (info(act.inputs[0]).shape != info(act.outputs[0]).shape) continue;
            src.activation = activationOf(act.kind);
            src.outputs[0] = act.outputs[0];
            dropped[i] = true;
        }
        std::vector<OpInfo> kept;
        for (std::size_t i = 0; i < ops.size(); ++i)
            if (!dropped[i]) kept.push_back(std::move(ops[i]));
        ops = std::move(kept);
    }

    // Each computed tensor gets memory when its operator runs and gives it back after its last
    // reader; later tensors reuse the smallest free block that fits.
    void allocate(const std::vector<OpInfo> &ops) {
        std::map<int, std::size_t> lastUse;
        for (std::size_t i = 0; i < ops.size(); ++i)
            for (int t : ops[i].inputs) lastUse[t] = i;
        struct Block {
            float *data;
            std::size_t size;
        };
        std::vector<Block> free;
        auto take = [&](int t) {
            Tensor &x = tensor(t);
            if (x.isConstant || x.data) return;
            const std::size_t need = x.shape.size();
            auto best = free.end();
            for (auto b = free.begin(); b != free.end(); ++b)
                if (b->size >= need && (best == free.end() || b->size < best->size)) best = b;
            if (best != free.end()) {
                x.data = best->data;
                free.erase(best);
                return;
            }
            it_.arena_.push_back(std::make_unique<float[]>(need));
            x.data = it_.arena_.back().get();
            blockSize_[x.data] = need;
        };
        take(model_.inputs[0]);
        for (std::size_t i = 0; i < ops.size(); ++i) {
            for (int t : ops[i].inputs)
                if (!tensor(t).isConstant && !tensor(t).data)
                    throw Invalid{describe(t) + " is read before any operator writes it"};
            for (int t : ops[i].outputs) take(t);
            for (int t : ops[i].inputs) {
                Tensor &x = tensor(t);
                if (x.isConstant || lastUse[t] != i || t == model_.inputs[0] ||
                    t == model_.outputs[0])
                    continue;
                if (std::none_of(free.begin(), free.end(),
                                 [&](const Block &b) { return b.data == x.data; }))
                    free.push_back({x.data, blockSize_[x.data]});
            }
        }
    }

    void expectCounts(const OpInfo &op, std::size_t minInputs, std::size_t maxInputs) {
        if (op.inputs.size() < minInputs || op.inputs.size() > maxInputs || op.outputs.size() != 1)
            throw Invalid{where_ + ": " + std::to_string(op.inputs.size()) + " inputs and " +
                          std::to_string(op.outputs.size()) + " outputs"};
    }
    const Tensor &computed(int t) {
        if (tensor(t).isConstant) throw Invalid{where_ + ": " + describe(t) + " is a constant"};
        if (tensor(t).shape.size() == 0)
            throw Invalid{where_ + ": " + describe(t) + " has the unsupported shape " +
                          shapeText(info(t).shape)};
        return tensor(t);
    }
    const Tensor &constant(int t, std::size_t count) {
        const Tensor &x = tensor(t);
        if (!x.isConstant || x.constant.size() != count)
            throw Invalid{where_ + ": " + describe(t) + " must be a float constant of " +
                          std::to_string(count) + " values"};
        return x;
    }
    const std::vector<int> &filterShape(int t) {
        const auto &s = info(t).shape;
        if (s.size() != 4) throw Invalid{where_ + ": " + describe(t) + " is not a 4-D filter"};
        return s;
    }
    void expectShape(int t, Shape want) {
        if (tensor(t).shape != want)
            throw Invalid{where_ + ": " + describe(t) + " has shape " + shapeText(info(t).shape) +
                          ", expected [1, " + std::to_string(want.h) + ", " +
                          std::to_string(want.w) + ", " + std::to_string(want.c) + "]"};
    }
    const float *biasOf(const OpInfo &op, int channels) {
        if (op.inputs.size() < 3) {
            return it_.zeros_.emplace_back(static_cast<std::size_t>(channels), 0.0f).data();
        }
        return constant(op.inputs[2], static_cast<std::size_t>(channels)).data;
    }

    void prepare(const OpInfo &op, std::size_t index) {
        where_ =
            model_.name + ": operator " + std::to_string(index) + " (" + opKindName(op.kind) + ")";
        switch (op.kind) {
        case OpKind::conv2d:
            prepareConv(op);
            break;
        case OpKind::depthwiseConv2d:
            prepareDepthwise(op);
            break;
        case OpKind::transposeConvBias:
            prepareTransposeConv(op);
            break;
        case OpKind::averagePool2d:
            preparePool(op);
            break;
        case OpKind::mean:
            prepareMean(op);
            break;
        case OpKind::resizeBilinear:
            prepareResize(op);
            break;
        case OpKind::add:
        case OpKind::mul:
            prepareBinary(op);
            break;
        case OpKind::relu:
        case OpKind::hardSwish:
        case OpKind::logistic:
            prepareActivation(op);
            break;
        case OpKind::dequantize:
            throw Invalid{where_ + ": not folded"};
        }
    }

    void prepareConv(const OpInfo &op) {
        expectCounts(op, 2, 3);
        const Shape in = computed(op.inputs[0]).shape;
        const Shape out = computed(op.outputs[0]).shape;
        const auto &f = filterShape(op.inputs[1]);
        if (f[3] != in.c || f[0] != out.c)
            throw Invalid{where_ + ": filter " + shapeText(f) + " does not fit the input"};
        if (op.dilationH != 1 || op.dilationW != 1)
            throw Invalid{where_ + ": dilated convolutions are not supported"};
        const Window2d win = placeWindow(op, in, f[1], f[2], out.c);
        const std::size_t k = static_cast<std::size_t>(f[1]) * f[2] * f[3];
        const float *w = constant(op.inputs[1], k * out.c).data;
        const PackedWeights &p =
            it_.packed_.emplace_back(packWeights(w, biasOf(op, out.c), out.c, static_cast<int>(k)));
        addStep(op, ConvArgs{nullptr, in, &p, win, nullptr, out, op.activation},
                [](Interpreter &it, const ConvArgs &a) { conv2d(*it.kernels_, a, it.scratch_); });
    }

    void prepareDepthwise(const OpInfo &op) {
        expectCounts(op, 2, 3);
        const Shape in = computed(op.inputs[0]).shape;
        const Shape out = computed(op.outputs[0]).shape;
        const auto &f = filterShape(op.inputs[1]);
        if (op.depthMultiplier != 1 || f[0] != 1 || f[3] != in.c || out.c != in.c)
            throw Invalid{where_ + ": filter " + shapeText(f) +
                          " does not fit the input (only depth multiplier 1 is supported)"};
        if (op.dilationH != 1 || op.dilationW != 1)
            throw Invalid{where_ + ": dilated convolutions are not supported"};
        const Window2d win = placeWindow(op, in, f[1], f[2], out.c);
        const float *w = constant(op.inputs[1], static_cast<std::size_t>(f[1]) * f[2] * in.c).data;
        addStep(op,
                DepthwiseArgs{nullptr, in, w, biasOf(op, in.c), win, nullptr, out, op.activation},
                [](Interpreter &it, const DepthwiseArgs &a) { it.kernels_->depthwise(a); });
    }

    void prepareTransposeConv(const OpInfo &op) {
        expectCounts(op, 3, 3);
        const Shape in = computed(op.inputs[0]).shape;
        const Shape out = computed(op.outputs[0]).shape;
        const auto &f = filterShape(op.inputs[1]); // [o, kh, kw, i]
        if (f[3] != in.c || f[0] != out.c)
            throw Invalid{where_ + ": filter " + shapeText(f) + " does not fit the input"};
        auto size = [&](int inSize, int k, int stride) {
            return op.padding == Padding::same ? inSize * stride : (inSize - 1) * stride + k;
        };
        expectShape(op.outputs[0],
                    {size(in.h, f[1], op.strideH), size(in.w, f[2], op.strideW), out.c});
        const int kh = f[1], kw = f[2], o = f[0], i = f[3];
        const float *w = constant(op.inputs[1], static_cast<std::size_t>(o) * kh * kw * i).data;
        // Rows in (ky, kx, o) order, so that one input pixel's products for one output pixel
        // are adjacent.
        std::vector<float> rows(static_cast<std::size_t>(o) * kh * kw * i);
        for (int y = 0; y < kh; ++y)
            for (int x = 0; x < kw; ++x)
                for (int n = 0; n < o; ++n)
                    std::memcpy(&rows[((static_cast<std::size_t>(y) * kw + x) * o + n) * i],
                                &w[((static_cast<std::size_t>(n) * kh + y) * kw + x) * i],
                                sizeof(float) * static_cast<std::size_t>(i));
        const PackedWeights &p =
            it_.packed_.emplace_back(packWeights(rows.data(), nullptr, kh * kw * o, i));
        auto pad = [&](int inSize, int k, int stride, int outSize) {
            return std::max((inSize - 1) * stride + k - outSize, 0) / 2;
        };
        const Window2d win{kh,
                           kw,
                           op.strideH,
                           op.strideW,
                           pad(in.h, kh, op.strideH, out.h),
                           pad(in.w, kw, op.strideW, out.w)};
        const float *bias = constant(op.inputs[2], static_cast<std::size_t>(o)).data;
        addStep(op, TransposeConvArgs{nullptr, in, &p, bias, win, nullptr, out},
                [](Interpreter &it, const TransposeConvArgs &a) {
                    transposeConv(*it.kernels_, a, it.scratch_);
                });
    }

    void preparePool(const OpInfo &op) {
        expectCounts(op, 1, 1);
        const Shape in = computed(op.inputs[0]).shape;
        const Window2d win = placeWindow(op, in, op.filterH, op.filterW, in.c);
        const Shape out = tensor(op.outputs[0]).shape;
        addStep(op, PoolArgs{nullptr, in, win, nullptr, out, op.activation},
                [](Interpreter &, const PoolArgs &a) { averagePool(a); });
    }

    void prepareMean(const OpInfo &op) {
        expectCounts(op, 2, 2);
        const Shape in = computed(op.inputs[0]).shape;
        std::vector<int> axes = tensor(op.inputs[1]).ints;
        std::sort(axes.begin(), axes.end());
        if (axes != std::vector<int>{1, 2})
            throw Invalid{where_ + ": only the mean over height and width is supported"};
        expectShape(op.outputs[0], {1, 1, in.c});
        addStep([&it = it_, in, src = op.inputs[0], dst = op.outputs[0]] {
            meanOverPixels(it.tensors_[static_cast<std::size_t>(src)].data, in,
                           it.tensors_[static_cast<std::size_t>(dst)].data);
        });
    }

    void prepareResize(const OpInfo &op) {
        expectCounts(op, 2, 2);
        const Shape in = computed(op.inputs[0]).shape;
        const Shape out = computed(op.outputs[0]).shape;
        const auto &size = tensor(op.inputs[1]).ints;
        if (size.size() != 2 || size[0] != out.h || size[1] != out.w || out.c != in.c)
            throw Invalid{where_ + ": the size tensor does not match the output"};
        addStep([&it = it_, in, out, op, src = op.inputs[0], dst = op.outputs[0]] {
            resizeBilinear(it.tensors_[static_cast<std::size_t>(src)].data, in,
                           it.tensors_[static_cast<std::size_t>(dst)].data, out, op.alignCorners,
                           op.halfPixelCenters);
        });
    }

    void prepareBinary(const OpInfo &op) {
        expectCounts(op, 2, 2);
        int a = op.inputs[0], b = op.inputs[1];
        if (tensor(a).shape.size() < tensor(b).shape.size()) std::swap(a, b);
        const Shape sa = computed(a).shape, sb = computed(b).shape;
        const bool perChannel = sb != sa && sb == Shape{1, 1, sa.c};
        if (sb != sa && !perChannel)
            throw Invalid{where_ + ": cannot combine shapes " + shapeText(info(a).shape) + " and " +
                          shapeText(info(b).shape)};
        if (op.kind == OpKind::add && perChannel)
            throw Invalid{where_ + ": broadcasting addition is not supported"};
        expectShape(op.outputs[0], sa);
        const bool isAdd = op.kind == OpKind::add;
        addStep([&it = it_, sa, perChannel, isAdd, act = op.activation, a, b, dst = op.outputs[0]] {
            const float *x = it.tensors_[static_cast<std::size_t>(a)].data;
            const float *y = it.tensors_[static_cast<std::size_t>(b)].data;
            float *out = it.tensors_[static_cast<std::size_t>(dst)].data;
            if (isAdd)
                it.kernels_->add(x, y, out, sa.size(), act);
            else
                it.kernels_->mul(x, y, perChannel, out, sa.size() / sa.c, sa.c, act);
        });
    }

    void prepareActivation(const OpInfo &op) {
        expectCounts(op, 1, 1);
        const Shape in = computed(op.inputs[0]).shape;
        expectShape(op.outputs[0], in);
        addStep([&it = it_, in, act = activationOf(op.kind), src = op.inputs[0],
                 dst = op.outputs[0]] {
            it.kernels_->activate(it.tensors_[static_cast<std::size_t>(src)].data,
                                  it.tensors_[static_cast<std::size_t>(dst)].data, in.size(), act);
        });
    }

    void addStep(std::function<void()> step) { it_.steps_.push_back(std::move(step)); }

    // A step whose arguments take the operator's first input and its output when it runs (the
    // tensors' memory is only final once every operator is planned).
    template <class Args, class Run> void addStep(const OpInfo &op, Args args, Run run) {
        addStep([&it = it_, args, run, src = op.inputs[0], dst = op.outputs[0]]() mutable {
            args.in = it.tensors_[static_cast<std::size_t>(src)].data;
            args.out = it.tensors_[static_cast<std::size_t>(dst)].data;
            run(it, args);
        });
    }

    // The operator's window over the input, checked against its output's shape.
    Window2d placeWindow(const OpInfo &op, Shape in, int kh, int kw, int outC) {
        const Window wy = windowFor(op.padding, in.h, kh, op.strideH);
        const Window wx = windowFor(op.padding, in.w, kw, op.strideW);
        expectShape(op.outputs[0], {wy.out, wx.out, outC});
        return {kh, kw, op.strideH, op.strideW, wy.padBefore, wx.padBefore};
    }

    const ModelFile &model_;
    Interpreter &it_;
    std::string where_;
    std::map<const float *, std::size_t> blockSize_;
};

Result<std::unique_ptr<Interpreter>> Interpreter::create(const ModelFile &model, const Kernels &k) {
    std::unique_ptr<Interpreter> it(new Interpreter(k));
    try {
        InterpreterBuilder(model, *it).build();
    } catch (const Invalid &e) {
        const bool named = e.what.rfind(model.name, 0) == 0;
        return Error{named ? e.what : model.name + ": " + e.what};
    }
    return it;
}

void Interpreter::run() {
    for (auto &step : steps_) step();
}

} // namespace qv::platform::inference
