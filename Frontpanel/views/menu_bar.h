// The tray icon's label and menu. The label is the tray icon's picture for one of four label
// states (0 idle, 1 recording, 2 paused, 3 finishing), drawn over the app's menu-bar picture.
// The menu starts and stops recordings, opens the main window and quits.
// Thread safety: GUI thread only.
#pragma once

#include "Frontpanel/views/recording_session_model.h"

#include <QIcon>
#include <QMenu>
#include <QPixmap>

#include <functional>

class QAction;

namespace qv::ui {

class AppState;

namespace MenuBarLabel {
inline constexpr int stateCount = 4;
// The picture of label state `state` (0 to 3) on the base picture, `size` pixels square.
QPixmap picture(const QPixmap &base, int state, int size = 32);
QIcon icon(const QPixmap &base, int state);
// Words for the tooltip: "Quillvane", "Quillvane — recording", ...
QString toolTip(int state);
} // namespace MenuBarLabel

class MenuBarContent : public QMenu {
    Q_OBJECT
public:
    MenuBarContent(AppState &appState, RecordingSessionModel &session,
                   std::function<void()> openMainWindow, std::function<void()> openSettings,
                   QWidget *parent = nullptr);

    QAction *recordAction() const { return record_; }
    QAction *pauseAction() const { return pause_; }
    QAction *openMainWindowAction() const { return open_; }
    QAction *settingsAction() const { return settings_; }
    QAction *quitAction() const { return quit_; }

private:
    void update();

    RecordingSessionModel &session_;
    QAction *record_, *pause_, *open_, *settings_, *quit_;
};

} // namespace qv::ui
