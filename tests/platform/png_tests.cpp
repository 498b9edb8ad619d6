#include "platform/imageio/png.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <vector>

namespace qv::platform {
namespace {

void writeBytes(const std::filesystem::path &path, const unsigned char *data, std::size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
}

std::vector<std::filesystem::path> listFolder(const std::filesystem::path &folder) {
    std::vector<std::filesystem::path> entries;
    for (const auto &e : std::filesystem::directory_iterator(folder)) entries.push_back(e.path());
    return entries;
}

TEST(Png, OpaqueBgraRoundTripIsExact) {
    testing::TempDir dir;
    auto pb = PixelBuffer::create(37, 19, PixelFormat::bgra8);
    for (int y = 0; y < 19; ++y)
        for (int x = 0; x < 37; ++x) {
            std::uint8_t *p = pb->row(y) + 4 * x;
            p[0] = static_cast<std::uint8_t>(x * 7);
            p[1] = static_cast<std::uint8_t>(y * 13);
            p[2] = static_cast<std::uint8_t>(x * y);
            p[3] = 255;
        }
    const auto path = dir / "opaque.png";
    const Status written = writePng(path, *pb);
    ASSERT_TRUE(written.ok()) << written.error().message;
    auto back = readPng(path);
    ASSERT_TRUE(back.ok()) << back.error().message;
    ASSERT_EQ((*back)->width(), 37);
    ASSERT_EQ((*back)->height(), 19);
    ASSERT_EQ((*back)->format(), PixelFormat::bgra8);
    for (int y = 0; y < 19; ++y)
        for (int i = 0; i < 37 * 4; ++i) ASSERT_EQ((*back)->row(y)[i], pb->row(y)[i]);
}

// Every valid premultiplied (colour <= alpha) pair. Writing rounds colour * 255 / alpha and
// reading rounds it back; the round trip error stays below half a step, so it is exact.
TEST(Png, PremultipliedPartialAlphaRoundTrips) {
    testing::TempDir dir;
    auto pb = PixelBuffer::create(256, 256, PixelFormat::bgra8);
    for (int a = 0; a < 256; ++a)
        for (int c = 0; c < 256; ++c) {
            std::uint8_t *p = pb->row(a) + 4 * c;
            const auto v = static_cast<std::uint8_t>(std::min(c, a));
            p[0] = v;
            p[1] = static_cast<std::uint8_t>(v / 2);
            p[2] = static_cast<std::uint8_t>(a - v);
            p[3] = static_cast<std::uint8_t>(a);
        }
    const auto path = dir / "alpha.png";
    ASSERT_TRUE(writePng(path, *pb).ok());
    auto back = readPng(path);
    ASSERT_TRUE(back.ok()) << back.error().message;
    for (int a = 0; a < 256; ++a)
        for (int i = 0; i < 256 * 4; ++i)
            ASSERT_EQ((*back)->row(a)[i], pb->row(a)[i]) << "alpha " << a << ", byte " << i;
}

TEST(Png, MaskWritesGreyThatReadsBackOpaque) {
    testing::TempDir dir;
    auto mask = PixelBuffer::create(9, 4, PixelFormat::r8);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x) mask->row(y)[x] = static_cast<std::uint8_t>(x * 30 + y);
    ASSERT_TRUE(writePng(dir / "mask.png", *mask).ok());
    auto back = readPng(dir / "mask.png");
    ASSERT_TRUE(back.ok()) << back.error().message;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x) {
            const std::uint8_t v = mask->row(y)[x];
            const std::uint8_t *p = (*back)->row(y) + 4 * x;
            ASSERT_EQ(p[0], v);
            ASSERT_EQ(p[1], v);
            ASSERT_EQ(p[2], v);
            ASSERT_EQ(p[3], 255);
        }
}

