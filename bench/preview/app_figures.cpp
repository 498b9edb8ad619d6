// The application's figures with the recordings of $QUILLVANE_LIBRARY: the time from start to a
// visible main window, and the resident memory once the window shows, once the newest recording
// is open (its thumbnail and first frame drawn), while it plays, after scrubbing through it, and
// while it plays in a screen-sized window.
// bench/app_figures.sh runs it under a private X server on a 10-minute recording.
#include "Frontpanel/views/library_view.h"
#include "Frontpanel/views/main_window_view.h"
#include "Frontpanel/views/preview_view.h"
#include "Quillvane/app/quillvane_app.h"
#include "platform/core/allocator_tuning.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QScreen>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

// A field of /proc/self/status in MB ("VmRSS", "VmHWM", "RssAnon", "RssFile").
double statusMb(const std::string &field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024;
    return -1;
}

void report(const char *stage) {
    std::printf("%-34s resident %6.0f MB (anonymous %6.0f, files %5.0f), peak %6.0f MB\n", stage,
                statusMb("VmRSS"), statusMb("RssAnon"), statusMb("RssFile"), statusMb("VmHWM"));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    // The same start as the application's own main().
    qv::platform::tuneAllocatorForFrames();
    QApplication application(argc, argv);
    qv::QuillvaneApp::configureApplication();
    qv::QuillvaneApp app;
    app.declareScenes();
    if (!QTest::qWaitForWindowExposed(app.mainWindow(), 10000)) {
        std::fprintf(stderr, "the main window did not show\n");
        return 1;
    }
    std::printf("start to visible window: %lld ms\n", static_cast<long long>(sinceStart.elapsed()));
    report("window shown");

    qv::ui::PreviewView *preview = app.mainWindowView()->previewView();
    app.mainWindowView()->libraryView()->list()->setCurrentRow(0);
    if (!QTest::qWaitFor([&] { return preview->shownFrame() == 0; }, 60000)) {
        std::fprintf(stderr, "the recording did not open\n");
        return 1;
    }
    QTest::qWait(2000); // thumbnails of the other rows, if any
    report("recording open");

    const int playSeconds = argc > 1 ? std::stoi(argv[1]) : 20;
    const auto play = [&](const char *stage) {
        double highest = 0;
        preview->play();
        QElapsedTimer playing;
        playing.start();
        while (playing.elapsed() < playSeconds * 1000) {
            QTest::qWait(100);
            highest = std::max(highest, statusMb("VmRSS"));
        }
        preview->pause();
        std::printf("%-34s highest resident while playing %6.0f MB, picture %dx%d\n", stage,
                    highest, preview->canvas()->frame().width(),
                    preview->canvas()->frame().height());
    };
    play("playing in the default window");
    report("after playing");

    const std::int64_t frames = preview->frameCount();
    for (int i = 1; i <= 10; ++i) {
        const std::int64_t target = frames * i / 11;
        preview->seekToFrame(target);
        if (!QTest::qWaitFor([&] { return preview->shownFrame() == target; }, 20000)) {
            std::fprintf(stderr, "seek to frame %lld did not finish\n",
                         static_cast<long long>(target));
            return 1;
        }
    }
    report("after ten seeks across it");

    // The largest picture area: the window as large as the screen (the private X server has no
    // window manager to maximise it).
    app.mainWindow()->setGeometry(app.mainWindow()->screen()->availableGeometry());
    const int drawnWidth = preview->canvas()->frame().width();
    if (!QTest::qWaitFor([&] { return preview->canvas()->frame().width() > drawnWidth; }, 20000)) {
        std::fprintf(stderr, "the preview was not drawn larger for the larger window\n");
        return 1;
    }
    play("playing with the window screen-sized");
    report("after playing screen-sized");
    return 0;
}
