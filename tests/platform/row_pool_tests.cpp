// The device's row bands: every row once, and a band that throws reaches the caller after every
// band is done instead of ending the process.
#include "platform/gfx/cpu/row_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <vector>

namespace qv::platform::gfx::cpu {
namespace {

TEST(RowBandPool, CoversEveryRowOnce) {
    RowBandPool pool(3);
    std::vector<std::atomic<int>> seen(97);
    pool.run(97, [&](int r0, int r1) {
        for (int r = r0; r < r1; ++r) seen[r].fetch_add(1);
    });
    for (int r = 0; r < 97; ++r) EXPECT_EQ(seen[r].load(), 1) << r;
}

TEST(RowBandPool, AThrowingBandIsRethrownOnceEveryBandIsDone) {
    for (int threads : {1, 3}) {
        RowBandPool pool(threads);
        for (int round = 0; round < 20; ++round) {
            std::atomic<int> rowsDone{0};
            EXPECT_THROW(pool.run(64,
                                  [&](int r0, int r1) {
                                      if (r0 == 0) throw std::bad_alloc();
                                      rowsDone.fetch_add(r1 - r0);
                                  }),
                         std::bad_alloc)
                << threads;
            // Every other band ran to its end before run() returned.
            const int firstBand = threads == 1 ? 64 : 64 / std::min(64, pool.threadCount() * 4);
            EXPECT_EQ(rowsDone.load(), 64 - firstBand) << threads;
        }
        // The pool still works.
        std::atomic<int> rows{0};
        pool.run(64, [&](int r0, int r1) { rows.fetch_add(r1 - r0); });
        EXPECT_EQ(rows.load(), 64);
    }
}

} // namespace
} // namespace qv::platform::gfx::cpu
