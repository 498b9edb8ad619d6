// The model reader and the interpreter's checks: the real model files load, damaged or truncated
// ones are refused with an error naming the file, never a crash.
#include "platform/core/resources.h"
#include "platform/inference/interpreter.h"
#include "platform/inference/tflite_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

namespace qv::platform::inference {
namespace {

constexpr const char *kSquare = "models/selfie_segmentation.tflite";
constexpr const char *kLandscape = "models/selfie_segmentation_landscape.tflite";

// The model's bytes; fails the test when scripts/install-deps.sh has not fetched it.
std::vector<std::uint8_t> modelBytes(const char *resource) {
    const auto path = findResource(resource);
    if (!path) {
        ADD_FAILURE() << resource << " not found: run scripts/install-deps.sh and rebuild";
        return {};
    }
    std::ifstream in(*path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Parse and load; the error message when either fails.
std::optional<std::string> loadError(std::vector<std::uint8_t> bytes) {
    auto model = parseModel(std::move(bytes), "test.tflite");
    if (!model) return model.error().message;
    auto it = Interpreter::create(*model, scalarKernels());
    if (!it) return it.error().message;
    return std::nullopt;
}

TEST(InferenceModel, ReadsBothModelsWithTheirOperators) {
    struct Case {
        const char *resource;
        Shape input;
        OpKind pooling;
    };
    for (const Case &c : {Case{kSquare, {256, 256, 3}, OpKind::averagePool2d},
                          Case{kLandscape, {144, 256, 3}, OpKind::mean}}) {
        auto model = parseModel(modelBytes(c.resource), c.resource);
        ASSERT_TRUE(model) << model.error().message;
        std::map<OpKind, int> counts;
        for (const auto &op : model->ops) ++counts[op.kind];
        EXPECT_EQ(counts[OpKind::dequantize], 110) << c.resource;
        EXPECT_EQ(counts[OpKind::conv2d], 43) << c.resource;
        EXPECT_EQ(counts[OpKind::depthwiseConv2d], 11) << c.resource;
        EXPECT_EQ(counts[c.pooling], 10) << c.resource;
        EXPECT_EQ(counts[OpKind::transposeConvBias], 1) << c.resource;
        const auto &last = model->ops.back();
        EXPECT_EQ(last.kind, OpKind::logistic) << c.resource;

        auto it = Interpreter::create(*model);
        ASSERT_TRUE(it) << it.error().message;
        EXPECT_EQ((*it)->inputShape(), c.input);
        EXPECT_EQ((*it)->outputShape(), (Shape{c.input.h, c.input.w, 1}));
        // Dequantisation is done at load time and activations are fused into their producers.
        EXPECT_LT((*it)->stepCount(), model->ops.size() - 110 - 30) << c.resource;
    }
}

TEST(InferenceModel, RefusesTruncatedFiles) {
    const auto bytes = modelBytes(kSquare);
    ASSERT_FALSE(bytes.empty());
    for (std::size_t k = 0; k < 64; ++k) {
        const std::size_t length = bytes.size() * k / 64 + (k % 7);
        const auto error =
            loadError(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + length));
        ASSERT_TRUE(error) << "a file cut to " << length << " bytes was accepted";
        EXPECT_EQ(error->rfind("test.tflite: ", 0), 0u) << *error;
    }
}

TEST(InferenceModel, RefusesDamagedFilesWithoutCrashing) {
    const auto bytes = modelBytes(kLandscape);
    ASSERT_GT(bytes.size(), 4096u);
    struct Damage {
        const char *what;
        std::size_t offset;
        std::uint32_t value;
        const char *expected;
    };
    const Damage cases[] = {
        {"identifier", 4, 0x33464c55, "TFL3"},
        {"root offset", 0, 0x7fffffff, "outside the file"},
        {"root vtable", 0, 3, "field table"},
    };
    for (const auto &d : cases) {
        auto copy = bytes;
        std::memcpy(copy.data() + d.offset, &d.value, sizeof d.value);
        const auto error = loadError(copy);
        ASSERT_TRUE(error) << d.what;
        EXPECT_NE(error->find("test.tflite"), std::string::npos) << *error;
        EXPECT_NE(error->find(d.expected), std::string::npos) << d.what << ": " << *error;
    }
    // Random damage in the structure (the tables sit in the last 24 KiB, written after the
    // weights): any outcome but a crash is fine, and an error names the file.
    std::mt19937 rng(7);
    const std::size_t tables = bytes.size() - 24576;
    for (int i = 0; i < 400; ++i) {
        auto copy = bytes;
        const std::size_t at = tables + rng() % 24576;
        copy[at] = static_cast<std::uint8_t>(rng());
        copy[tables + (at * 31 + 5) % 24576] ^= 0x80;
        if (const auto error = loadError(copy)) {
            EXPECT_EQ(error->rfind("test.tflite: ", 0), 0u) << *error;
        }
    }
    EXPECT_TRUE(loadError({}));
}

TEST(InferenceModel, ReportsAMissingFile) {
    auto model = readModel("/nonexistent/model.tflite");
    ASSERT_FALSE(model);
    EXPECT_NE(model.error().message.find("/nonexistent/model.tflite"), std::string::npos);
}

} // namespace
} // namespace qv::platform::inference
