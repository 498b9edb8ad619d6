// The main window's content: the first-run page (what this desktop allows, then on to the
// library), and the library beside the live preview of the selected recording, with its export
// panel under it. The toolbar shows and hides the webcam preview and the teleprompter.
// Thread safety: GUI thread only. Every object it is given outlives it.
#pragma once

#include "Frontpanel/views/app_state.h"
#include "Frontpanel/views/export_panel.h"
#include "Frontpanel/views/library_view.h"
#include "Frontpanel/views/preview_view.h"
#include "Frontpanel/views/recording_bar.h"
#include "Frontpanel/views/recording_session_model.h"
#include "Frontpanel/views/scene_style_panel.h"
#include "Frontpanel/views/teleprompter.h"
#include "Frontpanel/views/webcam_preview.h"
#include "Outfitter/export_engine.h"
#include "interfaces/permissions/permissions_manager.h"
#include "interfaces/persistence/library_store.h"
#include "interfaces/persistence/settings_store.h"

#include <QWidget>

class QStackedWidget;
class QLabel;

namespace qv::ui {

class MainWindowView : public QWidget {
    Q_OBJECT
public:
    // The preview draws at most this size (the export's canvas when smaller).
    static constexpr double previewWidth = 1920, previewHeight = 1080;

    MainWindowView(AppState &appState, SettingsStore &settings, PermissionsManager &permissions,
                   RecordingSessionModel &session, RecordingBarController &barController,
                   WebcamPreviewController &webcamPreview, TeleprompterController &teleprompter,
                   LibraryStore &library, ExportEngine &exportEngine, QWidget *parent = nullptr);
    ~MainWindowView() override;

    QStackedWidget *pages() const { return pages_; }
    LibraryView *libraryView() const { return library_; }
    PreviewView *previewView() const { return preview_; }
    ExportPanel *exportPanel() const { return export_; }
    LookInspector *lookInspector() const { return look_; }
    // Leaves the first-run page for good (the Continue button).
    void finishOnboarding();

private:
    void showRoute(AppRoute route);
    void openSelected(const QString &id);

    AppState &appState_;
    SettingsStore &settings_;
    PermissionsManager &permissions_;
    LibraryStore &libraryStore_;
    int settingsObserver_ = 0, permissionsObserver_ = 0;
    QStackedWidget *pages_;
    QLabel *welcomeText_;
    LibraryView *library_;
    PreviewView *preview_;
    ExportPanel *export_;
    LookInspector *look_;
};

} // namespace qv::ui
