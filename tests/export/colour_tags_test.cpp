// A movie is tagged with the matrix, primaries and transfer of one standard, as a demuxer reads
// them back from the file.
#include "platform/media/movie_writer.h"

#include "export_fixtures.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include <gtest/gtest.h>

namespace qv::platform::media {
namespace {

using testing::TempDir;

struct ProbedTags {
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
};

ProbedTags probe(const std::filesystem::path &file) {
    AVFormatContext *format = nullptr;
    ProbedTags tags;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << file;
        return tags;
    }
    if (avformat_find_stream_info(format, nullptr) >= 0) {
        const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (index >= 0) {
            const AVCodecParameters *p = format->streams[index]->codecpar;
            tags = {p->color_space, p->color_primaries, p->color_trc, p->color_range};
        } else {
            ADD_FAILURE() << file << " has no video stream";
        }
    }
    avformat_close_input(&format);
    return tags;
}

struct TagCase {
    const char *name;
    YuvColorimetry colorimetry;
    ProbedTags expected;
};

class WrittenColourTags : public ::testing::TestWithParam<TagCase> {};

TEST_P(WrittenColourTags, NameOneStandard) {
    TempDir dir;
    const auto file = dir.path() / "tags.mp4";
    MovieWriter::Settings s;
    s.width = 32;
    s.height = 16;
    s.video = {"libx264", "yuv420p", {{"preset", "ultrafast"}}, "", 1};
    s.colorimetry = GetParam().colorimetry;
    auto writer = MovieWriter::create(file, s);
    ASSERT_TRUE(writer) << writer.error().message;
    auto frame = PixelBuffer::create(32, 16, PixelFormat::bgra8);
    ASSERT_TRUE(frame);
    for (int y = 0; y < 16; ++y) std::fill_n(frame->row(y), 32 * 4, std::uint8_t(200));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE((*writer)->appendVideo(*frame));
    ASSERT_TRUE((*writer)->finish());

    const ProbedTags got = probe(file);
    const ProbedTags &want = GetParam().expected;
    EXPECT_STREQ(av_color_space_name(got.matrix), av_color_space_name(want.matrix));
    EXPECT_STREQ(av_color_primaries_name(got.primaries), av_color_primaries_name(want.primaries));
    EXPECT_STREQ(av_color_transfer_name(got.transfer), av_color_transfer_name(want.transfer));
    EXPECT_STREQ(av_color_range_name(got.range), av_color_range_name(want.range));
}

INSTANTIATE_TEST_SUITE_P(
    MovieWriter, WrittenColourTags,
    ::testing::Values(
        TagCase{"Bt601",
                {YuvMatrix::bt601, false},
                {AVCOL_SPC_SMPTE170M, AVCOL_PRI_SMPTE170M, AVCOL_TRC_SMPTE170M, AVCOL_RANGE_MPEG}},
        TagCase{"Bt709",
                {YuvMatrix::bt709, false},
                {AVCOL_SPC_BT709, AVCOL_PRI_BT709, AVCOL_TRC_BT709, AVCOL_RANGE_MPEG}},
        TagCase{"Bt2020",
                {YuvMatrix::bt2020, false},
                {AVCOL_SPC_BT2020_NCL, AVCOL_PRI_BT2020, AVCOL_TRC_BT2020_10, AVCOL_RANGE_MPEG}},
        TagCase{"Bt709FullRange",
                {YuvMatrix::bt709, true},
                {AVCOL_SPC_BT709, AVCOL_PRI_BT709, AVCOL_TRC_BT709, AVCOL_RANGE_JPEG}}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace qv::platform::media
