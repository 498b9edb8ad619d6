#include "platform/media/ffmpeg_support.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qv::platform::media::ff {

namespace {

struct MatrixTags {
    YuvMatrix matrix;
    ColourTags tags;
};

constexpr MatrixTags matrixTags[] = {
    {YuvMatrix::bt601,
     {AVCOL_SPC_SMPTE170M, AVCOL_PRI_SMPTE170M, AVCOL_TRC_SMPTE170M, SWS_CS_ITU601}},
    {YuvMatrix::bt709, {AVCOL_SPC_BT709, AVCOL_PRI_BT709, AVCOL_TRC_BT709, SWS_CS_ITU709}},
    // The 10-bit transfer: the 12-bit one differs only in precision beyond 10 bits.
    {YuvMatrix::bt2020,
     {AVCOL_SPC_BT2020_NCL, AVCOL_PRI_BT2020, AVCOL_TRC_BT2020_10, SWS_CS_BT2020}},
};

} // namespace

ColourTags colourTags(YuvMatrix matrix) noexcept {
    for (const MatrixTags &m : matrixTags)
        if (m.matrix == matrix) return m.tags;
    return matrixTags[0].tags; // only for a value cast from outside the enumeration
}

YuvMatrix matrixOf(AVColorSpace tag) noexcept {
    // The constant-luminance form shares the non-constant one's coefficients.
    if (tag == AVCOL_SPC_BT2020_CL) tag = AVCOL_SPC_BT2020_NCL;
    for (const MatrixTags &m : matrixTags)
        if (m.tags.matrix == tag) return m.matrix;
    return YuvMatrix::bt601;
}

bool memoryRanOut() {
    constexpr std::size_t probeBytes = std::size_t(64) << 20;
    // Volatile, so that the compiler cannot drop the pair and assume success.
    void *volatile probe = std::malloc(probeBytes);
    const bool failed = probe == nullptr;
    std::free(probe);
    return failed;
}

std::string errorText(int code) {
    // EAGAIN from opening a codec is a worker thread that could not start.
    if (code == AVERROR(ENOMEM) ||
        ((code == AVERROR_EXTERNAL || code == AVERROR(EAGAIN)) && memoryRanOut()))
        return "not enough memory";
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

std::string openInput(const std::string &file, AVFormatContext **out) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return file + ": cannot open: " + std::strerror(errno);
    if (!S_ISREG(st.st_mode)) return file + ": cannot open: not a regular file";
    const int rc = avformat_open_input(out, file.c_str(), nullptr, nullptr);
    if (rc < 0) return file + ": cannot open: " + errorText(rc);
    return {};
}

std::string openStream(const std::string &file, AVMediaType type, int decoderThreads,
                       OpenedStream &out) {
    AVFormatContext *raw = nullptr;
    if (std::string problem = openInput(file, &raw); !problem.empty()) return problem;
    out.format.reset(raw);
    int rc = 0;
    if ((rc = avformat_find_stream_info(raw, nullptr)) < 0)
        return file + ": cannot read its streams: " + errorText(rc);
    const AVCodec *codec = nullptr;
    out.streamIndex = av_find_best_stream(raw, type, -1, -1, &codec, 0);
    const char *kind = type == AVMEDIA_TYPE_VIDEO ? "video" : "audio";
    if (out.streamIndex < 0 || !codec)
        return file + ": has no " + kind + " stream that can be decoded";
    out.decoder.reset(avcodec_alloc_context3(codec));
    if (!out.decoder) return file + ": not enough memory";
    AVStream *st = raw->streams[out.streamIndex];
    if ((rc = avcodec_parameters_to_context(out.decoder.get(), st->codecpar)) < 0)
        return file + ": unusable " + kind + " parameters: " + errorText(rc);
    out.decoder->pkt_timebase = st->time_base;
    out.decoder->thread_count = decoderThreads;
    if ((rc = avcodec_open2(out.decoder.get(), codec, nullptr)) < 0)
        return file + ": cannot open the " + kind + " decoder: " + errorText(rc);
    return {};
}

} // namespace qv::platform::media::ff
