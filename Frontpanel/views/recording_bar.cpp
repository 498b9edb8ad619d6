#include "Frontpanel/views/recording_bar.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <qguiapplication_platform.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace qv::ui {

bool markExcludedFromCapture(QWidget &window) {
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->display()) return false;
    Display *display = x11->display();
    const Atom atom = XInternAtom(display, excludeFromCaptureProperty, False);
    const long one = 1;
    XChangeProperty(display, static_cast<Window>(window.winId()), atom, XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char *>(&one), 1);
    XFlush(display);
    return true;
}

RecordingBarController::RecordingBarController(RecordingSessionModel &session, QObject *parent)
    : QObject(parent), session_(session) {
    ticker_.setInterval(250);
    connect(&ticker_, &QTimer::timeout, this, &RecordingBarController::tick);
    connect(&session_, &RecordingSessionModel::stateChanged, this, &RecordingBarController::follow);
}

RecordingBarController::~RecordingBarController() {
    delete bar_.data();
}

bool RecordingBarController::isShown() const {
    return bar_ && bar_->isVisible();
}

void RecordingBarController::follow(RecordingSessionModel::State state) {
    using State = RecordingSessionModel::State;
    const bool show =
        state == State::countdown || state == State::recording || state == State::paused;
    if (!show) {
        ticker_.stop();
        if (bar_) bar_->hide();
        elapsedBeforeMs_ = 0;
        running_.invalidate();
        return;
    }
    if (!bar_) {
        bar_ = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        bar_->setObjectName(QStringLiteral("recordingBar"));
        bar_->setWindowTitle(QStringLiteral("Quillvane recording"));
        auto *layout = new QHBoxLayout(bar_);
        time_ = new QLabel(QStringLiteral("0:00"), bar_);
        pause_ = new QPushButton(QStringLiteral("Pause"), bar_);
        auto *stop = new QPushButton(QStringLiteral("Stop"), bar_);
        layout->addWidget(time_);
        layout->addWidget(pause_);
        layout->addWidget(stop);
        connect(pause_, &QPushButton::clicked, this, [this] {
            if (session_.state() == RecordingSessionModel::State::paused)
                session_.resume();
            else
                session_.pause();
        });
        connect(stop, &QPushButton::clicked, this, [this] { session_.stop(); });
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            bar_->adjustSize();
            bar_->move(area.center().x() - bar_->width() / 2, area.top() + 12);
        }
    }
    if (state == State::recording && !running_.isValid()) running_.start();
    if (state != State::recording && running_.isValid()) {
        elapsedBeforeMs_ += running_.elapsed();
        running_.invalidate();
    }
    pause_->setText(state == State::paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    pause_->setEnabled(state != State::countdown);
    if (!bar_->isVisible()) {
        bar_->show();
        markExcludedFromCapture(*bar_);
    }
    ticker_.start();
    tick();
}

void RecordingBarController::tick() {
    if (!time_ || session_.state() == RecordingSessionModel::State::countdown) return;
    const qint64 ms = elapsedBeforeMs_ + (running_.isValid() ? running_.elapsed() : 0);
    const qint64 s = ms / 1000;
    time_->setText(QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0')));
}

} // namespace qv::ui
