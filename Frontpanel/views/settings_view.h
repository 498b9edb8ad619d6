// The settings window's content: what this desktop allows (with what to do about what it does
// not), the recording countdown, the preview's frame-rate overlay and the teleprompter's script.
// Changes are saved at once; a settings file that could not be read is named with its problem.
// Thread safety: GUI thread only.
#pragma once

#include "interfaces/permissions/permissions_manager.h"
#include "interfaces/persistence/settings_store.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QSpinBox;

namespace qv::ui {

class AppState;

class AppSettingsView : public QWidget {
    Q_OBJECT
public:
    AppSettingsView(SettingsStore &settings, PermissionsManager &permissions, AppState &appState,
                    QWidget *parent = nullptr);
    ~AppSettingsView() override;

    // One line per capability: "Microphone: unavailable — no sound server … Start PulseAudio…".
    QString permissionsText() const;
    QLabel *problemLabel() const { return problem_; }

private:
    void showPermissions();
    void save(AppSettings changed);

    SettingsStore &settings_;
    PermissionsManager &permissions_;
    int permissionsObserver_ = 0;
    QLabel *permissionsLabel_, *problem_;
    QSpinBox *countdown_;
    QCheckBox *frameRate_;
    QPlainTextEdit *script_;
};

} // namespace qv::ui
