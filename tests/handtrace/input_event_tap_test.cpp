// The recorder's rules on a fake input platform: recording time and pauses, the pointer
// throttle, drags and buttons, the hidden-window test, the cursor-kind poll and the stop step.
// Events go through the real tap thread; the clock and the main executor are the test's.
#include "Handtrace/input_event_tap.h"
#include "Handtrace/key_chords.h"
#include "platform/core/log.h"

#include "fake_input.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <latch>
#include <sys/eventfd.h>
#include <thread>

namespace qv {
namespace {

using testing::FakeInputPlatform;
using testing::FakeScreen;
using testing::ManualExecutor;
using testing::TempDir;

constexpr Rect basis{100, 50, 1280, 800};

class Recorder : public ::testing::Test {
protected:
    void SetUp() override {
        input = std::make_shared<FakeInputPlatform>();
        input->setClock(1000.0);
    }

    std::unique_ptr<InputEventTap> make() {
        return InputEventTap::create(
            dir.path(),
            [this]() -> std::optional<double> {
                std::lock_guard g(mutex);
                return origin;
            },
            [this]() -> std::optional<Rect> {
                std::lock_guard g(mutex);
                return area;
            },
            executor, input);
    }
    std::unique_ptr<InputEventTap> started() {
        auto tap = make();
        EXPECT_TRUE(tap->start());
        executor.runPosted(); // creates the cursor-kind timer
        return tap;
    }
    void setOrigin(std::optional<double> o) {
        std::lock_guard g(mutex);
        origin = o;
    }
    void setArea(std::optional<Rect> r) {
        std::lock_guard g(mutex);
        area = r;
    }
    void key(std::uint64_t flags, std::uint16_t code) {
        input->deliver({InputEventType::keyDown, flags, code});
    }
    void click(Point at, InputEventType type = InputEventType::leftMouseDown) {
        input->editScreen([&](FakeScreen &s) { s.pointer = at; });
        input->deliver({type, 0, 0});
    }

    ClicksFile clicks() { return ClicksFile::load(dir.path()).value(); }
    CursorFile cursor() { return CursorFile::load(dir.path()).value(); }
    KeysFile keys() { return KeysFile::load(dir.path()).value(); }

    TempDir dir;
    ManualExecutor executor;
    std::shared_ptr<FakeInputPlatform> input;
    std::mutex mutex;
    std::optional<double> origin = 1000.0;
    std::optional<Rect> area = basis;
};

TEST_F(Recorder, RefusedCaptureLogsOnceStartsNothingAndWritesNothing) {
    std::vector<platform::LogRecord> records;
    platform::Logger::setSinkForTesting(
        [&](const platform::LogRecord &r) { records.push_back(r); });
    input->refuseTap(true);
    auto tap = make();
    EXPECT_FALSE(tap->start());
    platform::Logger::setSinkForTesting(nullptr);

    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, "Input Monitoring unavailable — input capture off");
    EXPECT_EQ(records[0].subsystem, "com.quillvane");
    EXPECT_EQ(records[0].category, "InputEventTap");
    EXPECT_EQ(records[0].level, platform::LogLevel::notice);
    EXPECT_EQ(executor.postedCount(), 0u);
    EXPECT_EQ(executor.timerCount(), 0u);
    tap->finishWritingFiles();
    EXPECT_TRUE(dir.entries().empty());
}

TEST_F(Recorder, RecordsOnANamedThreadAndPollsEveryFortyMilliseconds) {
    auto tap = started();
    EXPECT_EQ(executor.timerIntervals(),
              std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(40)});
    key(KeyChords::commandFlag, 1);
    EXPECT_EQ(input->handlerThreadName(), "llvane.inputtap");
    // A second start does not make a second tap.
    EXPECT_TRUE(tap->start());
    EXPECT_EQ(input->tapsCreated(), 1);
    tap->finishWritingFiles();
    EXPECT_FALSE(tap->start());
    EXPECT_EQ(keys().keys, (std::vector<KeysFile::Entry>{{0, "⌘S"}}));
}

