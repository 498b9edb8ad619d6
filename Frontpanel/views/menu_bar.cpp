#include "Frontpanel/views/menu_bar.h"

#include "Frontpanel/views/app_state.h"

#include <QAction>
#include <QApplication>
#include <QPainter>

namespace qv::ui {

namespace MenuBarLabel {

QPixmap picture(const QPixmap &base, int state, int size) {
    QPixmap out(size, size);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawPixmap(QRect(0, 0, size, size), base);
    // A badge in the lower right corner tells the state apart at tray size.
    const double r = size * 0.22;
    const QRectF badge(size - 2 * r - 1, size - 2 * r - 1, 2 * r, 2 * r);
    switch (state) {
    case 1: // recording: a red dot
        p.setPen(QPen(Qt::white, size / 16.0));
        p.setBrush(QColor(220, 38, 38));
        p.drawEllipse(badge);
        break;
    case 2: { // paused: two bars
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(245, 158, 11));
        p.drawEllipse(badge);
        p.setBrush(Qt::white);
        const double w = r * 0.35, h = r * 1.1;
        p.drawRect(QRectF(badge.center().x() - w * 1.5, badge.center().y() - h / 2, w, h));
        p.drawRect(QRectF(badge.center().x() + w * 0.5, badge.center().y() - h / 2, w, h));
        break;
    }
    case 3: // finishing: a hollow ring
        p.setPen(QPen(QColor(37, 99, 235), size / 10.0));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(badge.adjusted(1, 1, -1, -1));
        break;
    default:
        break;
    }
    return out;
}

QIcon icon(const QPixmap &base, int state) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(picture(base, state, size));
    return icon;
}

QString toolTip(int state) {
    switch (state) {
    case 1:
        return QStringLiteral("Quillvane — recording");
    case 2:
        return QStringLiteral("Quillvane — paused");
    case 3:
        return QStringLiteral("Quillvane — finishing the recording");
    default:
        return QStringLiteral("Quillvane");
    }
}

} // namespace MenuBarLabel

MenuBarContent::MenuBarContent(AppState &, RecordingSessionModel &session,
                               std::function<void()> openMainWindow,
                               std::function<void()> openSettings, QWidget *parent)
    : QMenu(parent), session_(session) {
    record_ = addAction(QStringLiteral("Start Recording"));
    pause_ = addAction(QStringLiteral("Pause Recording"));
    addSeparator();
    open_ = addAction(QStringLiteral("Open Quillvane"));
    settings_ = addAction(QStringLiteral("Settings…"));
    addSeparator();
    quit_ = addAction(QStringLiteral("Quit Quillvane"));
    quit_->setShortcut(QKeySequence::Quit);

    connect(record_, &QAction::triggered, this, [this] {
        if (session_.state() == RecordingSessionModel::State::idle)
            session_.start();
        else
            session_.stop();
    });
    connect(pause_, &QAction::triggered, this, [this] {
        if (session_.state() == RecordingSessionModel::State::paused)
            session_.resume();
        else
            session_.pause();
    });
    connect(open_, &QAction::triggered, this, [openMainWindow] { openMainWindow(); });
    connect(settings_, &QAction::triggered, this, [openSettings] { openSettings(); });
    connect(quit_, &QAction::triggered, qApp, &QApplication::quit);
    connect(&session_, &RecordingSessionModel::stateChanged, this, [this] { update(); });
    connect(&session_, &RecordingSessionModel::canRecordChanged, this, [this] { update(); });
    update();
}

void MenuBarContent::update() {
    using State = RecordingSessionModel::State;
    const State s = session_.state();
    record_->setText(s == State::idle ? QStringLiteral("Start Recording")
                                      : QStringLiteral("Stop Recording"));
    record_->setEnabled(session_.canRecord() && s != State::finishing);
    record_->setToolTip(session_.canRecord() ? QString()
                                             : QStringLiteral("No recording engine is available"));
    pause_->setText(s == State::paused ? QStringLiteral("Resume Recording")
                                       : QStringLiteral("Pause Recording"));
    pause_->setEnabled(session_.canRecord() && (s == State::recording || s == State::paused));
}

} // namespace qv::ui
