#include "platform/inference/tflite_model.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

namespace qv::platform::inference {

namespace {

// A problem found while decoding; turned into the Error that parseModel returns.
struct Damaged {
    std::string what;
};

// Bounds-checked access to the flatbuffer encoding: little-endian scalars, tables found through
// their vtables, vectors and strings behind 32-bit offsets.
class Buffer {
public:
    explicit Buffer(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t size() const noexcept { return bytes_.size(); }

    void require(std::size_t pos, std::size_t count, const std::string &what) const {
        if (pos > bytes_.size() || count > bytes_.size() - pos)
            throw Damaged{what + " lies outside the file"};
    }
    template <class T> T read(std::size_t pos, const std::string &what) const {
        require(pos, sizeof(T), what);
        T v;
        std::memcpy(&v, bytes_.data() + pos, sizeof(T));
        return v;
    }
    // The position an unsigned 32-bit offset at `pos` points to.
    std::size_t follow(std::size_t pos, const std::string &what) const {
        return pos + read<std::uint32_t>(pos, what);
    }
    std::span<const std::uint8_t> bytes(std::size_t pos, std::size_t count,
                                        const std::string &what) const {
        require(pos, count, what);
        return bytes_.subspan(pos, count);
    }

private:
    std::span<const std::uint8_t> bytes_;
};

class Table {
public:
    Table(const Buffer &buf, std::size_t pos, std::string where) : buf_(&buf), pos_(pos) {
        where_ = std::move(where);
        const auto back = buf.read<std::int32_t>(pos, where_);
        const auto vt = static_cast<std::int64_t>(pos) - back;
        if (vt < 0 || vt > static_cast<std::int64_t>(buf.size()))
            throw Damaged{where_ + ": its field table lies outside the file"};
        vtable_ = static_cast<std::size_t>(vt);
        const auto vtSize = buf.read<std::uint16_t>(vtable_, where_ + ": field table");
        if (vtSize < 4 || vtSize % 2 != 0)
            throw Damaged{where_ + ": its field table has a bad size"};
        buf.require(vtable_, vtSize, where_ + ": field table");
        fieldCount_ = (vtSize - 4u) / 2u;
    }

    const std::string &where() const noexcept { return where_; }

    // The position of field `i`, nullopt when absent.
    std::optional<std::size_t> field(int i) const {
        if (static_cast<std::size_t>(i) >= fieldCount_) return std::nullopt;
        const auto off = buf_->read<std::uint16_t>(vtable_ + 4 + 2 * static_cast<std::size_t>(i),
                                                   where_ + ": field table");
        if (off == 0) return std::nullopt;
        return pos_ + off;
    }
    template <class T> T scalar(int i, T fallback) const {
        const auto p = field(i);
        return p ? buf_->read<T>(*p, fieldName(i)) : fallback;
    }
    std::optional<Table> table(int i, const std::string &name) const {
        const auto p = field(i);
        if (!p) return std::nullopt;
        return Table(*buf_, buf_->follow(*p, fieldName(i)), where_ + ", " + name);
    }
    // Position and length of a vector field of `elementSize`-byte elements; nullopt when absent.
    std::optional<std::pair<std::size_t, std::size_t>> vector(int i,
                                                              std::size_t elementSize) const {
        const auto p = field(i);
        if (!p) return std::nullopt;
        const auto at = buf_->follow(*p, fieldName(i));
        const auto n = buf_->read<std::uint32_t>(at, fieldName(i) + " length");
        if (n > buf_->size() / elementSize)
            throw Damaged{fieldName(i) + ": its length " + std::to_string(n) + " is impossible"};
        buf_->require(at + 4, n * elementSize, fieldName(i));
        return std::make_pair(at + 4, std::size_t{n});
    }
    std::vector<Table> tables(int i, const std::string &name) const {
        std::vector<Table> out;
        if (const auto v = vector(i, 4)) {
            out.reserve(v->second);
            for (std::size_t k = 0; k < v->second; ++k)
                out.emplace_back(*buf_, buf_->follow(v->first + 4 * k, fieldName(i)),
                                 where_ + ", " + name + " " + std::to_string(k));
        }
        return out;
    }
    std::vector<int> ints(int i) const {
        std::vector<int> out;
        if (const auto v = vector(i, 4)) {
            out.resize(v->second);
            for (std::size_t k = 0; k < v->second; ++k)
                out[k] = buf_->read<std::int32_t>(v->first + 4 * k, fieldName(i));
        }
        return out;
    }
    std::span<const std::uint8_t> bytes(int i) const {
        if (const auto v = vector(i, 1)) return buf_->bytes(v->first, v->second, fieldName(i));
        return {};
    }
    std::string string(int i) const {
        const auto b = bytes(i);
        return std::string(b.begin(), b.end());
    }

private:
    std::string fieldName(int i) const { return where_ + ": field " + std::to_string(i); }

