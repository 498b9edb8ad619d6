// Colour conversion between the compositor's BGRA frames and the 4:2:0 YUV pictures that
// decoders give and encoders take. These run once per frame on both sides of an export, where
// they compete with the encoder for the same cores, so they are written for speed: AVX2 when the
// CPU has it, with a scalar version that computes exactly the same integers.
//
// Thread safety: pure functions; different pictures may be converted concurrently.
#pragma once

#include "platform/video/pixel_buffer.h"

#include <cstddef>
#include <cstdint>

namespace qv::platform::media {

enum class YuvMatrix { bt601, bt709, bt2020 };

struct YuvColorimetry {
    YuvMatrix matrix = YuvMatrix::bt709;
    bool fullRange = false; // false: luma 16..235, chroma 16..240
    friend constexpr bool operator==(const YuvColorimetry &, const YuvColorimetry &) = default;
};

// A 4:2:0 picture: a luma plane and either two chroma planes (I420) or one interleaved U/V
// plane (NV12, `v` unused). Chroma planes have (width + 1) / 2 samples per row and
// (height + 1) / 2 rows.
template <class Byte> struct Yuv420PlanesOf {
    Byte *y = nullptr;
    std::ptrdiff_t yStride = 0;
    Byte *u = nullptr; // the U/V plane for NV12
    std::ptrdiff_t uStride = 0;
    Byte *v = nullptr;
    std::ptrdiff_t vStride = 0;
    bool interleavedUV = false;
};
using Yuv420Planes = Yuv420PlanesOf<std::uint8_t>;
using ConstYuv420Planes = Yuv420PlanesOf<const std::uint8_t>;

// BGRA8 to 4:2:0. Alpha is ignored: the compositor's frames are opaque. Each chroma sample is
// the mean of its 2 × 2 block (an odd last column or row is repeated). With `spans` (changes per
// source row), only the 2 × 2 blocks that touch a change are converted; the rest of the
// destination is left as it is.
void bgraToYuv420(const PixelBuffer &source, const Yuv420Planes &destination,
                  YuvColorimetry colorimetry, const RowChanges *spans = nullptr);

// 4:2:0 to opaque BGRA8 of the destination's size (chroma sited with its 2 × 2 block). With
// `spans` (changes per destination row), only those columns (widened to whole chroma samples)
// are written.
void yuv420ToBgra(const ConstYuv420Planes &source, YuvColorimetry colorimetry,
                  PixelBuffer &destination, const RowChanges *spans = nullptr);

namespace detail {
// The two implementations, for the tests that hold them to the same results. The AVX2 ones
// need platform::cpuHasAvx2().
void bgraToYuv420Scalar(const PixelBuffer &, const Yuv420Planes &, YuvColorimetry,
                        const RowChanges *spans = nullptr);
void bgraToYuv420Avx2(const PixelBuffer &, const Yuv420Planes &, YuvColorimetry,
                      const RowChanges *spans = nullptr);
void yuv420ToBgraScalar(const ConstYuv420Planes &, YuvColorimetry, PixelBuffer &,
                        const RowChanges *spans = nullptr);
void yuv420ToBgraAvx2(const ConstYuv420Planes &, YuvColorimetry, PixelBuffer &,
                      const RowChanges *spans = nullptr);
} // namespace detail

} // namespace qv::platform::media
