// The look inspector: every scene field of the edit document (background with the wallpaper
// previews, gradient and colour; padding, radius, shadow, chrome and border; cursor style, size
// and click effect; keystroke and caption badges; webcam layout). Each change is saved to the
// recording's "edits.json" at once (atomically) and announced, so the preview redraws; undo and
// redo step through the changes. A document that cannot be read is named and left untouched:
// the inspector stays disabled rather than overwrite it.
// Thread safety: GUI thread only.
#pragma once

#include "interfaces/persistence/edits.h"
#include "platform/core/result.h"

#include <QWidget>

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QUndoStack;

namespace qv::ui {

class LookInspector : public QWidget {
    Q_OBJECT
public:
    explicit LookInspector(QWidget *parent = nullptr);
    ~LookInspector() override;

    // Reads the recording's edit document (the defaults when it has none).
    Status open(const std::filesystem::path &recordingFolder);
    void close();
    bool isOpen() const { return folder_.has_value(); }
    const Edits &edits() const { return edits_; }

    // Replaces the scene as one undoable change: saved and announced.
    void changeScene(const Edits::Scene &scene);
    void undo();
    void redo();
    bool canUndo() const;
    bool canRedo() const;
    // The last save's problem, if it failed.
    QString problem() const;

signals:
    void editsChanged(const qv::Edits &edits);

private:
    friend class SceneChange;
    // Takes the scene (from a change, an undo or a redo): saves, updates the controls, announces.
    void apply(const Edits::Scene &scene);
    void buildControls();
    void load();

    std::optional<std::filesystem::path> folder_;
    Edits edits_;
    QUndoStack *undo_;
    QLabel *problem_;
    QWidget *controls_ = nullptr;
    // Sets each control from the scene, signals blocked.
    std::vector<std::function<void(const Edits::Scene &)>> loaders_;
    bool loading_ = false;
};

} // namespace qv::ui
