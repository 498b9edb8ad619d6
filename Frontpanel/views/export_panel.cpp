#include "Frontpanel/views/export_panel.h"

#include "Frontpanel/views/app_state.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace qv::ui {

ExportPanel::ExportPanel(ExportEngine &engine, AppState &appState, QWidget *parent)
    : QWidget(parent), engine_(engine), appState_(appState) {
    setObjectName(QStringLiteral("exportPanel"));
    preset_ = new QComboBox(this);
    for (ExportPreset p : ExportPreset::allCases())
        preset_->addItem(QString::fromUtf8(p.title().data(), int(p.title().size())),
                         QString::fromUtf8(p.rawValue().data(), int(p.rawValue().size())));
    markdown_ = new QCheckBox(QStringLiteral("Write a Markdown report beside the movie"), this);
    output_ = new QLineEdit(this);
    output_->setPlaceholderText(QStringLiteral("movie file"));
    choose_ = new QPushButton(QStringLiteral("Choose…"), this);
    export_ = new QPushButton(QStringLiteral("Export"), this);
    export_->setObjectName(QStringLiteral("export"));
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    reveal_ = new QPushButton(QStringLiteral("Show in Folder"), this);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *file = new QHBoxLayout;
    file->addWidget(output_, 1);
    file->addWidget(choose_);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Preset"), preset_);
    form->addRow(QStringLiteral("File"), file);
    form->addRow(QString(), markdown_);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(export_);
    buttons->addWidget(cancel_);
    buttons->addStretch(1);
    buttons->addWidget(reveal_);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(progress_);
    layout->addWidget(status_);
    layout->addLayout(buttons);

    connect(export_, &QPushButton::clicked, this, &ExportPanel::startExport);
    connect(cancel_, &QPushButton::clicked, this, &ExportPanel::cancelExport);
    connect(reveal_, &QPushButton::clicked, this, &ExportPanel::showInFolder);
    connect(choose_, &QPushButton::clicked, this, &ExportPanel::chooseFile);
    connect(output_, &QLineEdit::textEdited, this, [this] { outputEdited_ = true; });
    connect(preset_, &QComboBox::currentIndexChanged, this, [this] {
        if (!outputEdited_) selectionChanged(appState_.selectedRecording());
    });
    connect(&appState_, &AppState::selectedRecordingChanged, this, &ExportPanel::selectionChanged);
    observer_ = engine_.observePhase([this](const ExportEngine::Phase &p) { phaseChanged(p); });
    selectionChanged(appState_.selectedRecording());
    phaseChanged(engine_.phase());
}

ExportPanel::~ExportPanel() {
    engine_.removePhaseObserver(observer_);
}

void ExportPanel::selectionChanged(const QString &id) {
    export_->setEnabled(!id.isEmpty() && !busy_ && !engine_.isExporting());
    if (id.isEmpty() || outputEdited_) return;
    auto folder = RecordingStore::recordingDirectory(id.toStdString(), false);
    if (!folder) return;
    auto meta = RecordingMeta::readFromRecording(*folder);
    if (!meta) return;
    const auto preset = ExportPreset::fromRawValue(preset_->currentData().toString().toStdString());
    output_->setText(QString::fromStdString(
        ExportEngine::defaultOutputURL(*meta, preset.value_or(ExportPreset::web)).string()));
}

void ExportPanel::chooseFile() {
    const QString file =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export to"), output_->text());
    if (file.isEmpty()) return;
    output_->setText(file);
    outputEdited_ = true;
}

void ExportPanel::startExport() {
    const QString id = appState_.selectedRecording();
    if (id.isEmpty() || busy_ || engine_.isExporting()) return;
    const auto preset = ExportPreset::fromRawValue(preset_->currentData().toString().toStdString());
    if (!preset) return;
    if (output_->text().trimmed().isEmpty()) {
        status_->setText(QStringLiteral("Choose a file to export to."));
        return;
    }
    finished_.reset();
    running_.start();
    busy_ = true;
    phaseChanged(engine_.phase());
    status_->setText(QStringLiteral("Preparing the export…"));
    engine_.exportRecording(id.toStdString(), *preset,
                            std::filesystem::path(output_->text().trimmed().toStdString()),
                            markdown_->isChecked(), [self = QPointer<ExportPanel>(this)] {
                                // The engine outlives the panel; a late completion finds none.
                                if (!self) return;
                                self->busy_ = false;
                                self->phaseChanged(self->engine_.phase());
                                emit self->exportEnded();
                            });
}

void ExportPanel::cancelExport() {
    engine_.cancel();
}

void ExportPanel::showInFolder() {
    if (!finished_) return;
    QProcess::startDetached(QStringLiteral("xdg-open"),
                            {QString::fromStdString(finished_->parent_path().string())});
}

QString ExportPanel::timeLeftText(double fraction, qint64 elapsedMs) {
    if (fraction <= 0.01 || elapsedMs < 500) return QStringLiteral("estimating the time left…");
    const qint64 left = qint64(std::llround(elapsedMs * (1 - fraction) / fraction / 1000.0));
    if (left >= 60)
        return QStringLiteral("about %1 min %2 s left")
            .arg(left / 60)
            .arg(left % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("about %1 s left").arg(left);
}

void ExportPanel::phaseChanged(const ExportEngine::Phase &phase) {
    using Phase = ExportEngine::Phase;
    const bool exporting = busy_ || phase.is<Phase::Exporting>();
    export_->setEnabled(!exporting && !appState_.selectedRecording().isEmpty());
    cancel_->setEnabled(exporting);
    preset_->setEnabled(!exporting);
    output_->setEnabled(!exporting);
    choose_->setEnabled(!exporting);
    markdown_->setEnabled(!exporting);
    reveal_->setVisible(false);
    if (auto e = phase.as<Phase::Exporting>()) {
        progress_->setValue(int(std::lround(e->fraction * 1000)));
        status_->setText(
            QStringLiteral("Exporting %1% — %2")
                .arg(int(e->fraction * 100))
                .arg(timeLeftText(e->fraction, running_.isValid() ? running_.elapsed() : 0)));
    } else if (auto f = phase.as<Phase::Finished>()) {
        progress_->setValue(1000);
        finished_ = f->url;
        status_->setText(
            f->url ? QStringLiteral("Exported to %1").arg(QString::fromStdString(f->url->string()))
                   : QStringLiteral("Exported."));
        reveal_->setVisible(f->url.has_value());
    } else if (auto failed = phase.as<Phase::Failed>()) {
        progress_->setValue(0);
        status_->setText(
            QStringLiteral("Export failed: %1").arg(QString::fromStdString(failed->message)));
    } else if (phase.is<Phase::Cancelled>()) {
        progress_->setValue(0);
        status_->setText(QStringLiteral("Export cancelled."));
    } else if (!busy_) {
        progress_->setValue(0);
        status_->clear();
    }
}

} // namespace qv::ui