// Small files made by hand: a palette with a half-transparent red entry; grey + alpha in 16
// bits; 1-bit grey.
const unsigned char kPalette2x1[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x03, 0x00, 0x00, 0x00, 0xc3,
    0xfc, 0x8f, 0xb8, 0x00, 0x00, 0x00, 0x06, 0x50, 0x4c, 0x54, 0x45, 0xff, 0x00, 0x00, 0x00,
    0x00, 0xff, 0x6c, 0xa1, 0xfd, 0x8e, 0x00, 0x00, 0x00, 0x01, 0x74, 0x52, 0x4e, 0x53, 0x80,
    0xad, 0x5e, 0x5b, 0x46, 0x00, 0x00, 0x00, 0x0b, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63,
    0x60, 0x60, 0x04, 0x00, 0x00, 0x04, 0x00, 0x02, 0xbf, 0x7a, 0x3f, 0x4a, 0x00, 0x00, 0x00,
    0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
const unsigned char kGrayAlpha16_2x1[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x10, 0x04, 0x00, 0x00, 0x00, 0x0e,
    0xbb, 0x6b, 0x42, 0x00, 0x00, 0x00, 0x11, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0xf8,
    0xff, 0xbf, 0x81, 0x41, 0xc8, 0xe4, 0xff, 0x7f, 0x00, 0x15, 0xdb, 0x04, 0xc3, 0xf7, 0xb0,
    0xaa, 0xf8, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
const unsigned char kGray1bit8x1[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
    0x44, 0x52, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00,
    0x00, 0xcb, 0x7b, 0xd2, 0xee, 0x00, 0x00, 0x00, 0x0a, 0x49, 0x44, 0x41, 0x54, 0x78,
    0x9c, 0x63, 0xd8, 0x00, 0x00, 0x00, 0xb2, 0x00, 0xb1, 0x55, 0x0a, 0xe8, 0x2a, 0x00,
    0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

TEST(Png, OtherColourTypesBecomePremultipliedBgra) {
    struct Case {
        const char *name;
        const unsigned char *data;
        std::size_t size;
        std::vector<std::uint8_t> expected; // BGRA of the one row
    };
    const std::vector<Case> cases = {
        // red at alpha 128 premultiplies to 128; then opaque blue
        {"palette", kPalette2x1, sizeof kPalette2x1, {0, 0, 128, 128, 255, 0, 0, 255}},
        // white at alpha 0x8000 (128); grey 0x1234 scales to 18
        {"grey16",
         kGrayAlpha16_2x1,
         sizeof kGrayAlpha16_2x1,
         {128, 128, 128, 128, 18, 18, 18, 255}},
        {"grey1", kGray1bit8x1, sizeof kGray1bit8x1, {255, 255, 255, 255, 0,   0,   0,   255,
                                                      255, 255, 255, 255, 255, 255, 255, 255,
                                                      0,   0,   0,   255, 0,   0,   0,   255,
                                                      0,   0,   0,   255, 0,   0,   0,   255}},
    };
    testing::TempDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir / (std::string(c.name) + ".png");
        writeBytes(path, c.data, c.size);
        auto img = readPng(path);
        ASSERT_TRUE(img.ok()) << img.error().message;
        ASSERT_EQ((*img)->height(), 1);
        ASSERT_EQ(static_cast<std::size_t>((*img)->width()) * 4, c.expected.size());
        const std::vector<std::uint8_t> row((*img)->row(0), (*img)->row(0) + c.expected.size());
        EXPECT_EQ(row, c.expected);
    }
}

TEST(Png, ReadErrorsNameTheFileAndTheProblem) {
    testing::TempDir dir;
    // A noisy image compresses badly, so cutting it in half loses image data.
    auto pb = PixelBuffer::create(64, 64, PixelFormat::bgra8);
    std::uint32_t seed = 12345;
    for (int y = 0; y < 64; ++y)
        for (int i = 0; i < 256; ++i) {
            seed = seed * 1664525u + 1013904223u;
            pb->row(y)[i] = static_cast<std::uint8_t>(i % 4 == 3 ? 255 : seed >> 24);
        }
    const auto good = dir / "good.png";
    ASSERT_TRUE(writePng(good, *pb).ok());
    const auto size = std::filesystem::file_size(good);
    const auto truncated = dir / "truncated.png";
    std::filesystem::copy_file(good, truncated);
    std::filesystem::resize_file(truncated, size / 2);
    const auto notPng = dir / "text.png";
    std::ofstream(notPng) << "hello, not an image";
    const auto empty = dir / "empty.png";
    std::ofstream(empty).close();

    const std::vector<std::pair<std::filesystem::path, std::string>> cases = {
        {dir / "missing.png", "No such file"},
        {truncated, ""},
        {notPng, "not a PNG"},
        {empty, "empty"},
    };
    for (const auto &[path, problem] : cases) {
        auto r = readPng(path);
        ASSERT_FALSE(r.ok()) << path;
        EXPECT_NE(r.error().message.find(path.string()), std::string::npos) << r.error().message;
        EXPECT_NE(r.error().message.find(problem), std::string::npos) << r.error().message;
        EXPECT_GT(r.error().message.size(), path.string().size() + 20) << r.error().message;
    }
}

TEST(Png, FailedWriteLeavesNoFile) {
    testing::TempDir dir;
    auto pb = PixelBuffer::create(4, 4, PixelFormat::bgra8);

    // The target is a folder: encoding succeeds, the final rename fails.
    const auto folder = dir / "taken";
    std::filesystem::create_directory(folder);
    Status s = writePng(folder, *pb);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().message.find(folder.string()), std::string::npos) << s.error().message;
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::filesystem::path>{folder});
    EXPECT_TRUE(std::filesystem::is_empty(folder));

    // The folder does not exist: nothing can be created.
    const auto missing = dir / "nowhere" / "out.png";
    s = writePng(missing, *pb);
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().message.find(missing.string()), std::string::npos) << s.error().message;
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
}

TEST(Png, WriteReplacesAnExistingFileWhole) {
    testing::TempDir dir;
    const auto path = dir / "frame.png";
    auto big = PixelBuffer::create(50, 50, PixelFormat::bgra8);
    auto small = PixelBuffer::create(3, 2, PixelFormat::bgra8);
    small->row(1)[4 * 2 + 2] = 200;
    small->row(1)[4 * 2 + 3] = 255;
    ASSERT_TRUE(writePng(path, *big).ok());
    ASSERT_TRUE(writePng(path, *small).ok());
    auto back = readPng(path);
    ASSERT_TRUE(back.ok()) << back.error().message;
    EXPECT_EQ((*back)->width(), 3);
    EXPECT_EQ((*back)->row(1)[4 * 2 + 2], 200);
    EXPECT_EQ(listFolder(dir.path()).size(), 1u);
}

} // namespace
} // namespace qv::platform