TEST_F(Recorder, RecordingTimeCutsOutPauses) {
    auto tap = started();
    input->setClock(1002.0);
    tap->setPaused(true);
    input->setClock(1003.0);
    tap->setPaused(true);           // a second pause call does not restart the pause
    key(KeyChords::commandFlag, 2); // dropped while paused
    input->setClock(1005.0);
    tap->setPaused(false);
    input->setClock(1006.0);
    key(KeyChords::commandFlag, 1);
    input->setClock(1006.0019);
    key(KeyChords::commandFlag, 3); // 3001.9 ms truncates to 3001
    tap->setPaused(false);          // resuming twice changes nothing
    input->setClock(1007.5);
    tap->setPaused(true);
    input->setClock(1008.5);
    tap->setPaused(false);
    input->setClock(1009.0);
    key(KeyChords::commandFlag, 5);
    tap->finishWritingFiles();
    EXPECT_EQ(keys().keys,
              (std::vector<KeysFile::Entry>{{3000, "⌘S"}, {3001, "⌘F"}, {5000, "⌘G"}}));
}

TEST_F(Recorder, NothingBeforeTheOriginIsKnownOrReached) {
    setOrigin(std::nullopt);
    auto tap = started();
    key(KeyChords::commandFlag, 0);
    input->move({200, 200});
    setOrigin(1000.5); // later than now: t would be negative
    key(KeyChords::commandFlag, 0);
    input->move({200, 200});
    executor.fireTimers();
    input->setClock(1000.5);
    key(KeyChords::commandFlag, 1);
    tap->finishWritingFiles();
    EXPECT_EQ(keys().keys, (std::vector<KeysFile::Entry>{{0, "⌘S"}}));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"keys.json"});
}

TEST_F(Recorder, AnOriginThatIsNotANumberRecordsNothing) {
    setOrigin(std::nan(""));
    auto tap = started();
    key(KeyChords::commandFlag, 0);
    input->move({200, 200});
    executor.fireTimers();
    tap->finishWritingFiles();
    EXPECT_TRUE(dir.entries().empty());
}

TEST_F(Recorder, OnlyShortcutsAndBareKeysAreRecorded) {
    auto tap = started();
    key(0, 0);                       // "a"
    key(KeyChords::shiftFlag, 0);    // "A"
    key(0, 49);                      // Space
    key(KeyChords::controlFlag, 1);  // ⌃S
    key(0, 53);                      // ⎋
    key(KeyChords::commandFlag, 82); // keypad 0
    tap->finishWritingFiles();
    EXPECT_EQ(keys().keys, (std::vector<KeysFile::Entry>{{0, "⌃S"}, {0, "⎋"}}));
}

TEST_F(Recorder, ThrottlesPointerSamplesToSixtyASecond) {
    struct Case {
        double gapMs;
        std::size_t samples;
    };
    for (const Case c : {Case{10, 1}, Case{16, 1}, Case{17, 2}, Case{20, 2}}) {
        TempDir caseDir;
        auto tap = InputEventTap::create(
            caseDir.path(), [] { return std::optional<double>(1000.0); },
            [] { return std::optional<Rect>(basis); }, executor, input);
        ASSERT_TRUE(tap->start());
        input->setClock(1001.0);
        const std::size_t queriesBefore = input->pointerQueries();
        input->move({300, 300});
        input->advance(c.gapMs / 1000);
        input->move({310, 300});
        tap->finishWritingFiles();
        const auto file = CursorFile::load(caseDir.path()).value();
        EXPECT_EQ(file.samples.size(), c.samples) << c.gapMs << " ms apart";
        // A dropped event costs no pointer query.
        EXPECT_EQ(input->pointerQueries() - queriesBefore, c.samples) << c.gapMs << " ms";
    }
}

