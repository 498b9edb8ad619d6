#include "platform/imageio/png.h"

#include "platform/core/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <png.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace qv::platform {

namespace {

// libpng reports errors through a callback that must not return; it records the message and
// jumps back to the setjmp in the function that drives libpng. Those functions keep every C++
// object with a destructor outside the jump's reach (in this context, owned by the caller).
struct PngContext {
    std::string error;
    std::vector<std::uint8_t> pixels; // straight-alpha rows to write, or nothing when reading
    std::vector<png_bytep> rows;
    PixelBufferRef out;
};

[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
    auto *ctx = static_cast<PngContext *>(png_get_error_ptr(png));
    ctx->error = message ? message : "unknown libpng error";
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {
    // Warnings (unknown chunks, odd colour profiles) do not stop reading or writing.
}

std::uint8_t unpremultiply(std::uint8_t c, std::uint8_t a) {
    if (a == 0) return 0;
    const unsigned v = (unsigned{c} * 255 + a / 2u) / a;
    return static_cast<std::uint8_t>(v > 255 ? 255 : v);
}

std::uint8_t premultiply(std::uint8_t c, std::uint8_t a) {
    return static_cast<std::uint8_t>((unsigned{c} * a + 127) / 255);
}

bool encode(FILE *file, int width, int height, int colorType, PngContext &ctx) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &ctx, onPngError, onPngWarning);
    if (!png) {
        ctx.error = "out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        ctx.error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, ctx.rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool decode(FILE *file, PngContext &ctx) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &ctx, onPngError, onPngWarning);
    if (!png) {
        ctx.error = "out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        ctx.error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int colorType = png_get_color_type(png, info);

    // Everything becomes 8-bit B, G, R, A.
    png_set_expand(png); // palette to RGB, grey below 8 bits to 8, tRNS to alpha
    png_set_scale_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    if (width > 0x7fffffffu || height > 0x7fffffffu) png_error(png, "image too large");
    if (png_get_rowbytes(png, info) != std::size_t{width} * 4)
        png_error(png, "unsupported pixel layout");
    ctx.out =
        PixelBuffer::create(static_cast<int>(width), static_cast<int>(height), PixelFormat::bgra8);
    if (!ctx.out) png_error(png, "image too large");
    ctx.rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) ctx.rows[y] = ctx.out->row(static_cast<int>(y));
    png_read_image(png, ctx.rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

} // namespace

Status writePng(const std::filesystem::path &path, const PixelBuffer &buffer) {
    auto failure = [&](const std::string &problem) -> Status {
        return Error{"cannot write PNG \"" + path.string() + "\": " + problem};
    };
    if (path.filename().empty()) return failure("not a file name");

    const int w = buffer.width(), h = buffer.height();
    PngContext ctx;
    int colorType;
    if (buffer.format() == PixelFormat::bgra8) {
        colorType = PNG_COLOR_TYPE_RGB_ALPHA;
        ctx.pixels.resize(std::size_t{4} * static_cast<std::size_t>(w) * h);
        for (int y = 0; y < h; ++y) {
            const std::uint8_t *src = buffer.row(y);
            std::uint8_t *dst = ctx.pixels.data() + std::size_t{4} * w * y;
            for (int x = 0; x < w; ++x, src += 4, dst += 4) {
                const std::uint8_t a = src[3];
                dst[0] = unpremultiply(src[2], a);
                dst[1] = unpremultiply(src[1], a);
                dst[2] = unpremultiply(src[0], a);
                dst[3] = a;
            }
        }
        for (int y = 0; y < h; ++y) ctx.rows.push_back(ctx.pixels.data() + std::size_t{4} * w * y);
    } else {
        colorType = PNG_COLOR_TYPE_GRAY;
        // libpng only reads through row pointers, so the buffer's rows are used directly.
        for (int y = 0; y < h; ++y) ctx.rows.push_back(const_cast<std::uint8_t *>(buffer.row(y)));
    }

    const Status written = writeFileAtomically(path, [&](FILE *file) -> std::optional<std::string> {
        if (!encode(file, w, h, colorType, ctx)) return ctx.error;
        return std::nullopt;
    });
    if (!written)
        return Error{"cannot write PNG \"" + path.string() + "\": " + written.error().message};
    return Ok{};
}

Result<PixelBufferRef> readPng(const std::filesystem::path &path) {
    auto failure = [&](const std::string &problem) -> Result<PixelBufferRef> {
        return Error{"cannot read PNG \"" + path.string() + "\": " + problem};
    };
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) return failure(std::strerror(errno));

    png_byte signature[8] = {};
    const std::size_t got = std::fread(signature, 1, sizeof signature, file);
    if (got != sizeof signature || png_sig_cmp(signature, 0, sizeof signature) != 0) {
        std::fclose(file);
        return failure(got == 0 ? "empty file" : "not a PNG file");
    }
    std::rewind(file);

    PngContext ctx;
    const bool ok = decode(file, ctx);
    std::fclose(file);
    if (!ok) return failure(ctx.error);

    PixelBuffer &out = *ctx.out;
    for (int y = 0; y < out.height(); ++y) {
        std::uint8_t *p = out.row(y);
        for (int x = 0; x < out.width(); ++x, p += 4) {
            const std::uint8_t a = p[3];
            if (a == 255) continue;
            p[0] = premultiply(p[0], a);
            p[1] = premultiply(p[1], a);
            p[2] = premultiply(p[2], a);
        }
    }
    return std::move(ctx.out);
}

} // namespace qv::platform
