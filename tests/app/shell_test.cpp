#include "app/app_environment.h"

#include "Compositor/assets/system_cursor_bitmaps.h"
#include "Quillvane/app/quillvane_app.h"
#include "Quillvane/app/quillvane_resources.h"
#include "interfaces/persistence/recording.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QSignalSpy>
#include <QStackedWidget>
#include <qguiapplication_platform.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <filesystem>
#include <fstream>

namespace qv {
namespace {

using testing::AppEnvironment;
using testing::waitFor;
using State = ui::RecordingSessionModel::State;

int mainWindowsAlive() {
    int n = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("main") && qobject_cast<QMainWindow *>(w)) ++n;
    return n;
}

class Shell : public ::testing::Test {
protected:
    void SetUp() override { AppEnvironment::instance->writeSettings(true); }
};

TEST_F(Shell, CreatesTheLongLivedObjectsInOrder) {
    QuillvaneApp app;
    EXPECT_EQ(app.creationOrder(),
              (std::vector<std::string>{
                  "PermissionsManager", "RecordingSession", "RecordingBarController",
                  "WebcamPreviewController", "LibraryStore", "ExportEngine", "mainWindowID",
                  "SystemCursorBootstrap", "SettingsStore", "TeleprompterController", "AppState"}));
    EXPECT_EQ(app.mainWindowID(), "main");
    // The cursor bootstrap ran: the desktop's artwork is registered before any view exists.
    EXPECT_TRUE(SystemCursorBitmaps::entry("iBeam"));
    EXPECT_EQ(app.mainWindow(), nullptr);
}

TEST_F(Shell, InitialRouteComesFromTheSettings) {
    AppEnvironment::instance->writeSettings(false);
    {
        QuillvaneApp app;
        EXPECT_EQ(app.appState().route(), ui::AppRoute::welcome);
        app.declareScenes();
        EXPECT_EQ(app.mainWindowView()->pages()->currentIndex(), 0);
        app.mainWindowView()->finishOnboarding();
        EXPECT_EQ(app.appState().route(), ui::AppRoute::library);
        EXPECT_EQ(app.mainWindowView()->pages()->currentIndex(), 1);
    }
    QuillvaneApp again;
    EXPECT_EQ(again.appState().route(), ui::AppRoute::library);
}

TEST_F(Shell, MainWindowIsTitledSizedAndKeepsItsContentsMinimum) {
    QuillvaneApp app;
    app.declareScenes();
    QMainWindow *window = app.mainWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Quillvane"));
    EXPECT_EQ(window->objectName(), QStringLiteral("main"));
    EXPECT_EQ(window->size(), QSize(1024, 640));
    EXPECT_FALSE(window->windowIcon().isNull());
    // Smaller than the content allows: the window keeps the content's minimum.
    window->resize(50, 50);
    QTest::qWait(50);
    const QSize content = window->centralWidget()->minimumSizeHint();
    EXPECT_GE(window->centralWidget()->width(), content.width());
    EXPECT_GE(window->centralWidget()->height(), content.height());
    EXPECT_GT(window->width(), 50);
    EXPECT_GT(window->height(), 50);
}

TEST_F(Shell, OpeningTheMainWindowFromTheMenuTwiceShowsTheOneWindow) {
    QuillvaneApp app;
    app.declareScenes();
    QMainWindow *window = app.mainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    window->close();
    ASSERT_TRUE(waitFor([&] { return !window->isVisible(); }));
    QAction *open = app.trayMenu()->openMainWindowAction();
    open->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    open->trigger();
    QTest::qWait(100);
    EXPECT_EQ(app.mainWindow(), window);
    EXPECT_EQ(mainWindowsAlive(), 1);
    EXPECT_TRUE(window->isVisible());
    // Raised and given the focus.
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    EXPECT_EQ(QApplication::activeWindow(), window);
}

TEST_F(Shell, ActivationHandlerSkipsTheInitialPhaseAndRunsOnEveryLaterActivation) {
    QuillvaneApp app;
    const int refreshedAtStart = app.permissions().refreshCount();
    EXPECT_EQ(app.activationCount(), 0);
    // Changes as the platform reports them: only changes to active count, however often.
    struct Step {
        Qt::ApplicationState phase;
        int activations;
    };
    const Qt::ApplicationState initial = QGuiApplication::applicationState();
    app.scenePhaseChanged(initial); // the initial value again is no change
    EXPECT_EQ(app.activationCount(), 0);
    const Step steps[] = {{Qt::ApplicationInactive, 0}, {Qt::ApplicationActive, 1},
                          {Qt::ApplicationActive, 1},   {Qt::ApplicationHidden, 1},
                          {Qt::ApplicationActive, 2},   {Qt::ApplicationInactive, 2},
                          {Qt::ApplicationActive, 3}};
    // From a known phase that is not active.
    if (initial == Qt::ApplicationActive) app.scenePhaseChanged(Qt::ApplicationSuspended);
    for (const Step &s : steps) {
        app.scenePhaseChanged(s.phase);
        EXPECT_EQ(app.activationCount(), s.activations) << int(s.phase);
        EXPECT_EQ(app.permissions().refreshCount(), refreshedAtStart + s.activations);
    }
}

// Gives the X11 input focus to `window` (0: to no window at all), as a window manager does when
// the user switches applications.
void giveFocus(Window window) {
    Display *display = qApp->nativeInterface<QNativeInterface::QX11Application>()->display();
    XSetInputFocus(display, window ? window : None, window ? RevertToParent : RevertToNone,
                   CurrentTime);
    XFlush(display);
}

TEST_F(Shell, ActivatingTheRealWindowRunsTheHandler) {
    QuillvaneApp app;
    app.declareScenes();
    QMainWindow *window = app.mainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ASSERT_NE(qApp->nativeInterface<QNativeInterface::QX11Application>(), nullptr);
    for (int round = 1; round <= 2; ++round) {
        // The window has the focus (whatever earlier windows of this process left behind), then
        // another application takes it.
        giveFocus(static_cast<Window>(window->winId()));
        ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == window; }));
        giveFocus(0);
        ASSERT_TRUE(
            waitFor([] { return QGuiApplication::applicationState() != Qt::ApplicationActive; }));
        const int before = app.activationCount();
        const int refreshed = app.permissions().refreshCount();
        // Far off the screen, as after a monitor was unplugged; then the user comes back.
        window->move(3000, 2000);
        QTest::qWait(50);
        giveFocus(static_cast<Window>(window->winId()));
        ASSERT_TRUE(waitFor([&] { return app.activationCount() == before + 1; })) << round;
        EXPECT_EQ(app.permissions().refreshCount(), refreshed + 1);
        // The handler brought the window back onto the screen.
        const QRect screen = window->screen()->availableGeometry();
        ASSERT_TRUE(waitFor([&] { return screen.contains(window->frameGeometry()); }))
            << window->frameGeometry().x() << "," << window->frameGeometry().y();
    }
}

