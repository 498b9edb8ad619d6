// The export panel: preset, Markdown report, output file, a progress bar with the time left,
// cancel, and "Show in Folder" once the movie is written. Failures show the export engine's
// message as it is.
// Thread safety: GUI thread only. The engine must outlive the panel.
#pragma once

#include "Outfitter/export_engine.h"

#include <QElapsedTimer>
#include <QWidget>

#include <filesystem>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace qv::ui {

class AppState;

class ExportPanel : public QWidget {
    Q_OBJECT
public:
    ExportPanel(ExportEngine &engine, AppState &appState, QWidget *parent = nullptr);
    ~ExportPanel() override;

    // Starts an export of the selected recording with the panel's choices (the Export button).
    void startExport();
    void cancelExport();
    // Opens the finished movie's folder with xdg-open (the Show in Folder button).
    void showInFolder();

    QComboBox *presetBox() const { return preset_; }
    QCheckBox *markdownBox() const { return markdown_; }
    QLineEdit *outputEdit() const { return output_; }
    QProgressBar *progressBar() const { return progress_; }
    QLabel *statusLabel() const { return status_; }
    QPushButton *exportButton() const { return export_; }
    QPushButton *cancelButton() const { return cancel_; }
    QPushButton *showInFolderButton() const { return reveal_; }
    std::optional<std::filesystem::path> finishedFile() const { return finished_; }

    // "about 1 min 05 s left": the time left from the fraction done and the time spent.
    static QString timeLeftText(double fraction, qint64 elapsedMs);

signals:
    void exportEnded();

private:
    void phaseChanged(const ExportEngine::Phase &phase);
    void selectionChanged(const QString &id);
    void chooseFile();

    ExportEngine &engine_;
    AppState &appState_;
    ExportEngine::ObserverId observer_ = 0;
    QComboBox *preset_;
    QCheckBox *markdown_;
    QLineEdit *output_;
    QPushButton *choose_, *export_, *cancel_, *reveal_;
    QProgressBar *progress_;
    QLabel *status_;
    QElapsedTimer running_;
    std::optional<std::filesystem::path> finished_;
    bool outputEdited_ = false;
    // From the Export button until the engine's completion, which comes after the composition
    // was built and the movie written (or not).
    bool busy_ = false;
};

} // namespace qv::ui
