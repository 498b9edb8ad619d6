// The recorder on a real X server (Xvfb), driven with xdotool: pointer moves, a left click, a
// right-button drag, Ctrl+S, Escape, plain typing that must not be recorded, a pause, cursors
// named and unnamed, and a window of this process that is excluded from capture. Then the
// written files are checked.
//
// Each step waits for the recorder to have seen its events (counted on the way to the event
// handler), so that the test depends on no timing; the short sleeps only keep pointer moves
// further apart than the recorder's 1/60 s throttle.
#include "Handtrace/input_event_tap.h"
#include "Handtrace/key_chords.h"
#include "Handtrace/x11/x_event_tap.h"
#include "platform/core/log.h"

#include "counting_platform.h"
#include "temp_dir.h"
#include "xvfb.h"

#include <gtest/gtest.h>

// After gtest: Xlib defines macros (None, Status, ...) that clash with its names.
#include <X11/Xatom.h>
#include <X11/Xcursor/Xcursor.h>
#include <X11/Xlib.h>

#include <condition_variable>
#include <map>
#include <thread>

namespace qv {
namespace {

using namespace std::chrono_literals;
using testing::CountingPlatform;
using testing::TempDir;
using testing::XvfbServer;

class X11Capture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(testing::commandExists("Xvfb")) << "Xvfb is needed (scripts/install-deps.sh)";
        ASSERT_TRUE(testing::commandExists("xdotool"))
            << "xdotool is needed (scripts/install-deps.sh)";
        server = new XvfbServer();
        ASSERT_TRUE(server->ok()) << server->error();
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(server && server->ok());
        environment.emplace(testing::displayVariables(*server));
        dpy = XOpenDisplay(nullptr);
        ASSERT_NE(dpy, nullptr);
        root = DefaultRootWindow(dpy);
    }
    void TearDown() override {
        if (dpy) XCloseDisplay(dpy);
        environment.reset();
    }

    Window makeWindow(int x, int y, int w, int h, Cursor cursor) {
        XSetWindowAttributes a{};
        a.override_redirect = True; // no window manager: place it exactly
        a.cursor = cursor;
        const Window win = XCreateWindow(dpy, root, x, y, w, h, 0, CopyFromParent, InputOutput,
                                         CopyFromParent, CWOverrideRedirect | CWCursor, &a);
        XMapWindow(dpy, win);
        return win;
    }
    void setCardinal(Window w, const char *property, unsigned long value) {
        XChangeProperty(dpy, w, XInternAtom(dpy, property, False), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<unsigned char *>(&value), 1);
    }
    Point pointer() {
        Window r, child;
        int rx = 0, ry = 0, wx, wy;
        unsigned mask;
        XQueryPointer(dpy, root, &r, &child, &rx, &ry, &wx, &wy, &mask);
        return {double(rx), double(ry)};
    }

    static void xdotool(const std::string &args) {
        ASSERT_EQ(std::system(("xdotool " + args).c_str()), 0) << "xdotool " << args;
    }
    void waitForEvents(InputEventType type, std::size_t atLeast) {
        ASSERT_TRUE(input->waitUntil([&] { return input->events(type) >= atLeast; }))
            << "the recorder saw " << input->events(type) << " events of type "
            << static_cast<int>(type) << ", not " << atLeast;
    }
    // Moves relatively (a warp would produce no input event) and waits until the recorder has
    // seen it; returns the pointer's new position.
    Point move(int dx, int dy) {
        std::this_thread::sleep_for(25ms); // beyond the pointer throttle
        const std::size_t before = input->events(InputEventType::mouseMoved) +
                                   input->events(InputEventType::rightMouseDragged);
        xdotool("mousemove_relative -- " + std::to_string(dx) + " " + std::to_string(dy));
        EXPECT_TRUE(input->waitUntil([&] {
            return input->events(InputEventType::mouseMoved) +
                       input->events(InputEventType::rightMouseDragged) >
                   before;
        }));
        return pointer();
    }
    void keys(const std::string &args, std::size_t keyDowns) {
        const std::size_t before = input->events(InputEventType::keyDown);
        xdotool(args);
        waitForEvents(InputEventType::keyDown, before + keyDowns);
    }
    // Waits for two more cursor polls, so that one has read the cursor after the last move.
    void settleCursor() {
        const std::size_t before = input->cursorReads();
        ASSERT_TRUE(input->waitUntil([&] { return input->cursorReads() >= before + 2; }))
            << "the cursor-kind poll did not run";
    }

    static XvfbServer *server;
    std::optional<testing::ScopedEnvironment> environment;
    Display *dpy = nullptr;
    Window root = 0;
    std::shared_ptr<CountingPlatform> input = std::make_shared<CountingPlatform>();
};

XvfbServer *X11Capture::server = nullptr;

