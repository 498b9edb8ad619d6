#include "platform/image/image_file.h"

#include "platform/core/atomic_file.h"
#include "platform/imageio/png.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <jpeglib.h>

namespace qv::platform {

namespace {

constexpr int kMaxSide = 16384;

// libjpeg reports fatal errors through error_exit, which must not return: it keeps the message
// and jumps back to the function that drives the library. Objects with destructors live
// outside the jump's reach.
struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void onJpegError(j_common_ptr cinfo) {
    auto *err = reinterpret_cast<JpegError *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void onJpegMessage(j_common_ptr, int) {
} // warnings do not stop decoding

Error fileError(const std::filesystem::path &path, const std::string &what) {
    return Error{"\"" + path.string() + "\": " + what};
}

struct FileCloser {
    void operator()(std::FILE *f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Decodes into `out`, which the caller owns; returns the error text or nothing.
bool decodeJpeg(std::FILE *f, PixelBufferRef &out, std::string &error) {
    jpeg_decompress_struct cinfo{};
    JpegError err{};
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = onJpegError;
    err.mgr.emit_message = onJpegMessage;
    if (setjmp(err.jump)) {
        error = err.message;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width > kMaxSide || cinfo.image_height > kMaxSide) {
        jpeg_destroy_decompress(&cinfo);
        error = "picture too large";
        return false;
    }
    cinfo.out_color_space = JCS_EXT_BGRA; // libjpeg-turbo writes BGRA with opaque alpha
    jpeg_start_decompress(&cinfo);
    out =
        PixelBuffer::create(int(cinfo.output_width), int(cinfo.output_height), PixelFormat::bgra8);
    if (!out) {
        jpeg_destroy_decompress(&cinfo);
        error = "out of memory";
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out->row(int(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

bool encodeJpeg(std::FILE *f, const PixelBuffer &pb, int quality, std::string &error) {
    jpeg_compress_struct cinfo{};
    JpegError err{};
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = onJpegError;
    err.mgr.emit_message = onJpegMessage;
    std::vector<std::uint8_t> rgb(std::size_t(pb.width()) * 3);
    if (setjmp(err.jump)) {
        error = err.message;
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = JDIMENSION(pb.width());
    cinfo.image_height = JDIMENSION(pb.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        const std::uint8_t *s = pb.row(int(cinfo.next_scanline));
        for (int i = 0; i < pb.width(); ++i) {
            rgb[3 * i] = s[4 * i + 2], rgb[3 * i + 1] = s[4 * i + 1], rgb[3 * i + 2] = s[4 * i];
        }
        JSAMPROW row = rgb.data();
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

} // namespace

Result<ImageRef> decodeImageFile(const std::filesystem::path &path) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) return fileError(path, std::strerror(errno));
    unsigned char magic[8] = {};
    const std::size_t n = std::fread(magic, 1, sizeof magic, f.get());
    static constexpr unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (n == 8 && std::memcmp(magic, kPng, 8) == 0) {
        f.reset();
        auto png = readPng(path);
        if (!png) return png.error();
        if ((*png)->width() > kMaxSide || (*png)->height() > kMaxSide)
            return fileError(path, "picture too large");
        return Image::make(std::move(*png));
    }
    if (n >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) {
        std::rewind(f.get());
        PixelBufferRef out;
        std::string error;
        if (!decodeJpeg(f.get(), out, error))
            return fileError(path, "not a readable JPEG: " + error);
        return Image::make(std::move(out));
    }
    return fileError(path, n == 0 ? "empty file" : "neither a PNG nor a JPEG picture");
}

Status writeJpeg(const std::filesystem::path &path, const PixelBuffer &buffer, int quality) {
    if (buffer.format() != PixelFormat::bgra8) return fileError(path, "not a BGRA picture");
    const Status written =
        writeFileAtomically(path, [&](std::FILE *f) -> std::optional<std::string> {
            std::string error;
            if (!encodeJpeg(f, buffer, quality, error)) return error;
            return std::nullopt;
        });
    if (!written) return Error{written.error().message};
    return Ok{};
}

} // namespace qv::platform
