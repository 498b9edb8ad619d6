#include "Frontpanel/views/webcam_preview.h"

#include <QCamera>
#include <QLabel>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QVBoxLayout>
#include <QVideoWidget>
#include <QWidget>

namespace qv::ui {

WebcamPreviewController::WebcamPreviewController(QObject *parent) : QObject(parent) {
}

WebcamPreviewController::~WebcamPreviewController() {
    hide();
    delete window_.data();
}

bool WebcamPreviewController::hasCamera() {
    return !QMediaDevices::videoInputs().isEmpty();
}

void WebcamPreviewController::show() {
    if (!window_) {
        window_ = new QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
        window_->setObjectName(QStringLiteral("webcamPreview"));
        window_->setWindowTitle(QStringLiteral("Camera"));
        window_->resize(320, 240);
        new QVBoxLayout(window_);
    }
    auto *layout = window_->layout();
    while (QLayoutItem *item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (hasCamera()) {
        auto *video = new QVideoWidget(window_);
        layout->addWidget(video);
        camera_ = new QCamera(QMediaDevices::defaultVideoInput(), this);
        capture_ = new QMediaCaptureSession(this);
        capture_->setCamera(camera_);
        capture_->setVideoOutput(video);
        camera_->start();
    } else {
        layout->addWidget(new QLabel(QStringLiteral("No camera found."), window_));
    }
    window_->show();
}

void WebcamPreviewController::hide() {
    if (camera_) camera_->stop();
    delete capture_;
    capture_ = nullptr;
    delete camera_;
    camera_ = nullptr;
    if (window_) window_->hide();
}

bool WebcamPreviewController::isShown() const {
    return window_ && window_->isVisible();
}

} // namespace qv::ui
