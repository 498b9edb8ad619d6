#include "platform/video/pixel_buffer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <vector>

namespace qv::platform {
namespace {

struct GeometryCase {
    int width, height;
    PixelFormat format;
    std::size_t expectedStride;
};

TEST(PixelBuffer, CreateGivesAlignedZeroedRows) {
    const std::vector<GeometryCase> cases = {
        {1, 1, PixelFormat::bgra8, 64},   {16, 1, PixelFormat::bgra8, 64},
        {17, 2, PixelFormat::bgra8, 128}, {100, 7, PixelFormat::bgra8, 448},
        {1, 3, PixelFormat::r8, 64},      {64, 2, PixelFormat::r8, 64},
        {65, 3, PixelFormat::r8, 128},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.width << "x" << c.height << " bpp " << bytesPerPixel(c.format));
        auto pb = PixelBuffer::create(c.width, c.height, c.format);
        ASSERT_NE(pb, nullptr);
        EXPECT_EQ(pb->width(), c.width);
        EXPECT_EQ(pb->height(), c.height);
        EXPECT_EQ(pb->format(), c.format);
        EXPECT_EQ(pb->bytesPerRow(), c.expectedStride);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(pb->baseAddress()) % 64, 0u);
        for (int y = 0; y < c.height; ++y) {
            EXPECT_EQ(pb->row(y), pb->baseAddress() + c.expectedStride * y);
            for (std::size_t i = 0; i < c.expectedStride; ++i) ASSERT_EQ(pb->row(y)[i], 0);
        }
    }
}

TEST(PixelBuffer, RowsDoNotOverlap) {
    auto pb = PixelBuffer::create(10, 5, PixelFormat::bgra8);
    ASSERT_NE(pb, nullptr);
    for (int y = 0; y < 5; ++y)
        for (int i = 0; i < 40; ++i) pb->row(y)[i] = static_cast<std::uint8_t>(y * 40 + i);
    for (int y = 0; y < 5; ++y)
        for (int i = 0; i < 40; ++i)
            ASSERT_EQ(pb->row(y)[i], static_cast<std::uint8_t>(y * 40 + i));
}

TEST(PixelBuffer, CreateRejectsEmptyAndOverflowingSizes) {
    const std::vector<std::pair<int, int>> sizes = {
        {0, 1}, {1, 0}, {-1, 4}, {4, -1}, {INT_MAX, INT_MAX}, {INT_MAX, 1 << 30}};
    for (PixelFormat f : {PixelFormat::bgra8, PixelFormat::r8}) {
        for (auto [w, h] : sizes) {
            EXPECT_EQ(PixelBuffer::create(w, h, f), nullptr) << w << "x" << h;
        }
    }
}

TEST(PixelBuffer, WrapUsesCallerMemoryAndReleasesKeepAlive) {
    auto storage = std::make_shared<std::vector<std::uint8_t>>(3 * 40, 0);
    std::weak_ptr<std::vector<std::uint8_t>> watch = storage;
    std::uint8_t *base = storage->data();
    {
        auto pb = PixelBuffer::wrap(8, 3, PixelFormat::bgra8, base, 40, storage);
        storage.reset();
        ASSERT_NE(pb, nullptr);
        EXPECT_FALSE(watch.expired()); // the buffer holds the memory
        EXPECT_EQ(pb->baseAddress(), base);
        EXPECT_EQ(pb->bytesPerRow(), 40u);
        pb->row(2)[5] = 9;
        EXPECT_EQ(base[2 * 40 + 5], 9);
    }
    EXPECT_TRUE(watch.expired());
}

TEST(PixelBuffer, WrapRejectsInconsistentGeometry) {
    std::uint8_t memory[256] = {};
    EXPECT_EQ(PixelBuffer::wrap(8, 2, PixelFormat::bgra8, memory, 31, nullptr), nullptr);
    EXPECT_EQ(PixelBuffer::wrap(8, 2, PixelFormat::bgra8, nullptr, 32, nullptr), nullptr);
    EXPECT_EQ(PixelBuffer::wrap(0, 2, PixelFormat::r8, memory, 32, nullptr), nullptr);
    EXPECT_NE(PixelBuffer::wrap(8, 2, PixelFormat::bgra8, memory, 32, nullptr), nullptr);
    EXPECT_NE(PixelBuffer::wrap(31, 2, PixelFormat::r8, memory, 31, nullptr), nullptr);
}

// Only memory whose rows start on the device's alignment can be aliased by a texture.
TEST(PixelBuffer, SurfaceBackedOnlyWithTheDevicesRowLayout) {
    alignas(64) static std::uint8_t memory[64 * 8 + 64];
    struct Case {
        const char *what;
        std::size_t offset, stride;
        bool surface;
    };
    const Case cases[] = {{"aligned address and stride", 0, 64, true},
                          {"aligned, wider stride", 0, 128, true},
                          {"address off by 4 bytes", 4, 64, false},
                          {"stride of 68 bytes", 0, 68, false}};
    for (const Case &c : cases) {
        auto pb =
            PixelBuffer::wrap(16, 4, PixelFormat::bgra8, memory + c.offset, c.stride, nullptr);
        ASSERT_NE(pb, nullptr) << c.what;
        EXPECT_EQ(pb->isSurfaceBacked(), c.surface) << c.what;
    }
    for (int width : {1, 15, 17, 1920})
        EXPECT_TRUE(PixelBuffer::create(width, 3, PixelFormat::bgra8)->isSurfaceBacked()) << width;
}

} // namespace
} // namespace qv::platform