    const Buffer *buf_;
    std::size_t pos_;
    std::size_t vtable_ = 0;
    std::size_t fieldCount_ = 0;
    std::string where_;
};

// Field numbers of the schema's tables.
namespace field {
constexpr int modelOperatorCodes = 1, modelSubgraphs = 2, modelBuffers = 4;
constexpr int codeDeprecatedBuiltin = 0, codeCustom = 1, codeBuiltin = 3;
constexpr int subgraphTensors = 0, subgraphInputs = 1, subgraphOutputs = 2, subgraphOperators = 3;
constexpr int tensorShape = 0, tensorType = 1, tensorBuffer = 2, tensorName = 3;
constexpr int bufferData = 0, bufferOffset = 1, bufferSize = 2;
constexpr int opCodeIndex = 0, opInputs = 1, opOutputs = 2, opOptionsType = 3, opOptions = 4,
              opCustomOptions = 5;
} // namespace field

// Builtin operator codes and the option tables that go with them.
enum Builtin : int {
    kAdd = 0,
    kAveragePool2d = 1,
    kConv2d = 3,
    kDepthwiseConv2d = 4,
    kDequantize = 6,
    kLogistic = 14,
    kMul = 18,
    kRelu = 19,
    kResizeBilinear = 23,
    kCustom = 32,
    kMean = 40,
    kHardSwish = 117,
};
enum OptionsType : int {
    kNoOptions = 0,
    kConv2dOptions = 1,
    kDepthwiseConv2dOptions = 2,
    kPool2dOptions = 5,
    kAddOptions = 11,
    kResizeBilinearOptions = 15,
    kMulOptions = 21,
    kReducerOptions = 27,
};
constexpr std::string_view kTransposeConvBias = "Convolution2DTransposeBias";

Padding padding(std::int8_t v, const std::string &where) {
    if (v == 0) return Padding::same;
    if (v == 1) return Padding::valid;
    throw Damaged{where + ": unknown padding " + std::to_string(v)};
}

Activation activation(std::int8_t v, const std::string &where) {
    switch (v) {
    case 0:
        return Activation::none;
    case 1:
        return Activation::relu;
    case 3:
        return Activation::relu6;
    default:
        throw Damaged{where + ": unsupported fused activation " + std::to_string(v)};
    }
}

int positive(int v, const std::string &where, const char *what) {
    if (v < 1) throw Damaged{where + ": " + what + " " + std::to_string(v) + " is not positive"};
    return v;
}

// Padding and strides: the first three fields of every windowed operator's options.
void readWindow(const Table &opts, OpInfo &op) {
    op.padding = padding(opts.scalar<std::int8_t>(0, 0), opts.where());
    op.strideW = positive(opts.scalar<std::int32_t>(1, 1), opts.where(), "stride_w");
    op.strideH = positive(opts.scalar<std::int32_t>(2, 1), opts.where(), "stride_h");
}

// The fused activation and the dilations, three fields from `first` on in both convolutions.
void readActivationAndDilation(const Table &opts, int first, OpInfo &op) {
    op.activation = activation(opts.scalar<std::int8_t>(first, 0), opts.where());
    op.dilationW = positive(opts.scalar<std::int32_t>(first + 1, 1), opts.where(), "dilation_w");
    op.dilationH = positive(opts.scalar<std::int32_t>(first + 2, 1), opts.where(), "dilation_h");
}

struct OpCode {
    int builtin = 0;
    std::string custom;
};

void readOptions(const Table &t, int builtin, OpInfo &op) {
    const auto type = t.scalar<std::uint8_t>(field::opOptionsType, 0);
    const auto opts = t.table(field::opOptions, "options");
    const auto &where = t.where();
    auto expect = [&](int wanted) {
        if (opts && type != wanted)
            throw Damaged{where + ": options of type " + std::to_string(type) + ", expected " +
                          std::to_string(wanted)};
    };
    switch (builtin) {
    case kConv2d:
        expect(kConv2dOptions);
        if (opts) {
            readWindow(*opts, op);
            readActivationAndDilation(*opts, 3, op);
        }
        break;
    case kDepthwiseConv2d:
        expect(kDepthwiseConv2dOptions);
        if (opts) {
            readWindow(*opts, op);
            op.depthMultiplier = positive(opts->scalar<std::int32_t>(3, 1), where, "multiplier");
            readActivationAndDilation(*opts, 4, op);
        }
        break;
    case kAveragePool2d:
        expect(kPool2dOptions);
        if (!opts) throw Damaged{where + ": pooling without options"};
        readWindow(*opts, op);
        op.filterW = positive(opts->scalar<std::int32_t>(3, 0), where, "filter_width");
        op.filterH = positive(opts->scalar<std::int32_t>(4, 0), where, "filter_height");
        op.activation = activation(opts->scalar<std::int8_t>(5, 0), where);
        break;
    case kAdd:
    case kMul:
        expect(builtin == kAdd ? kAddOptions : kMulOptions);
        if (opts) op.activation = activation(opts->scalar<std::int8_t>(0, 0), where);
        break;
    case kResizeBilinear:
        expect(kResizeBilinearOptions);
        if (opts) {
            op.alignCorners = opts->scalar<std::uint8_t>(2, 0) != 0;
            op.halfPixelCenters = opts->scalar<std::uint8_t>(3, 0) != 0;
        }
        break;
    case kMean:
        expect(kReducerOptions);
        if (opts) op.keepDims = opts->scalar<std::uint8_t>(0, 0) != 0;
        break;
    default:
        break;
    }
}

// The custom transposed convolution keeps its options as three raw 32-bit integers: padding
// (1 same, 2 valid), stride across, stride down.
void readTransposeConvOptions(const Table &t, OpInfo &op) {
    const auto raw = t.bytes(field::opCustomOptions);
    if (raw.size() < 12)
        throw Damaged{t.where() + ": " + std::string(kTransposeConvBias) + " options have " +
                      std::to_string(raw.size()) + " bytes, expected 12"};
    std::int32_t v[3];
    std::memcpy(v, raw.data(), sizeof v);
    if (v[0] != 1 && v[0] != 2)
        throw Damaged{t.where() + ": unknown padding " + std::to_string(v[0])};
    op.padding = v[0] == 1 ? Padding::same : Padding::valid;
    op.strideW = positive(v[1], t.where(), "stride_w");
    op.strideH = positive(v[2], t.where(), "stride_h");
}

OpKind kindOf(const OpCode &code, const std::string &where) {
    switch (code.builtin) {
    case kAdd:
        return OpKind::add;
    case kAveragePool2d:
        return OpKind::averagePool2d;
    case kConv2d:
        return OpKind::conv2d;
    case kDepthwiseConv2d:
        return OpKind::depthwiseConv2d;
    case kDequantize:
        return OpKind::dequantize;
    case kLogistic:
        return OpKind::logistic;
    case kMul:
        return OpKind::mul;
    case kRelu:
        return OpKind::relu;
    case kResizeBilinear:
        return OpKind::resizeBilinear;
    case kMean:
        return OpKind::mean;
    case kHardSwish:
        return OpKind::hardSwish;
    case kCustom:
        if (code.custom == kTransposeConvBias) return OpKind::transposeConvBias;
        throw Damaged{where + ": unsupported custom operator \"" + code.custom + "\""};
    default:
        throw Damaged{where + ": unsupported operator code " + std::to_string(code.builtin)};
    }
}

std::vector<int> checkedIndices(std::vector<int> list, std::size_t count, const std::string &where,
                                const char *what) {
    for (int i : list)
        if (i < 0 || static_cast<std::size_t>(i) >= count)
            throw Damaged{where + ": " + what + " names tensor " + std::to_string(i) + " of " +
                          std::to_string(count)};
    return list;
}

ModelFile decode(std::vector<std::uint8_t> bytes, std::string name) {
    ModelFile model;
    model.name = std::move(name);
    model.bytes = std::move(bytes);
    const Buffer buf(model.bytes);
    if (buf.size() < 8 || std::memcmp(model.bytes.data() + 4, "TFL3", 4) != 0)
        throw Damaged{"not a TFLite model (no \"TFL3\" identifier)"};
    const Table root(buf, buf.follow(0, "model"), "model");

    std::vector<OpCode> codes;
    for (const auto &c : root.tables(field::modelOperatorCodes, "operator code")) {
        OpCode code;
        code.builtin = std::max<int>(c.scalar<std::int8_t>(field::codeDeprecatedBuiltin, 0),
                                     c.scalar<std::int32_t>(field::codeBuiltin, 0));
        code.custom = c.string(field::codeCustom);
        codes.push_back(std::move(code));
    }

    // Constant data: a vector in the buffer table, or (for large files) an offset and size.
    std::vector<std::span<const std::uint8_t>> data;
    for (const auto &b : root.tables(field::modelBuffers, "buffer")) {
        auto bytesOf = b.bytes(field::bufferData);
        const auto offset = b.scalar<std::uint64_t>(field::bufferOffset, 0);
        const auto size = b.scalar<std::uint64_t>(field::bufferSize, 0);
        if (bytesOf.empty() && offset > 1) bytesOf = buf.bytes(offset, size, b.where() + ": data");
        data.push_back(bytesOf);
    }

    const auto subgraphs = root.tables(field::modelSubgraphs, "subgraph");
    if (subgraphs.empty()) throw Damaged{"the model has no subgraph"};
    const Table &graph = subgraphs.front();

    for (const auto &t : graph.tables(field::subgraphTensors, "tensor")) {
        TensorInfo info;
        info.name = t.string(field::tensorName);
        info.shape = t.ints(field::tensorShape);
        for (int d : info.shape)
            if (d < 1 || d > (1 << 16))
                throw Damaged{t.where() + " (" + info.name + "): dimension " + std::to_string(d) +
                              " out of range"};
        const auto type = t.scalar<std::int8_t>(field::tensorType, 0);
        if (type != 0 && type != 1 && type != 2)
            throw Damaged{t.where() + " (" + info.name + "): unsupported element type " +
                          std::to_string(type)};
        info.type = static_cast<TensorType>(type);
        const auto bufferIndex = t.scalar<std::uint32_t>(field::tensorBuffer, 0);
        if (bufferIndex >= data.size())
            throw Damaged{t.where() + " (" + info.name + "): buffer " +
                          std::to_string(bufferIndex) + " of " + std::to_string(data.size())};
        info.data = data[bufferIndex];
        if (!info.data.empty()) {
            std::size_t count = 1;
            for (int d : info.shape) count *= static_cast<std::size_t>(d);
            const std::size_t element = info.type == TensorType::float16 ? 2 : 4;
            if (info.data.size() != count * element)
                throw Damaged{t.where() + " (" + info.name +
                              "): " + std::to_string(info.data.size()) + " bytes of data for " +
                              std::to_string(count) + " elements"};
        }
        model.tensors.push_back(std::move(info));
    }
    const auto tensorCount = model.tensors.size();
    model.inputs =
        checkedIndices(graph.ints(field::subgraphInputs), tensorCount, graph.where(), "inputs");
    model.outputs =
        checkedIndices(graph.ints(field::subgraphOutputs), tensorCount, graph.where(), "outputs");

    for (const auto &o : graph.tables(field::subgraphOperators, "operator")) {
        const auto codeIndex = o.scalar<std::uint32_t>(field::opCodeIndex, 0);
        if (codeIndex >= codes.size())
            throw Damaged{o.where() + ": operator code " + std::to_string(codeIndex) + " of " +
                          std::to_string(codes.size())};
        OpInfo op;
        op.kind = kindOf(codes[codeIndex], o.where());
        op.inputs = checkedIndices(o.ints(field::opInputs), tensorCount, o.where(), "inputs");
        op.outputs = checkedIndices(o.ints(field::opOutputs), tensorCount, o.where(), "outputs");
        if (op.kind == OpKind::transposeConvBias)
            readTransposeConvOptions(o, op);
        else
            readOptions(o, codes[codeIndex].builtin, op);
        model.ops.push_back(std::move(op));
    }
    if (model.ops.empty()) throw Damaged{"the model has no operators"};
    return model;
}

} // namespace

const char *opKindName(OpKind kind) noexcept {
    switch (kind) {
    case OpKind::add:
        return "ADD";
    case OpKind::averagePool2d:
        return "AVERAGE_POOL_2D";
    case OpKind::conv2d:
        return "CONV_2D";
    case OpKind::depthwiseConv2d:
        return "DEPTHWISE_CONV_2D";
    case OpKind::dequantize:
        return "DEQUANTIZE";
    case OpKind::hardSwish:
        return "HARD_SWISH";
    case OpKind::logistic:
        return "LOGISTIC";
    case OpKind::mean:
        return "MEAN";
    case OpKind::mul:
        return "MUL";
    case OpKind::relu:
        return "RELU";
    case OpKind::resizeBilinear:
        return "RESIZE_BILINEAR";
    case OpKind::transposeConvBias:
        return "Convolution2DTransposeBias";
    }
    return "?";
}

Result<ModelFile> parseModel(std::vector<std::uint8_t> bytes, std::string name) {
    try {
        return decode(std::move(bytes), name);
    } catch (const Damaged &e) {
        return Error{name + ": damaged or unsupported model: " + e.what};
    }
}

Result<ModelFile> readModel(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Error{path.string() + ": cannot open the model file"};
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad()) return Error{path.string() + ": cannot read the model file"};
    return parseModel(std::move(bytes), path.string());
}

} // namespace qv::platform::inference