TEST_F(X11Capture, RecordsWhatTheHandsDid) {
    // The scene: a text area, a link, an area with an unnamed theme cursor, and a window of this
    // process excluded from capture, in that stacking order from the bottom.
    XDefineCursor(dpy, root, XcursorLibraryLoadCursor(dpy, "left_ptr"));
    const Window text = makeWindow(100, 100, 300, 200, XcursorLibraryLoadCursor(dpy, "xterm"));
    const Window link = makeWindow(450, 100, 150, 200, XcursorLibraryLoadCursor(dpy, "hand2"));
    XcursorImages *cross = XcursorLibraryLoadImages("crosshair", "default", 24);
    ASSERT_NE(cross, nullptr) << "no cursor theme installed";
    const Window unnamed = makeWindow(100, 400, 200, 150, XcursorImagesLoadCursor(dpy, cross));
    XcursorImagesDestroy(cross);
    const Window hidden = makeWindow(700, 100, 200, 200, None);
    setCardinal(hidden, "_NET_WM_PID", static_cast<unsigned long>(::getpid()));
    setCardinal(hidden, std::string(x11::excludeFromCaptureProperty).c_str(), 1);
    unsigned long stacking[] = {text, link, unnamed, hidden};
    XChangeProperty(dpy, root, XInternAtom(dpy, "_NET_CLIENT_LIST_STACKING", False), XA_WINDOW, 32,
                    PropModeReplace, reinterpret_cast<unsigned char *>(stacking), 4);
    XSync(dpy, False);
    xdotool("mousemove 20 20");

    TempDir dir;
    const Rect basis{50, 20, 1200, 760};
    platform::RunLoop mainLoop;
    std::thread mainThread([&] { mainLoop.run(); });
    const double origin = hostSeconds();
    auto tap = InputEventTap::create(
        dir.path(), [origin] { return std::optional<double>(origin); },
        [basis] { return std::optional<Rect>(basis); }, mainLoop, input);
    ASSERT_TRUE(tap->start());
    settleCursor(); // over the root window: "arrow"

    const Point inText = move(180, 180);
    settleCursor();
    xdotool("click 1");
    waitForEvents(InputEventType::leftMouseDown, 1);

    xdotool("mousedown 3");
    waitForEvents(InputEventType::rightMouseDown, 1);
    const Point drag1 = move(10, 0), drag2 = move(10, 0), drag3 = move(10, 0);
    xdotool("mouseup 3");

    keys("key ctrl+s", 2); // Control, then S
    keys("key Escape", 1);
    keys("type abc", 3);

    const double beforeLink = hostSeconds();
    const Point inLink = move(250, 0);
    settleCursor();

    tap->setPaused(true);
    const double pausedAt = hostSeconds();
    keys("key ctrl+a", 2);
    xdotool("click 1");
    waitForEvents(InputEventType::leftMouseDown, 2);
    move(5, 0); // the cursor is not polled while paused
    // The pointer poll finds the pointer where it now rests (as it finds warps) and hands the
    // move to the recorder, which drops it, paused. This waits for that to settle; it once timed
    // out on a slow sanitizer build, so it is not asserted. What matters, that nothing of the
    // pause is sampled after it, is checked below.
    const std::size_t movesInPause = input->events(InputEventType::mouseMoved);
    input->waitUntil([&] { return input->events(InputEventType::mouseMoved) > movesInPause; });
    const double resumedAt = hostSeconds();
    tap->setPaused(false);

    const Point inUnnamed = move(-350, 250);
    const double afterUnnamed = hostSeconds();
    settleCursor();
    const Point inHidden = move(665, -250);
    xdotool("click 1");
    waitForEvents(InputEventType::leftMouseDown, 3);
    const Point outside = move(0, 400);
    settleCursor();

    tap->finishWritingFiles();
    mainLoop.stop();
    mainThread.join();

    // Where the moves went: into each window in turn.
    auto inside = [](Point p, int x, int y, int w, int h) {
        return p.x >= x && p.x < x + w && p.y >= y && p.y < y + h;
    };
    ASSERT_TRUE(inside(inText, 100, 100, 300, 200));
    ASSERT_TRUE(inside(inLink, 450, 100, 150, 200));
    ASSERT_TRUE(inside(inUnnamed, 100, 400, 200, 150));
    ASSERT_TRUE(inside(inHidden, 700, 100, 200, 200));
    ASSERT_FALSE(inside(outside, 100, 100, 800, 450));

    const auto clicksFile = ClicksFile::load(dir.path());
    ASSERT_TRUE(clicksFile) << clicksFile.error().message;
    const auto cursorFile = CursorFile::load(dir.path());
    ASSERT_TRUE(cursorFile) << cursorFile.error().message;
    const auto keysFile = KeysFile::load(dir.path());
    ASSERT_TRUE(keysFile) << keysFile.error().message;

    // Keys: the shortcut and Escape; no letters, nothing from the pause.
    std::vector<std::string> chords;
    for (const auto &k : keysFile->keys) chords.push_back(k.chord);
    EXPECT_EQ(chords, (std::vector<std::string>{"⌃S", "⎋"}));

    // Clicks: the left click and the press that began the drag; the click during the pause
    // and the one on the hidden window are not there.
    const auto &clicks = clicksFile->clicks;
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_EQ(clicks[0].button, "left");
    EXPECT_EQ(clicks[0].x, inText.x - basis.x);
    EXPECT_EQ(clicks[0].y, inText.y - basis.y);
    EXPECT_EQ(clicks[1].button, "right");
    EXPECT_EQ(clicks[1].x, inText.x - basis.x);
    EXPECT_EQ(clicks[1].screenW, 1200);
    EXPECT_EQ(clicks[1].screenH, 760);

    // Samples: one per move, frozen over the hidden window, none during the pause.
    std::vector<std::pair<double, double>> positions;
    for (const auto &s : cursorFile->samples) positions.emplace_back(s.x, s.y);
    auto rel = [&](Point p) { return std::pair{p.x - basis.x, p.y - basis.y}; };
    // The first is where the pointer rested when capture began.
    EXPECT_EQ(positions, (std::vector<std::pair<double, double>>{
                             rel({20, 20}), rel(inText), rel(drag1), rel(drag2), rel(drag3),
                             rel(inLink), rel(inUnnamed), rel(inUnnamed), rel(outside)}));

    // One time base, monotonic, with the pause cut out.
    const auto &samples = cursorFile->samples;
    ASSERT_EQ(samples.size(), 9u);
    for (std::size_t i = 1; i < samples.size(); ++i) EXPECT_LE(samples[i - 1].tMs, samples[i].tMs);
    EXPECT_LE(clicks[0].tMs, clicks[1].tMs);
    EXPECT_LE(samples[0].tMs, clicks[0].tMs);
    // The chords fell between the drag and the move into the link.
    EXPECT_LE(samples[4].tMs, keysFile->keys[0].tMs);
    EXPECT_LE(keysFile->keys[1].tMs, samples[5].tMs);
    const double wall = (afterUnnamed - beforeLink) * 1000;
    const double paused = (resumedAt - pausedAt) * 1000;
    EXPECT_LE(samples[6].tMs - samples[5].tMs, wall - paused + 1);

    // Every record names the one display, as decimal digits.
    const std::string display = samples[0].displayId;
    EXPECT_FALSE(display.empty());
    EXPECT_EQ(display.find_first_not_of("0123456789"), std::string::npos) << display;
    for (const auto &s : samples) EXPECT_EQ(s.displayId, display);
    for (const auto &c : clicks) EXPECT_EQ(c.displayId, display);

    // Cursor kinds: by name over the root, the text and the link, by image over the unnamed
    // cursor, and the root's arrow again over the hidden window.
    std::vector<std::string> kinds;
    for (const auto &k : cursorFile->kinds) kinds.push_back(k.kind);
    EXPECT_EQ(kinds,
              (std::vector<std::string>{"arrow", "iBeam", "pointingHand", "crosshair", "arrow"}));
}