TEST_F(Shell, TrayIconShowsTheLabelStateOfTheSession) {
    QuillvaneApp app;
    app.declareScenes();
    ASSERT_NE(app.trayIcon(), nullptr);
    // trayer is installed with the other dependencies; the tray must be there.
    ASSERT_TRUE(AppEnvironment::instance->trayHostRunning());
    EXPECT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_TRUE(app.trayIcon()->isVisible());
    EXPECT_EQ(app.trayIcon()->contextMenu(), app.trayMenu());
    struct Row {
        State state;
        int label;
        const char *tip;
    };
    const Row rows[] = {{State::countdown, 1, "recording"},
                        {State::recording, 1, "recording"},
                        {State::paused, 2, "paused"},
                        {State::finishing, 3, "finishing"},
                        {State::idle, 0, ""}};
    std::vector<QImage> pictures(4);
    for (const Row &row : rows) {
        app.session().setState(row.state);
        EXPECT_EQ(app.trayLabelState(), row.label) << int(row.state);
        EXPECT_EQ(ui::menuBarLabelState(row.state), row.label);
        EXPECT_TRUE(app.trayIcon()->toolTip().contains(QString::fromUtf8(row.tip)));
        pictures[std::size_t(row.label)] = app.trayIcon()->icon().pixmap(32, 32).toImage();
    }
    // Four label states, four different pictures.
    for (int a = 0; a < 4; ++a)
        for (int b = a + 1; b < 4; ++b) EXPECT_NE(pictures[a], pictures[b]) << a << " " << b;
}

