// The recording's clock: pauses cut the same stretch from every stream, frames land in the slot
// nearest their time, device stamps are read on the clock they were taken with, and sound is
// padded or trimmed to its place.
#include "Frontpanel/recording/audio_capture.h"
#include "Frontpanel/recording/session_clock.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

using qv::frontpanel::FrameSlots;
using qv::frontpanel::matchStamp;
using qv::frontpanel::placeSound;
using qv::frontpanel::SessionClock;
using qv::frontpanel::SoundPlacement;
using qv::frontpanel::SoundPlacer;
using qv::frontpanel::StampClock;

constexpr std::int64_t ms = 1'000'000;

TEST(SessionClock, NothingBeforeTheOriginAndTheFirstOriginWins) {
    SessionClock clock;
    EXPECT_FALSE(clock.recordingNs(5 * ms));
    EXPECT_EQ(clock.elapsedNs(5 * ms), 0);
    EXPECT_TRUE(clock.setOrigin(100 * ms));
    EXPECT_FALSE(clock.setOrigin(200 * ms));
    EXPECT_EQ(clock.originNs(), 100 * ms);
    EXPECT_FALSE(clock.recordingNs(99 * ms));
    EXPECT_EQ(clock.continuousNs(90 * ms), -10 * ms);
    EXPECT_EQ(clock.recordingNs(100 * ms), 0);
    EXPECT_EQ(clock.recordingNs(350 * ms), 250 * ms);
}

TEST(SessionClock, PausesCutTheSameStretchFromEveryTime) {
    SessionClock clock;
    clock.setOrigin(1000 * ms);
    clock.pause(2000 * ms);
    EXPECT_TRUE(clock.isPaused());
    clock.pause(2500 * ms); // a second pause does not restart the first
    clock.resume(3000 * ms);
    clock.pause(4000 * ms);
    clock.resume(4500 * ms);
    EXPECT_FALSE(clock.isPaused());
    struct Case {
        std::int64_t hostMs;
        std::optional<std::int64_t> recordingMs;
        std::int64_t continuousMs;
    };
    const std::vector<Case> cases = {
        {1500, 500, 500},   // before any pause
        {1999, 999, 999},   // just before the first
        {2000, {}, 1000},   // inside the first: no recording time, held at its start
        {2700, {}, 1000},   //
        {3000, 1000, 1000}, // the first pause is gone
        {3500, 1500, 1500}, //
        {4200, {}, 2000},   // inside the second
        {5000, 2500, 2500}, // both gone
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.hostMs);
        const auto t = clock.recordingNs(c.hostMs * ms);
        EXPECT_EQ(t.has_value(), c.recordingMs.has_value());
        if (t && c.recordingMs) {
            EXPECT_EQ(*t, *c.recordingMs * ms);
        }
        EXPECT_EQ(clock.continuousNs(c.hostMs * ms), c.continuousMs * ms);
    }
    EXPECT_EQ(clock.elapsedNs(5000 * ms), 2500 * ms);
    EXPECT_EQ(clock.pausedNs(5000 * ms), 1500 * ms);
}

TEST(SessionClock, ElapsedTimeStandsStillWhilePaused) {
    SessionClock clock;
    clock.pause(10 * ms); // before the origin: ignored
    EXPECT_FALSE(clock.isPaused());
    clock.setOrigin(0);
    clock.pause(1000 * ms);
    EXPECT_EQ(clock.elapsedNs(1500 * ms), 1000 * ms);
    EXPECT_EQ(clock.elapsedNs(9000 * ms), 1000 * ms);
    clock.resume(9000 * ms);
    EXPECT_EQ(clock.elapsedNs(9100 * ms), 1100 * ms);
}