TEST_F(Recorder, PositionsAreRelativeToTheCaptureAreaAndCarryTheDisplay) {
    input->editScreen([](FakeScreen &s) {
        s.mainDisplay = 7;
        s.displays = {{7, {0, 0, 1000, 1000}}, {9, {1000, 0, 1000, 1000}}};
    });
    auto tap = started();
    input->setClock(1001.0);
    click({100, 50});                                  // the area's top-left corner
    click({40, 80}, InputEventType::rightMouseDown);   // left of the area
    click({1500, 10}, InputEventType::otherMouseDown); // on display 9
    click({-20, -20});                                 // under no display: the main one
    input->move({1100, 900});
    tap->finishWritingFiles();
    EXPECT_EQ(clicks().clicks,
              (std::vector<ClicksFile::Click>{{1000, 0, 0, 1280, 800, "7", "left"},
                                              {1000, -60, 30, 1280, 800, "7", "right"},
                                              {1000, 1400, -40, 1280, 800, "9", "other"},
                                              {1000, -120, -70, 1280, 800, "7", "left"}}));
    EXPECT_EQ(cursor().samples,
              (std::vector<CursorFile::Sample>{{1000, 1000, 850, 1280, 800, "9"}}));
}

TEST_F(Recorder, NoUsableCaptureAreaIgnoresPointerEvents) {
    auto tap = started();
    for (std::optional<Rect> bad : {std::optional<Rect>(), std::optional<Rect>(Rect{0, 0, 0, 800}),
                                    std::optional<Rect>(Rect{0, 0, 1280, -1}),
                                    std::optional<Rect>(Rect{std::nan(""), 0, 1280, 800}),
                                    std::optional<Rect>(Rect{0, 0, INFINITY, 800})}) {
        setArea(bad);
        click({10, 10});
        input->advance(1);
        input->move({20, 20});
    }
    setArea(basis);
    key(KeyChords::commandFlag, 1); // keys do not need the area
    input->advance(1);
    click({110, 60});
    tap->finishWritingFiles();
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"clicks.json", "keys.json"}));
    EXPECT_EQ(clicks().clicks.size(), 1u);
    EXPECT_EQ(clicks().clicks[0].x, 10);
}

TEST_F(Recorder, ADragRecordsSamplesAndOneClick) {
    auto tap = started();
    input->setClock(1001.0);
    click({500, 500}, InputEventType::rightMouseDown);
    for (int i = 1; i <= 3; ++i) {
        input->advance(0.03125); // binary fractions keep the expected times exact
        input->move({500.0 + 10 * i, 500}, InputEventType::rightMouseDragged);
    }
    tap->finishWritingFiles();
    ASSERT_EQ(clicks().clicks.size(), 1u);
    EXPECT_EQ(clicks().clicks[0].button, "right");
    ASSERT_EQ(cursor().samples.size(), 3u);
    EXPECT_EQ(cursor().samples[2].x, 430);
    EXPECT_EQ(cursor().samples[2].tMs, 1093); // 1093.75 truncated
}

TEST_F(Recorder, OwnHiddenWindowsCollectNoClicksAndFreezeThePointer) {
    WindowInfo hidden{true, 1.0, Rect{600, 100, 200, 200}, FakeInputPlatform::pid, 0};
    WindowInfo ordinary{true, std::nullopt, Rect{0, 0, 2000, 2000}, 77, 1};
    input->editScreen([&](FakeScreen &s) { s.windows = {{hidden, ordinary}}; });
    auto tap = started();
    input->setClock(1001.0);
    input->move({300, 300});
    input->advance(0.02);
    input->move({650, 150}); // over the hidden window: stays at the last position outside
    input->advance(0.02);
    click({660, 160}); // dropped
    input->move({700, 200});
    input->advance(0.02);
    input->move({900, 400}); // out again
    tap->finishWritingFiles();
    EXPECT_TRUE(clicks().clicks.empty());
    std::vector<std::pair<double, double>> positions;
    for (const auto &s : cursor().samples) positions.emplace_back(s.x, s.y);
    EXPECT_EQ(positions, (std::vector<std::pair<double, double>>{
                             {200, 250}, {200, 250}, {200, 250}, {800, 350}}));
}

