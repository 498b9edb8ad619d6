#include "Quillvane/app/quillvane_app.h"

#include "Frontpanel/cursors/system_cursor_bootstrap.h"
#include "Frontpanel/views/recording_engine.h"
#include "Frontpanel/views/window_placement.h"
#include "Quillvane/app/quillvane_resources.h"
#include "platform/core/log.h"
#include "platform/media/codec_log.h"

#include <QApplication>
#include <QMenuBar>

namespace qv {

void QuillvaneApp::configureApplication() {
    QApplication::setApplicationName(QStringLiteral("Quillvane"));
    QApplication::setDesktopFileName(QStringLiteral("quillvane"));
    // The tray icon keeps the application running when the main window is closed.
    QApplication::setQuitOnLastWindowClosed(false);
    QuillvaneResources::initialize();
    QApplication::setWindowIcon(QuillvaneResources::logo());
    platform::media::quietCodecLogs();
}

QuillvaneApp::QuillvaneApp(PermissionsManager::Probe permissionsProbe, QObject *parent)
    : QObject(parent) {
    QuillvaneResources::initialize();
    permissions_ = std::make_unique<PermissionsManager>(std::move(permissionsProbe));
    creationOrder_.push_back("PermissionsManager");
    session_ = std::make_unique<ui::RecordingSessionModel>();
    recordingEngine_ = std::make_unique<ui::RecordingEngine>(*session_, executor_);
    creationOrder_.push_back("RecordingSession");
    barController_ = std::make_unique<ui::RecordingBarController>(*session_);
    creationOrder_.push_back("RecordingBarController");
    webcamPreview_ = std::make_unique<ui::WebcamPreviewController>();
    creationOrder_.push_back("WebcamPreviewController");
    library_ = std::make_unique<LibraryStore>();
    creationOrder_.push_back("LibraryStore");
    exportEngine_ = std::make_unique<ExportEngine>(executor_);
    creationOrder_.push_back("ExportEngine");

    // The scene phase is read now; only later changes reach the handler.
    phase_ = QGuiApplication::applicationState();
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            &QuillvaneApp::scenePhaseChanged);
    mainWindowID_ = "main";
    creationOrder_.push_back("mainWindowID");

    // Before any view exists or any frame is drawn.
    SystemCursorBootstrap::registerCursors();
    creationOrder_.push_back("SystemCursorBootstrap");

    settings_ = std::make_unique<SettingsStore>();
    creationOrder_.push_back("SettingsStore");
    if (settings_->loadError())
        platform::Logger("com.quillvane", "settings")
            .error("%s; the defaults are used", settings_->loadError()->message.c_str());
    // The session counts down as the settings say, now and after every change.
    session_->setCountdownSeconds(settings_->settings().countdownSeconds);
    settings_->observe([session = session_.get()](const AppSettings &s) {
        session->setCountdownSeconds(s.countdownSeconds);
    });
    teleprompter_ = std::make_unique<ui::TeleprompterController>(*settings_);
    creationOrder_.push_back("TeleprompterController");
    appState_ =
        std::make_unique<ui::AppState>(ui::initialRoute(settings_->settings().onboardingComplete));
    creationOrder_.push_back("AppState");
}

QuillvaneApp::~QuillvaneApp() {
    // Windows first: they refer to the objects below.
    delete mainWindow_.data();
    delete settingsWindow_.data();
    if (tray_) tray_->hide();
    tray_.reset();
    trayMenu_.reset();
}

