#include "Frontpanel/views/teleprompter.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWidget>

namespace qv::ui {

TeleprompterController::TeleprompterController(SettingsStore &settings, QObject *parent)
    : QObject(parent), settings_(settings) {
    observer_ = settings_.observe([this](const AppSettings &) { refresh(); });
}

TeleprompterController::~TeleprompterController() {
    settings_.removeObserver(observer_);
    delete window_.data();
}

QString TeleprompterController::text() const {
    const std::string &script = settings_.settings().teleprompterText;
    return script.empty() ? QStringLiteral("Write your script in Settings → Teleprompter.")
                          : QString::fromStdString(script);
}

void TeleprompterController::show() {
    if (!window_) {
        window_ =
            new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        window_->setObjectName(QStringLiteral("teleprompter"));
        window_->setWindowTitle(QStringLiteral("Teleprompter"));
        auto *layout = new QVBoxLayout(window_);
        auto *scroll = new QScrollArea(window_);
        label_ = new QLabel(scroll);
        label_->setWordWrap(true);
        QFont font = label_->font();
        font.setPointSizeF(font.pointSizeF() * 1.8);
        label_->setFont(font);
        scroll->setWidget(label_);
        scroll->setWidgetResizable(true);
        layout->addWidget(scroll);
        window_->resize(640, 200);
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            window_->move(area.center().x() - 320, area.top() + 60);
        }
    }
    refresh();
    window_->show();
}

void TeleprompterController::hide() {
    if (window_) window_->hide();
}

bool TeleprompterController::isShown() const {
    return window_ && window_->isVisible();
}

void TeleprompterController::refresh() {
    if (label_) label_->setText(text());
}

} // namespace qv::ui