TEST_F(Recorder, NoWindowListMeansNoHiddenWindow) {
    input->editScreen([](FakeScreen &s) { s.windows.reset(); });
    auto tap = started();
    click({650, 150});
    tap->finishWritingFiles();
    EXPECT_EQ(clicks().clicks.size(), 1u);
    EXPECT_GE(input->windowListQueries(), 1u);
}

TEST(HiddenWindowTest, TheFrontmostOpaqueWindowUnderThePointDecides) {
    const std::int64_t me = 10;
    const Rect area{0, 0, 100, 100};
    auto over = [&](std::vector<WindowInfo> windows, Point p = {50, 50}) {
        testing::VectorWindowList list(std::move(windows));
        return isOverHiddenWindow(&list, p, me);
    };
    const WindowInfo mineHidden{true, std::nullopt, area, me, 0};
    EXPECT_TRUE(over({mineHidden}));
    EXPECT_FALSE(over({mineHidden}, {100, 50})); // the right edge is outside
    EXPECT_FALSE(over({}));
    EXPECT_FALSE(isOverHiddenWindow(nullptr, {50, 50}, me));
    // Another process's window in front decides.
    EXPECT_FALSE(over({{true, 1.0, area, 11, 0}, mineHidden}));
    // A nearly transparent window in front is passed over; one just above 0.01 is not.
    EXPECT_TRUE(over({{true, 0.005, area, 11, 1}, mineHidden}));
    EXPECT_TRUE(over({{true, 0.01, area, 11, 1}, mineHidden}));
    EXPECT_FALSE(over({{true, 0.011, area, 11, 1}, mineHidden}));
    // Off-screen windows and windows elsewhere are passed over.
    EXPECT_TRUE(over({{false, 1.0, area, 11, 1}, mineHidden}));
    EXPECT_TRUE(over({{true, 1.0, Rect{200, 200, 10, 10}, 11, 1}, mineHidden}));
    EXPECT_TRUE(over({{true, 1.0, std::nullopt, 11, 1}, mineHidden}));
    // Our window that is shared, or whose values are missing, is no hidden window.
    EXPECT_FALSE(over({{true, 1.0, area, me, 1}}));
    EXPECT_FALSE(over({{true, 1.0, area, me, std::nullopt}}));
    EXPECT_FALSE(over({{true, 1.0, area, std::nullopt, 0}}));
}

TEST(HiddenWindowTest, StopsReadingAtTheDecidingWindow) {
    std::size_t reads = 0;
    testing::VectorWindowList list({{true, 1.0, Rect{0, 0, 10, 10}, 1, 0},
                                    {true, 1.0, Rect{0, 0, 10, 10}, 2, 0},
                                    {true, 1.0, Rect{0, 0, 10, 10}, 3, 0}},
                                   &reads);
    EXPECT_TRUE(isOverHiddenWindow(&list, {5, 5}, 1));
    EXPECT_EQ(reads, 1u);
}

class KindPoll : public Recorder {
protected:
    void SetUp() override {
        Recorder::SetUp();
        input->editScreen([](FakeScreen &s) {
            s.themeImages = {{"xterm", {100}}, {"hand2", {200}}, {"crosshair", {300}}};
        });
    }
    void show(std::string name, std::optional<CursorKinds::Fingerprint> image = std::nullopt) {
        input->editScreen([&](FakeScreen &s) { s.cursor = {{std::move(name), image}}; });
    }
    // 1/16 s rather than the real 40 ms, so that the expected times are exact.
    void poll(double advanceSeconds = 0.0625) {
        input->advance(advanceSeconds);
        executor.fireTimers();
    }
};

