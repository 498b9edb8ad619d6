// QuillvaneApp: the application shell. It creates the objects that live for the whole run, in a
// fixed order, then its three scenes: the main window ("main", titled "Quillvane"), the tray icon
// with its menu, and the settings window. When the application becomes active again it asks the
// permissions anew and keeps the main window on a screen.
//
// Thread safety: GUI thread only. Lifetime: one per process, created after the QApplication.
#pragma once

#include "Frontpanel/views/app_state.h"
#include "Frontpanel/views/main_window_view.h"
#include "Frontpanel/views/menu_bar.h"
#include "Frontpanel/views/qt_executor.h"
#include "Frontpanel/views/recording_bar.h"
#include "Frontpanel/views/recording_engine.h"
#include "Frontpanel/views/recording_session_model.h"
#include "Frontpanel/views/settings_view.h"
#include "Frontpanel/views/teleprompter.h"
#include "Frontpanel/views/webcam_preview.h"
#include "Outfitter/export_engine.h"
#include "interfaces/permissions/permissions_manager.h"
#include "interfaces/persistence/library_store.h"
#include "interfaces/persistence/settings_store.h"

#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>
#include <string>
#include <vector>

namespace qv {

class QuillvaneApp : public QObject {
    Q_OBJECT
public:
    static constexpr const char *mainWindowTitle = "Quillvane";
    static constexpr int defaultWidth = 1024, defaultHeight = 640;

    // What the process sets up once the QApplication exists and before the shell is created:
    // names, icon, resources, quiet codec logs, and staying alive with no window open.
    static void configureApplication();

    // Creates the long-lived objects, in order. `permissionsProbe` replaces the system's
    // answers (tests).
    explicit QuillvaneApp(
        PermissionsManager::Probe permissionsProbe = PermissionsManager::Probe::system(),
        QObject *parent = nullptr);
    ~QuillvaneApp() override;

    // Creates the scenes in order: the main window (shown), the tray icon (shown) and the
    // settings window (hidden until asked for).
    void declareScenes();

    // The names of the long-lived objects in the order they were created.
    const std::vector<std::string> &creationOrder() const { return creationOrder_; }
    const std::string &mainWindowID() const { return mainWindowID_; }

    // Shows the one main window (creating it if it was closed for good), raises it and gives it
    // the focus.
    void openMainWindow();
    void openSettings();

    // The scene-phase handler: runs for every change to Active after the first value.
    void scenePhaseChanged(Qt::ApplicationState state);
    int activationCount() const { return activations_; }

    QMainWindow *mainWindow() const { return mainWindow_; }
    ui::MainWindowView *mainWindowView() const;
    QSystemTrayIcon *trayIcon() const { return tray_.get(); }
    ui::MenuBarContent *trayMenu() const { return trayMenu_.get(); }
    ui::AppSettingsView *settingsWindow() const { return settingsWindow_; }
    // The label state the tray icon shows now (0 to 3).
    int trayLabelState() const { return labelState_; }

    SettingsStore &settings() { return *settings_; }
    ui::AppState &appState() { return *appState_; }
    PermissionsManager &permissions() { return *permissions_; }
    ui::RecordingSessionModel &session() { return *session_; }
    ui::RecordingEngine &recordingEngine() { return *recordingEngine_; }
    ui::RecordingBarController &barController() { return *barController_; }
    ui::WebcamPreviewController &webcamPreview() { return *webcamPreview_; }
    ui::TeleprompterController &teleprompter() { return *teleprompter_; }
    LibraryStore &library() { return *library_; }
    ExportEngine &exportEngine() { return *exportEngine_; }

private:
    void createMainWindow();
    void updateTrayLabel();

    // The executor on which the export engine delivers: this thread's event loop.
    ui::QtExecutor executor_;
    // Declaration order as the scenes receive them; creation order is the constructor's.
    std::unique_ptr<SettingsStore> settings_;
    std::unique_ptr<ui::AppState> appState_;
    std::unique_ptr<PermissionsManager> permissions_;
    std::unique_ptr<ui::RecordingSessionModel> session_;
    // What records for the session: the screen and input, into the library.
    std::unique_ptr<ui::RecordingEngine> recordingEngine_;
    std::unique_ptr<ui::RecordingBarController> barController_;
    std::unique_ptr<ui::WebcamPreviewController> webcamPreview_;
    std::unique_ptr<ui::TeleprompterController> teleprompter_;
    std::unique_ptr<LibraryStore> library_;
    std::unique_ptr<ExportEngine> exportEngine_;
    std::string mainWindowID_;

    std::vector<std::string> creationOrder_;
    Qt::ApplicationState phase_;
    int activations_ = 0;
    int labelState_ = 0;
    std::vector<QIcon> labelIcons_;

    // The scenes, destroyed before the objects above.
    QPointer<QMainWindow> mainWindow_;
    std::unique_ptr<ui::MenuBarContent> trayMenu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QPointer<ui::AppSettingsView> settingsWindow_;
};

} // namespace qv
