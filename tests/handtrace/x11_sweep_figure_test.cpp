// The recorder's CPU time during a 10-second pointer sweep at the X server's full event rate,
// driven through XTest by xdotool scripts, as a percentage of one core. Goal: under 2 %.
//
// It takes ten seconds, so it is disabled in the normal run; measure with
//   handtrace_tests --gtest_also_run_disabled_tests --gtest_filter='*PointerSweep*'
// It counts the CPU time of the recorder's own threads (the tap thread and the main executor
// that polls the cursor kind), not of the driver.
#include "Handtrace/input_event_tap.h"
#include "platform/core/executor.h"

#include "temp_dir.h"
#include "xvfb.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <pthread.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <thread>

namespace qv {
namespace {

// CPU time of this process's thread called `name`, in seconds, from the scheduler's statistics.
std::optional<double> threadCpuSeconds(const std::string &name) {
    DIR *tasks = ::opendir("/proc/self/task");
    if (!tasks) return std::nullopt;
    std::optional<double> seconds;
    while (dirent *entry = ::readdir(tasks)) {
        const std::string task = std::string("/proc/self/task/") + entry->d_name;
        std::string comm;
        std::getline(std::ifstream(task + "/comm"), comm);
        if (comm != name) continue;
        double ns = 0;
        if (std::ifstream(task + "/schedstat") >> ns) seconds = ns / 1e9;
        break;
    }
    ::closedir(tasks);
    return seconds;
}

double cpuSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

TEST(X11Figures, DISABLED_PointerSweepCpuTime) {
    ASSERT_TRUE(testing::commandExists("Xvfb") && testing::commandExists("xdotool"));
    testing::XvfbServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    testing::ScopedEnvironment environment(testing::displayVariables(server));

    // A script of 2 × 20 000 one-pixel moves: a sweep 400 pixels right and back, 50 times.
    testing::TempDir dir;
    const auto script = dir.path() / "sweep.xdo";
    {
        std::ofstream out(script);
        for (int pass = 0; pass < 50; ++pass) {
            for (int i = 0; i < 400; ++i) out << "mousemove_relative 1 0\n";
            for (int i = 0; i < 400; ++i) out << "mousemove_relative -- -1 0\n";
        }
    }
    const int movesPerScript = 40000;
    ASSERT_EQ(std::system(("xdotool mousemove 400 400 && xdotool " + script.string()).c_str()), 0);

    const auto output = dir.path() / "out";
    std::filesystem::create_directory(output);
    platform::RunLoop mainLoop;
    std::thread mainThread([&] { mainLoop.run(); });
    const double origin = hostSeconds();
    auto tap = InputEventTap::create(
        output, [origin] { return std::optional<double>(origin); },
        [] {
            return std::optional<Rect>(Rect{0, 0, 1280, 800});
        },
        mainLoop);
    ASSERT_TRUE(tap->start());
    // Measuring starts once the first cursor-kind poll has opened the cursor source and built its
    // tables. A timer of the same period made after the tap's is due no earlier, and the run loop
    // runs due timers in the order they were made, so it fires after that poll.
    std::promise<void> firstPoll;
    mainLoop.post([&] {
        auto timer = std::make_shared<std::optional<platform::TimerId>>();
        *timer = mainLoop.scheduleRepeating(InputEventTap::kindPollInterval, [&, timer] {
            if (!*timer) return;
            mainLoop.cancelTimer(**timer);
            timer->reset();
            firstPoll.set_value();
        });
    });
    ASSERT_EQ(firstPoll.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the cursor-kind poll did not run";
    // The tap thread names itself once it runs; polled, as nothing announces it.
    std::optional<double> tapBefore;
    for (const double until = hostSeconds() + 10; !tapBefore && hostSeconds() < until;) {
        tapBefore = threadCpuSeconds("llvane.inputtap");
        if (!tapBefore) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(tapBefore) << "no tap thread found";

    clockid_t mainClock;
    ASSERT_EQ(pthread_getcpuclockid(mainThread.native_handle(), &mainClock), 0);
    const double mainBefore = cpuSeconds(mainClock);
    const double start = hostSeconds();
    int scripts = 0;
    while (hostSeconds() - start < 10.0) {
        ASSERT_EQ(std::system(("xdotool " + script.string()).c_str()), 0);
        ++scripts;
    }
    const double wall = hostSeconds() - start;
    const double tapCpu = *threadCpuSeconds("llvane.inputtap") - *tapBefore;
    const double mainCpu = cpuSeconds(mainClock) - mainBefore;

    tap->finishWritingFiles();
    const double recorded = hostSeconds() - origin;
    mainLoop.stop();
    mainThread.join();
    const auto cursor = CursorFile::load(output).value();

    const double rate = scripts * double(movesPerScript) / wall;
    const double tapPercent = 100 * tapCpu / wall, mainPercent = 100 * mainCpu / wall;
    std::printf("pointer sweep: %.1f s, %.0f motion events/s, %zu samples written\n"
                "recorder CPU: tap thread %.2f %%, main executor %.2f %%, together %.2f %% of "
                "one core\n",
                wall, rate, cursor.samples.size(), tapPercent, mainPercent,
                tapPercent + mainPercent);
    ::testing::Test::RecordProperty("motionEventsPerSecond", std::to_string(rate));
    ::testing::Test::RecordProperty("recorderCpuPercent", std::to_string(tapPercent + mainPercent));

    // The sweep really ran at a high rate, and the throttle held.
    EXPECT_GT(rate, 10000);
    EXPECT_LE(double(cursor.samples.size()), 60 * recorded + 1);
    EXPECT_LT(tapPercent + mainPercent, 2.0);
}

} // namespace
} // namespace qv