TEST_F(KindPoll, RecordsEachChangeOnce) {
    auto tap = started();
    input->setClock(1000.0);
    show("xterm");
    poll(); // first poll always records
    poll();
    show("hand2");
    poll();
    show("", 300); // unnamed, by its image
    poll();
    show("xterm");
    poll();
    poll();
    show("", 999); // matches nothing
    poll();
    input->move({200, 200}); // cursor.json needs a pointer sample
    tap->finishWritingFiles();
    EXPECT_EQ(cursor().kinds, (std::vector<CursorFile::KindSample>{{62, "iBeam"},
                                                                   {187, "pointingHand"},
                                                                   {250, "crosshair"},
                                                                   {312, "iBeam"},
                                                                   {437, "arrow"}}));
    EXPECT_EQ(input->kindTableBuilds(), 1);
}

TEST_F(KindPoll, PausesSkipPollsAndAnUnchangedKindIsNotRepeated) {
    auto tap = started();
    show("xterm");
    poll();
    tap->setPaused(true);
    show("hand2");
    poll(); // paused: not read at all
    const int readsWhilePaused = input->cursorReads();
    show("xterm");
    poll(1.0);
    EXPECT_EQ(input->cursorReads(), readsWhilePaused);
    tap->setPaused(false);
    poll(); // same kind as before the pause
    show("hand2");
    poll();
    input->move({200, 200});
    tap->finishWritingFiles();
    // The pause lasted 1.0625 s of host time.
    EXPECT_EQ(cursor().kinds,
              (std::vector<CursorFile::KindSample>{{62, "iBeam"}, {187, "pointingHand"}}));
}

TEST_F(KindPoll, NoCursorToBeHadReadsAsArrow) {
    auto tap = started();
    poll();
    input->move({200, 200});
    tap->finishWritingFiles();
    EXPECT_EQ(cursor().kinds, (std::vector<CursorFile::KindSample>{{62, "arrow"}}));
}

TEST_F(KindPoll, KindChangesAloneWriteNoCursorFile) {
    auto tap = started();
    show("xterm");
    poll();
    tap->finishWritingFiles();
    EXPECT_TRUE(dir.entries().empty());
}

TEST_F(Recorder, FinishingTwiceWritesTheSameFilesAndCancelKeepsThem) {
    auto tap = started();
    key(KeyChords::commandFlag, 1);
    click({200, 200});
    tap->finishWritingFiles();
    const std::string first = testing::readFile(dir.path() / "keys.json");
    std::filesystem::remove(dir.path() / "keys.json");
    tap->finishWritingFiles();
    EXPECT_EQ(testing::readFile(dir.path() / "keys.json"), first);

    tap->cancel();
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"clicks.json", "keys.json"}));
    // The records are gone: writing again adds nothing.
    std::filesystem::remove(dir.path() / "keys.json");
    std::filesystem::remove(dir.path() / "clicks.json");
    tap->finishWritingFiles();
    EXPECT_TRUE(dir.entries().empty());
}

TEST_F(Recorder, StoppingDisablesTheTapAndEndsItsThread) {
    auto tap = started();
    key(KeyChords::commandFlag, 1); // handled: the thread has enabled the tap by now
    EXPECT_TRUE(input->tapEnabled());
    tap->cancel();
    // The thread held the tap until it ended, and the stop step waited for it.
    EXPECT_FALSE(input->tapAlive());
    EXPECT_EQ(executor.timerCount(), 0u);
    tap->cancel(); // a second stop step does nothing
}

TEST_F(Recorder, ReleasingARunningRecorderStopsEverythingAndWritesNothing) {
    auto tap = started();
    key(KeyChords::commandFlag, 1);
    click({200, 200});
    EXPECT_EQ(executor.timerCount(), 1u);
    tap.reset();
    EXPECT_FALSE(input->tapAlive());
    EXPECT_EQ(executor.timerCount(), 0u);
    executor.fireTimers();
    EXPECT_TRUE(dir.entries().empty());
}

