// A floating window with the live picture of the default camera, so that the user can frame
// themselves before recording. Shown and hidden on request; it opens the camera only while
// shown.
// Thread safety: GUI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class QCamera;
class QMediaCaptureSession;

namespace qv::ui {

class WebcamPreviewController : public QObject {
    Q_OBJECT
public:
    explicit WebcamPreviewController(QObject *parent = nullptr);
    ~WebcamPreviewController() override;

    // Whether the system lists a camera.
    static bool hasCamera();
    // Shows the window with the camera's picture, or a line saying there is no camera.
    void show();
    void hide();
    bool isShown() const;
    QWidget *window() const { return window_; }

private:
    QPointer<QWidget> window_;
    QCamera *camera_ = nullptr;
    QMediaCaptureSession *capture_ = nullptr;
};

} // namespace qv::ui
