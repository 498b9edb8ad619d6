// The pointer track's rests: a held sample before a move that follows a rest elsewhere.
#include "Frontpanel/recording/pointer_rests.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace qv::frontpanel {
namespace {

using Sample = CursorFile::Sample;

Sample at(std::int64_t t, double x, double y) {
    return {t, x, y, 800, 600, "1"};
}

struct RestCase {
    const char *name;
    std::vector<Sample> in, want;
};

class PointerRests : public ::testing::TestWithParam<RestCase> {};

TEST_P(PointerRests, HoldBeforeAMoveAfterARest) {
    EXPECT_EQ(withPointerRests(GetParam().in), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Tracks, PointerRests,
    ::testing::Values(RestCase{"empty", {}, {}},
                      // Moving samples 16 ms apart need nothing.
                      RestCase{"moving",
                               {at(0, 1, 1), at(16, 5, 1), at(33, 9, 2)},
                               {at(0, 1, 1), at(16, 5, 1), at(33, 9, 2)}},
                      // A warp after a second at rest: held until a tick before.
                      RestCase{"warp",
                               {at(17, 10, 10), at(1017, 300, 200)},
                               {at(17, 10, 10), at(1000, 10, 10), at(1017, 300, 200)}},
                      // Exactly the rest limit is still motion; one past it is a rest.
                      RestCase{"limit",
                               {at(0, 0, 0), at(100, 4, 0), at(201, 8, 0)},
                               {at(0, 0, 0), at(100, 4, 0), at(184, 4, 0), at(201, 8, 0)}},
                      // Resting samples at the same place (a pointer frozen over a hidden window)
                      // stay as they are.
                      RestCase{
                          "samePlace", {at(0, 7, 7), at(500, 7, 7)}, {at(0, 7, 7), at(500, 7, 7)}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(PointerRestsFile, RewritesTheFolderTrackAndLeavesAFolderWithoutOne) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("qv-rests-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    EXPECT_TRUE(markPointerRests(dir));
    EXPECT_FALSE(std::filesystem::exists(dir / CursorFile::fileName));

    CursorFile file;
    file.samples = {at(0, 1, 2), at(400, 50, 60)};
    file.kinds = {{0, "arrow"}};
    std::ofstream(dir / CursorFile::fileName) << *file.encode();
    ASSERT_TRUE(markPointerRests(dir));
    const auto read = CursorFile::load(dir);
    ASSERT_TRUE(read) << read.error().message;
    EXPECT_EQ(read->samples, (std::vector<Sample>{at(0, 1, 2), at(383, 1, 2), at(400, 50, 60)}));
    EXPECT_EQ(read->kinds, file.kinds);

    // A damaged track is reported and left as it was.
    std::ofstream(dir / CursorFile::fileName) << "{\"samples\": [";
    EXPECT_FALSE(markPointerRests(dir));
    std::ifstream in(dir / CursorFile::fileName);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "{\"samples\": [");
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace qv::frontpanel