TEST_F(Recorder, ReleaseDuringAnEventFinishesBeforeItReturns) {
    std::latch entered(1), proceed(1);
    std::atomic<bool> block{false};
    auto tap = InputEventTap::create(
        dir.path(),
        [&]() -> std::optional<double> {
            if (block.exchange(false)) {
                entered.count_down();
                proceed.wait();
            }
            return 1000.0;
        },
        [] { return std::optional<Rect>(basis); }, executor, input);
    ASSERT_TRUE(tap->start());
    executor.runPosted();
    ASSERT_EQ(executor.timerCount(), 1u);

    block = true;
    std::thread deliverer([&] { input->deliver({InputEventType::keyDown, 0, 53}); });
    entered.wait(); // the tap thread is inside the handler, holding the recorder's state
    auto release = std::async(std::launch::async, [&] { tap.reset(); });
    // The release must wait for the event; a release that returned at once would leave the
    // state to die later on the tap thread. The wait only gives such a release time to show.
    const bool returnedEarly =
        release.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready;
    EXPECT_FALSE(returnedEarly) << "the release did not wait for the event in progress";
    proceed.count_down();
    release.get();
    // Once the release has returned, the timer is gone and the thread has ended: the owner may
    // destroy the executor now.
    EXPECT_EQ(executor.timerCount(), 0u);
    // The test's delivering thread holds the tap until its deliver() call returns; after that
    // nothing of the recorder may keep it.
    deliverer.join();
    EXPECT_FALSE(input->tapAlive());
    executor.fireTimers();
    executor.runPosted();
    EXPECT_TRUE(dir.entries().empty());
}

TEST_F(Recorder, AStopBeforeTheTimerExistsLeavesNoTimer) {
    auto tap = make();
    ASSERT_TRUE(tap->start());
    tap->cancel();
    executor.runPosted(); // the timer creation comes after the stop
    EXPECT_EQ(executor.timerCount(), 0u);

    auto other = make();
    ASSERT_TRUE(other->start());
    other.reset();
    executor.runPosted(); // the recorder is gone: nothing to create
    EXPECT_EQ(executor.timerCount(), 0u);
}

TEST(TapRunLoop, StopEndsRunFromAnyThreadAndBeforeRun) {
    TapRunLoop early;
    ASSERT_TRUE(early.valid());
    early.stop();
    early.run(); // returns at once

    TapRunLoop loop;
    const int fd = ::eventfd(0, EFD_NONBLOCK);
    int calls = 0;
    loop.addSource(fd, [&] {
        std::uint64_t n;
        [[maybe_unused]] ssize_t r = ::read(fd, &n, sizeof n);
        if (++calls == 2) {
            loop.removeSource(fd);
            loop.stop();
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t w = ::write(fd, &one, sizeof one);
    });
    const std::uint64_t one = 1;
    ASSERT_EQ(::write(fd, &one, sizeof one), 8);
    loop.run();
    EXPECT_EQ(calls, 2); // removed: the last write was not served
    ::close(fd);

    TapRunLoop idle;
    std::thread stopper([&] { idle.stop(); });
    idle.run();
    stopper.join();
}

TEST(TapRunLoop, RunsTheTimedTaskOnceItsTimeHasCome) {
    TapRunLoop loop;
    std::vector<int> order;
    double ranAt = 0;
    const double due = hostSeconds() + 0.005;
    loop.runAt(hostSeconds() - 1, [&] { order.push_back(1); }); // replaced before it ran
    loop.runAt(due, [&] {
        ranAt = hostSeconds();
        order.push_back(2);
        loop.runAt(0, [&] { // already due: runs next, then nothing is left to wait for
            order.push_back(3);
            loop.stop();
        });
    });
    loop.run();
    EXPECT_EQ(order, (std::vector<int>{2, 3}));
    EXPECT_GE(ranAt, due);
}

} // namespace
} // namespace qv
