// The teleprompter: a frameless window near the top of the screen that shows the script kept in
// the settings, in large type, kept up to date when the settings change.
// Thread safety: GUI thread only.
#pragma once

#include "interfaces/persistence/settings_store.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

class QLabel;

namespace qv::ui {

class TeleprompterController : public QObject {
    Q_OBJECT
public:
    explicit TeleprompterController(SettingsStore &settings, QObject *parent = nullptr);
    ~TeleprompterController() override;

    void show();
    void hide();
    bool isShown() const;
    // The text the window shows (the settings' script, or a hint when there is none).
    QString text() const;

private:
    void refresh();

    SettingsStore &settings_;
    int observer_ = 0;
    QPointer<QWidget> window_;
    QLabel *label_ = nullptr;
};

} // namespace qv::ui
