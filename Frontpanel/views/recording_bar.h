// The small always-on-top bar shown while a recording runs: elapsed time, pause/resume and stop.
// Its X11 window carries the property _QUILLVANE_EXCLUDE_FROM_CAPTURE (CARDINAL 1), which tells
// the screen recorder to leave it out of the picture.
// Thread safety: GUI thread only.
#pragma once

#include "Frontpanel/views/recording_session_model.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;

namespace qv::ui {

inline constexpr const char *excludeFromCaptureProperty = "_QUILLVANE_EXCLUDE_FROM_CAPTURE";

// Marks a shown top-level widget's X11 window as excluded from capture. False when the
// application does not run on X11.
bool markExcludedFromCapture(QWidget &window);

class RecordingBarController : public QObject {
    Q_OBJECT
public:
    explicit RecordingBarController(RecordingSessionModel &session, QObject *parent = nullptr);
    ~RecordingBarController() override;

    // The bar's window; null until the first recording shows it.
    QWidget *bar() const { return bar_; }
    bool isShown() const;

private:
    void follow(RecordingSessionModel::State state);
    void tick();

    RecordingSessionModel &session_;
    QPointer<QWidget> bar_;
    QLabel *time_ = nullptr;
    QPushButton *pause_ = nullptr;
    QTimer ticker_;
    QElapsedTimer running_;
    qint64 elapsedBeforeMs_ = 0;
};

} // namespace qv::ui
