// Small helpers shared by the media layer's FFmpeg code: error texts, owning handles and the
// colour tags of decoded and encoded frames. Internal to platform/media; nothing outside includes
// it.
#pragma once

#include "platform/media/yuv_convert.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include <memory>
#include <string>

namespace qv::platform::media::ff {

// Whether memory has run out: an allocation of 64 MB, made and freed at once, fails. A library
// that cannot allocate often reports only a generic or invalid-data error; this tells.
bool memoryRanOut();

// The library's text for an error code, except that exhausted memory says "not enough memory"
// (an encoder library that cannot allocate reports only a generic external error, a codec whose
// threads cannot start "resource temporarily unavailable").
std::string errorText(int code);

struct FormatInputCloser {
    void operator()(AVFormatContext *c) const { avformat_close_input(&c); }
};
struct CodecContextFree {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
using InputFormat = std::unique_ptr<AVFormatContext, FormatInputCloser>;
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;

// The one mapping between our YUV matrices and the libraries' names for them. A movie we write
// is tagged with the matrix, primaries and transfer of one standard: BT.709 for BT.709, BT.2020
// for BT.2020, SMPTE 170M (BT.601's 525-line form) for BT.601.
struct ColourTags {
    AVColorSpace matrix;
    AVColorPrimaries primaries;
    AVColorTransferCharacteristic transfer;
    int swsCoefficients; // SWS_CS_*, for sws_getCoefficients()
};
ColourTags colourTags(YuvMatrix matrix) noexcept;
// Tagged matrices we do not convert with (and untagged ones) read as BT.601, as swscale does.
YuvMatrix matrixOf(AVColorSpace tag) noexcept;
inline AVColorRange rangeTag(bool fullRange) noexcept {
    return fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
}

// The YUV matrix and range a decoded frame declares. Frames that say nothing are read as
// BT.601, as swscale does, so that `quillvane frame` and export agree.
inline YuvColorimetry colorimetry(const AVFrame &f) {
    YuvColorimetry c;
    c.matrix = matrixOf(f.colorspace);
    c.fullRange = f.color_range == AVCOL_RANGE_JPEG || f.format == AV_PIX_FMT_YUVJ420P;
    return c;
}

// Opens a file's best stream of a type with a decoder ready to use. `what` names the file in
// messages.
struct OpenedStream {
    InputFormat format;
    CodecContext decoder;
    int streamIndex = -1;
    AVStream *stream() const { return format->streams[streamIndex]; }
};

// Opens a media file for reading; "" on success, else the reason naming the file. Only a regular
// file is opened: a FIFO would block for ever and a device never end.
std::string openInput(const std::string &file, AVFormatContext **out);

std::string openStream(const std::string &file, AVMediaType type, int decoderThreads,
                       OpenedStream &out);

} // namespace qv::platform::media::ff