TEST(X11CaptureRefusal, StartRefusesCleanlyWithoutACaptureableDisplay) {
    const std::vector<
        std::pair<const char *, std::vector<std::pair<std::string, std::optional<std::string>>>>>
        cases{
            {"no DISPLAY", {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}}},
            {"unreachable display",
             {{"DISPLAY", ":987"},
              {"WAYLAND_DISPLAY", std::nullopt},
              {"XDG_SESSION_TYPE", std::nullopt}}},
            {"Wayland session", {{"DISPLAY", ":987"}, {"WAYLAND_DISPLAY", "wayland-0"}}},
            {"Wayland session type",
             {{"DISPLAY", ":987"},
              {"WAYLAND_DISPLAY", std::nullopt},
              {"XDG_SESSION_TYPE", "wayland"}}},
        };
    for (const auto &[name, variables] : cases) {
        testing::ScopedEnvironment environment(variables);
        std::vector<std::string> messages;
        platform::Logger::setSinkForTesting([&](const platform::LogRecord &r) {
            if (r.level >= platform::LogLevel::notice) messages.push_back(r.message);
        });
        TempDir dir;
        platform::RunLoop loop;
        auto tap = InputEventTap::create(
            dir.path(), [] { return std::optional<double>(0.0); },
            [] {
                return std::optional<Rect>(Rect{0, 0, 100, 100});
            },
            loop);
        EXPECT_FALSE(tap->start()) << name;
        platform::Logger::setSinkForTesting(nullptr);
        EXPECT_EQ(messages,
                  std::vector<std::string>{"Input Monitoring unavailable — input capture off"})
            << name;
        EXPECT_EQ(loop.runUntilIdle(), 0u) << name << ": nothing may be scheduled";
        tap->finishWritingFiles();
        EXPECT_TRUE(dir.entries().empty()) << name;
    }
}

} // namespace
} // namespace qv