TEST_F(Shell, TrayMenuOffersRecordingOnlyWithAnEngine) {
    QuillvaneApp app;
    app.declareScenes();
    ui::MenuBarContent *menu = app.trayMenu();
    EXPECT_EQ(menu->recordAction()->text(), QStringLiteral("Start Recording"));
    // This X display can be recorded: the app's own engine is attached.
    EXPECT_FALSE(app.recordingEngine().unavailableReason());
    EXPECT_TRUE(menu->recordAction()->isEnabled());
    EXPECT_FALSE(menu->pauseAction()->isEnabled());
    ui::RecordingSessionModel bare;
    EXPECT_FALSE(bare.canRecord());
    EXPECT_TRUE(menu->openMainWindowAction()->isEnabled());
    EXPECT_TRUE(menu->quitAction()->isEnabled());

    // An engine that reports its states back, as a recorder does.
    std::vector<std::string> calls;
    ui::RecordingSessionModel &session = app.session();
    session.setCountdownSeconds(0);
    session.attachEngine({[&] {
                              calls.push_back("start");
                              session.setState(State::recording);
                          },
                          [&] {
                              calls.push_back("pause");
                              session.setState(State::paused);
                          },
                          [&] {
                              calls.push_back("resume");
                              session.setState(State::recording);
                          },
                          [&] {
                              calls.push_back("stop");
                              session.setState(State::idle);
                          }});
    EXPECT_TRUE(menu->recordAction()->isEnabled());
    menu->recordAction()->trigger();
    EXPECT_EQ(menu->recordAction()->text(), QStringLiteral("Stop Recording"));
    EXPECT_TRUE(menu->pauseAction()->isEnabled());
    menu->pauseAction()->trigger();
    EXPECT_EQ(menu->pauseAction()->text(), QStringLiteral("Resume Recording"));
    EXPECT_EQ(app.trayLabelState(), 2);
    menu->pauseAction()->trigger();
    menu->recordAction()->trigger();
    EXPECT_EQ(calls, (std::vector<std::string>{"start", "pause", "resume", "stop"}));
    EXPECT_EQ(app.trayLabelState(), 0);
}

TEST_F(Shell, ARecordingFromTheTrayOpensInTheLibrary) {
    std::ofstream(AppEnvironment::instance->settingsFile())
        << "{\"onboardingComplete\": true, \"countdownSeconds\": 0}";
    QuillvaneApp app;
    app.declareScenes();
    ui::MenuBarContent *menu = app.trayMenu();
    QSignalSpy finished(&app.recordingEngine(), &ui::RecordingEngine::recordingFinished);
    QSignalSpy failed(&app.recordingEngine(), &ui::RecordingEngine::recordingFailed);
    menu->recordAction()->trigger();
    ASSERT_EQ(app.session().state(), State::recording)
        << (failed.isEmpty() ? std::string() : failed[0][0].toString().toStdString());
    EXPECT_EQ(app.trayLabelState(), 1);
    QTest::qWait(1200);
    menu->recordAction()->trigger();
    ASSERT_TRUE(waitFor([&] { return !finished.isEmpty() || !failed.isEmpty(); }, 30000));
    ASSERT_TRUE(failed.isEmpty()) << failed[0][0].toString().toStdString();
    EXPECT_EQ(app.session().state(), State::idle);
    const QString id = finished[0][0].toString();
    EXPECT_TRUE(id.startsWith(QStringLiteral("recording-"))) << id.toStdString();

    // A complete recording in the library, shown there and opened.
    const auto folder = AppEnvironment::instance->libraryFolder() / "recordings" / id.toStdString();
    const auto meta = RecordingMeta::readFromRecording(folder);
    ASSERT_TRUE(meta) << meta.error().message;
    EXPECT_GT(meta->durationMs, 800);
    EXPECT_TRUE(std::filesystem::exists(folder / "screen.mp4"));
    EXPECT_EQ(app.appState().selectedRecording(), id);
    ASSERT_TRUE(app.library().refresh());
    bool listed = false;
    for (const auto &item : app.library().items()) listed |= item.id == id.toStdString();
    EXPECT_TRUE(listed);
    EXPECT_TRUE(app.mainWindow()->isVisible());
}

