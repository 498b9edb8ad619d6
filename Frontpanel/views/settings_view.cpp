#include "Frontpanel/views/settings_view.h"

#include "interfaces/persistence/recording.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace qv::ui {

AppSettingsView::AppSettingsView(SettingsStore &settings, PermissionsManager &permissions,
                                 AppState &, QWidget *parent)
    : QWidget(parent), settings_(settings), permissions_(permissions) {
    setObjectName(QStringLiteral("settings"));
    setWindowTitle(QStringLiteral("Quillvane Settings"));

    auto *access = new QGroupBox(QStringLiteral("What this desktop allows"), this);
    permissionsLabel_ = new QLabel(access);
    permissionsLabel_->setWordWrap(true);
    permissionsLabel_->setTextFormat(Qt::PlainText);
    auto *again = new QPushButton(QStringLiteral("Check Again"), access);
    auto *accessLayout = new QVBoxLayout(access);
    accessLayout->addWidget(permissionsLabel_);
    accessLayout->addWidget(again, 0, Qt::AlignLeft);

    auto *recording = new QGroupBox(QStringLiteral("Recording and preview"), this);
    countdown_ = new QSpinBox(recording);
    countdown_->setRange(0, 10);
    countdown_->setSuffix(QStringLiteral(" s"));
    frameRate_ = new QCheckBox(QStringLiteral("Show the frame rate over the preview"), recording);
    script_ = new QPlainTextEdit(recording);
    script_->setPlaceholderText(QStringLiteral("The teleprompter's script"));
    auto *saveScript = new QPushButton(QStringLiteral("Save Script"), recording);
    auto *library =
        new QLabel(QString::fromStdString(RecordingStore::libraryDirectory().string()), recording);
    library->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *form = new QFormLayout(recording);
    form->addRow(QStringLiteral("Countdown"), countdown_);
    form->addRow(QString(), frameRate_);
    form->addRow(QStringLiteral("Teleprompter"), script_);
    form->addRow(QString(), saveScript);
    form->addRow(QStringLiteral("Library folder"), library);

    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #b91c1c"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(access);
    layout->addWidget(recording);
    layout->addWidget(problem_);

    const AppSettings &s = settings_.settings();
    countdown_->setValue(s.countdownSeconds);
    frameRate_->setChecked(s.showFrameRate);
    script_->setPlainText(QString::fromStdString(s.teleprompterText));
    if (settings_.loadError())
        problem_->setText(QString::fromStdString(settings_.loadError()->message) +
                          QStringLiteral("\nThe defaults are used; changing a setting replaces "
                                         "the file."));

    connect(again, &QPushButton::clicked, this, [this] { permissions_.refreshAll(); });
    connect(countdown_, &QSpinBox::valueChanged, this, [this](int value) {
        AppSettings changed = settings_.settings();
        changed.countdownSeconds = value;
        save(changed);
    });
    connect(frameRate_, &QCheckBox::toggled, this, [this](bool on) {
        AppSettings changed = settings_.settings();
        changed.showFrameRate = on;
        save(changed);
    });
    connect(saveScript, &QPushButton::clicked, this, [this] {
        AppSettings changed = settings_.settings();
        changed.teleprompterText = script_->toPlainText().toStdString();
        save(changed);
    });
    permissionsObserver_ = permissions_.observe([this] { showPermissions(); });
    showPermissions();
}

AppSettingsView::~AppSettingsView() {
    permissions_.removeObserver(permissionsObserver_);
}

QString AppSettingsView::permissionsText() const {
    QStringList lines;
    for (const PermissionsManager::Check &c : permissions_.checks()) {
        const bool granted = c.status == PermissionsManager::Status::granted;
        QString line =
            QStringLiteral("%1: %2 — %3")
                .arg(QString::fromUtf8(PermissionsManager::name(c.capability)),
                     granted ? QStringLiteral("available") : QStringLiteral("unavailable"),
                     QString::fromStdString(c.detail));
        if (!granted && !c.advice.empty())
            line += QStringLiteral("\n    ") + QString::fromStdString(c.advice);
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

void AppSettingsView::showPermissions() {
    permissionsLabel_->setText(permissionsText());
}

void AppSettingsView::save(AppSettings changed) {
    if (auto status = settings_.update(changed); !status)
        problem_->setText(QString::fromStdString(status.error().message));
    else
        problem_->clear();
}

} // namespace qv::ui