void QuillvaneApp::declareScenes() {
    // 1. The main window.
    createMainWindow();
    mainWindow_->show();

    // 2. The tray icon and its menu.
    const QPixmap base = QuillvaneResources::menuBarIcon();
    for (int s = 0; s < ui::MenuBarLabel::stateCount; ++s)
        labelIcons_.push_back(ui::MenuBarLabel::icon(base, s));
    trayMenu_ = std::make_unique<ui::MenuBarContent>(
        *appState_, *session_, [this] { openMainWindow(); }, [this] { openSettings(); });
    tray_ = std::make_unique<QSystemTrayIcon>();
    tray_->setContextMenu(trayMenu_.get());
    connect(tray_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    openMainWindow();
            });
    connect(session_.get(), &ui::RecordingSessionModel::stateChanged, this,
            &QuillvaneApp::updateTrayLabel);
    updateTrayLabel();
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        platform::Logger("com.quillvane", "shell")
            .notice("this desktop shows no tray icons; the main window's menu is the way in");
    tray_->show();

    // A finished recording opens in the library; a failed one is said.
    connect(recordingEngine_.get(), &ui::RecordingEngine::recordingFinished, this,
            [this](const QString &id, const QStringList &warnings) {
                if (ui::MainWindowView *view = mainWindowView()) view->libraryView()->reload();
                appState_->setSelectedRecording(id);
                openMainWindow();
                if (!warnings.isEmpty() && tray_)
                    tray_->showMessage(QStringLiteral("Recording saved"), warnings.join('\n'),
                                       QSystemTrayIcon::Warning);
            });
    connect(recordingEngine_.get(), &ui::RecordingEngine::recordingFailed, this,
            [this](const QString &message) {
                platform::Logger("com.quillvane", "recording").error("%s", qPrintable(message));
                if (tray_)
                    tray_->showMessage(QStringLiteral("Recording failed"), message,
                                       QSystemTrayIcon::Critical);
            });
    // 3. The settings window, shown when asked for.
    settingsWindow_ = new ui::AppSettingsView(*settings_, *permissions_, *appState_);
    settingsWindow_->setWindowIcon(QuillvaneResources::logo());
}

void QuillvaneApp::createMainWindow() {
    auto *window = new QMainWindow;
    window->setObjectName(QString::fromStdString(mainWindowID_));
    window->setWindowTitle(QString::fromUtf8(mainWindowTitle));
    window->setWindowIcon(QuillvaneResources::logo());
    // Closing hides it: the one window comes back with its state from the tray menu.
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setCentralWidget(
        new ui::MainWindowView(*appState_, *settings_, *permissions_, *session_, *barController_,
                               *webcamPreview_, *teleprompter_, *library_, *exportEngine_, window));
    auto *menu = window->menuBar()->addMenu(QStringLiteral("&Quillvane"));
    menu->addAction(QStringLiteral("Settings…"), QKeySequence::Preferences, this,
                    [this] { openSettings(); });
    menu->addAction(QStringLiteral("Quit"), QKeySequence::Quit, qApp, &QApplication::quit);
    window->resize(defaultWidth, defaultHeight);
    // The window never gets smaller than what its content needs.
    window->setMinimumSize(window->minimumSizeHint());
    mainWindow_ = window;
}

ui::MainWindowView *QuillvaneApp::mainWindowView() const {
    return mainWindow_ ? qobject_cast<ui::MainWindowView *>(mainWindow_->centralWidget()) : nullptr;
}

void QuillvaneApp::openMainWindow() {
    if (!mainWindow_) createMainWindow();
    if (mainWindow_->isMinimized())
        mainWindow_->showNormal();
    else
        mainWindow_->show();
    mainWindow_->raise();
    mainWindow_->activateWindow();
}

void QuillvaneApp::openSettings() {
    if (!settingsWindow_) return;
    settingsWindow_->show();
    settingsWindow_->raise();
    settingsWindow_->activateWindow();
}

void QuillvaneApp::scenePhaseChanged(Qt::ApplicationState state) {
    if (state == phase_) return;
    phase_ = state;
    if (state != Qt::ApplicationActive) return;
    ++activations_;
    permissions_->refreshAll();
    ui::WindowPlacement::ensureOnScreen(mainWindow_);
}

void QuillvaneApp::updateTrayLabel() {
    labelState_ = ui::menuBarLabelState(session_->state());
    if (!tray_) return;
    tray_->setIcon(labelIcons_[std::size_t(labelState_)]);
    tray_->setToolTip(ui::MenuBarLabel::toolTip(labelState_));
}

} // namespace qv