TEST_F(Shell, StartCountsDownAsTheSettingsSayAndStopCallsItOff) {
    std::ofstream(AppEnvironment::instance->settingsFile())
        << "{\"onboardingComplete\": true, \"countdownSeconds\": 2}";
    QuillvaneApp app;
    app.declareScenes();
    ui::RecordingSessionModel &session = app.session();
    EXPECT_EQ(session.countdownSeconds(), 2);
    int starts = 0;
    session.attachEngine({[&] {
                              ++starts;
                              session.setState(State::recording);
                          },
                          {},
                          {},
                          [&] { session.setState(State::idle); }});
    // Called off during the countdown: nothing starts.
    session.start();
    EXPECT_EQ(session.state(), State::countdown);
    EXPECT_EQ(app.trayLabelState(), 1);
    ASSERT_TRUE(app.barController().isShown());
    session.stop();
    EXPECT_EQ(session.state(), State::idle);
    QTest::qWait(2500);
    EXPECT_EQ(starts, 0);
    EXPECT_EQ(session.state(), State::idle);

    // A changed setting counts from then on.
    AppSettings one = app.settings().settings();
    one.countdownSeconds = 1;
    ASSERT_TRUE(app.settings().update(one).ok());
    EXPECT_EQ(session.countdownSeconds(), 1);
    QSignalSpy ticks(&session, &ui::RecordingSessionModel::countdownTick);
    session.start();
    EXPECT_EQ(session.state(), State::countdown);
    EXPECT_EQ(starts, 0);
    ASSERT_TRUE(waitFor([&] { return starts == 1; }, 5000))
        << ticks.count() << " ticks, state " << int(session.state());
    EXPECT_EQ(session.state(), State::recording);
    ASSERT_EQ(ticks.count(), 2);
    EXPECT_EQ(ticks[0][0].toInt(), 1);
    EXPECT_EQ(ticks[1][0].toInt(), 0);
}

TEST_F(Shell, RecordingBarIsShownWhileRecordingAndExcludedFromCapture) {
    QuillvaneApp app;
    EXPECT_FALSE(app.barController().isShown());
    app.session().setState(State::recording);
    QWidget *bar = app.barController().bar();
    ASSERT_NE(bar, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(bar));
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    Display *display = x11->display();
    const Atom atom = XInternAtom(display, ui::excludeFromCaptureProperty, True);
    ASSERT_NE(atom, 0u);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    ASSERT_EQ(XGetWindowProperty(display, static_cast<Window>(bar->winId()), atom, 0, 1, False,
                                 XA_CARDINAL, &type, &format, &count, &after, &data),
              Success);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(type, XA_CARDINAL);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(*reinterpret_cast<long *>(data), 1);
    XFree(data);
    app.session().setState(State::paused);
    EXPECT_TRUE(app.barController().isShown());
    app.session().setState(State::idle);
    EXPECT_FALSE(app.barController().isShown());
}

TEST_F(Shell, SettingsWindowShowsWhatTheDesktopAllows) {
    QuillvaneApp app;
    app.declareScenes();
    ui::AppSettingsView *settings = app.settingsWindow();
    ASSERT_NE(settings, nullptr);
    EXPECT_FALSE(settings->isVisible());
    app.trayMenu()->settingsAction()->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(settings));
    const QString text = settings->permissionsText();
    // This Xvfb has XInput and RECORD; the test's runtime folder has no sound server.
    EXPECT_TRUE(text.contains(QStringLiteral("Screen recording: available — X11 display ") +
                              QString::fromStdString(AppEnvironment::instance->display())))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Input capture: available"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Microphone: unavailable")));
    EXPECT_TRUE(text.contains(QStringLiteral("pipewire-pulse")));
}

TEST_F(Shell, UnreadableSettingsAreNamedInTheSettingsWindow) {
    std::ofstream(AppEnvironment::instance->settingsFile()) << "{\"countdownSeconds\": 99}";
    QuillvaneApp app;
    app.declareScenes();
    const QString problem = app.settingsWindow()->problemLabel()->text();
    EXPECT_TRUE(problem.contains(
        QString::fromStdString(AppEnvironment::instance->settingsFile().string())));
    EXPECT_TRUE(problem.contains(QStringLiteral("countdownSeconds")));
}

TEST_F(Shell, ShipsTheLogoAndMenuBarIconResources) {
    for (const char *name : {"Logo", "MenuBarIcon"}) {
        const QImage picture(QuillvaneResources::path(name));
        ASSERT_FALSE(picture.isNull()) << name;
        EXPECT_GE(picture.width(), 32) << name;
        EXPECT_TRUE(picture.hasAlphaChannel()) << name;
    }
    EXPECT_FALSE(QuillvaneResources::logo().isNull());
    EXPECT_FALSE(QuillvaneResources::menuBarIcon().isNull());
}

} // namespace
} // namespace qv
