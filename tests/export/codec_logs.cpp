// The codec libraries print to stderr unless told otherwise; the tests keep them as quiet as the
// command line does (ctest runs with QUILLVANE_LOG=error).
#include "platform/media/codec_log.h"

#include <gtest/gtest.h>

namespace {

class QuietCodecs : public ::testing::Environment {
public:
    void SetUp() override { qv::platform::media::quietCodecLogs(); }
};

[[maybe_unused]] ::testing::Environment *const quiet =
    ::testing::AddGlobalTestEnvironment(new QuietCodecs);

} // namespace