TEST(FrameSlots, FramesTakeTheNearestFreeSlot) {
    FrameSlots slots(30); // 33.3 ms a frame
    struct Case {
        std::int64_t atMs;
        std::optional<std::int64_t> slot;
    };
    const std::vector<Case> cases = {
        {250, 0},  // the first frame is frame 0 whatever its time
        {34, 1},   //
        {65, 2},   // a little early still rounds to its own slot
        {70, {}},  // that slot is taken: skipped
        {140, 4},  // slot 3 was missed: dropped
        {250, 8},  // 7.5 rounds up; 5, 6 and 7 dropped
        {1000, 30} //
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.atMs);
        EXPECT_EQ(slots.place(c.atMs * ms), c.slot);
    }
    EXPECT_EQ(slots.written(), 6);
    EXPECT_EQ(slots.skipped(), 1);
    EXPECT_EQ(slots.dropped(), 1 + 3 + 21);
    EXPECT_EQ(slots.timeNs(30), 1000 * ms);
    EXPECT_EQ(slots.timeNs(1), 33'333'333);
}

TEST(MatchStamp, ReadsEachDeviceStampOnItsOwnClock) {
    const std::int64_t mono = 5'000 * ms, wall = 1'765'000'000'000 * ms;
    struct Case {
        const char *what;
        std::int64_t stamp;
        StampClock clock;
        std::int64_t hostNs;
        std::int64_t latencyNs;
    };
    const std::vector<Case> cases = {
        {"monotonic, 3 ms old", mono - 3 * ms, StampClock::monotonic, mono - 3 * ms, 3 * ms},
        {"monotonic, a little ahead", mono + 2 * ms, StampClock::monotonic, mono + 2 * ms, -2 * ms},
        {"wall clock, 40 ms old", wall - 40 * ms, StampClock::wallClock, mono - 40 * ms, 40 * ms},
        {"stream time from 0", 0, StampClock::none, mono, 0},
        {"too old to believe", mono - 3000 * ms, StampClock::none, mono, 0},
        {"in the future", mono + 50 * ms, StampClock::none, mono, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const auto m = matchStamp(c.stamp, mono, wall);
        EXPECT_EQ(m.clock, c.clock);
        EXPECT_EQ(m.hostNs, c.hostNs);
        EXPECT_EQ(m.latencyNs, c.latencyNs);
    }
}

TEST(PlaceSound, PadsGapsTrimsOverlapsAndIgnoresJitter) {
    struct Case {
        std::int64_t written, start;
        std::int64_t silence, skip;
    };
    const std::vector<Case> cases = {
        {0, 0, 0, 0},           // the first packet at the origin
        {0, 4800, 4800, 0},     // starts 100 ms late (48 kHz): silence first
        {0, -960, 0, 960},      // began 20 ms before the origin: its start is left out
        {4800, 4900, 0, 0},     // jitter within the slack
        {4800, 4700, 0, 0},     //
        {48000, 47000, 0, 1000} // overlaps the written sound (after a resume)
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.written) + " " + std::to_string(c.start));
        const auto p = placeSound(c.written, c.start, 480);
        EXPECT_EQ(p.silence, c.silence);
        EXPECT_EQ(p.skip, c.skip);
    }
}

TEST(SoundPlacer, FollowsTheMedianOfTheStampsNotEachOne) {
    SoundPlacer placer(480, 5);
    std::int64_t written = 0;
    // Feeds 960-sample packets whose stamps lie `offset` samples from where they would go.
    const auto feed = [&](std::int64_t offset) {
        const SoundPlacement p = placer.place(written, written + offset);
        written += p.silence + 960 - p.skip;
        return p;
    };
    // The first packet is placed by its stamp: 100 ms late, silence first.
    EXPECT_EQ(feed(4800), (SoundPlacement{4800, 0}));
    // Jitter of up to 30 ms either way moves nothing while the median stays within the slack.
    for (std::int64_t jitter : {1400, -1400, 300, -200, 1440, 0, -1300, 100})
        EXPECT_EQ(feed(jitter), SoundPlacement{});
    // A lasting shift of 40 ms is corrected once, when most of the window shows it.
    std::vector<SoundPlacement> placed;
    for (int i = 0; i < 5; ++i) placed.push_back(feed(1920));
    const std::vector<SoundPlacement> expected{{}, {}, {1920, 0}, {}, {}};
    EXPECT_EQ(placed, expected);
    // ... and then holds.
    for (int i = 0; i < 6; ++i) EXPECT_EQ(feed(0), SoundPlacement{});
    // After a pause the next packet goes by its own stamp: an overlap is cut at once.
    placer.reset();
    EXPECT_EQ(feed(-700), (SoundPlacement{0, 700}));
}

} // namespace
