// The library: the recordings of the library folder, newest first, each with a thumbnail drawn
// through the compositor (the frame a third of the way in), its name, date and length. A
// recording is opened by selecting it; it can be renamed and moved to the desktop's trash.
// Thumbnails are drawn on a thread of the view's own and arrive one by one.
// Thread safety: GUI thread only.
#pragma once

#include "interfaces/persistence/library_store.h"
#include "platform/core/geometry.h"

#include <QImage>
#include <QWidget>

#include <map>
#include <memory>

class QListWidget;
class QListWidgetItem;
class QPushButton;
class QLabel;

namespace qv::ui {

class AppState;
class ThumbnailThread;

class LibraryView : public QWidget {
    Q_OBJECT
public:
    static constexpr int thumbnailWidth = 240, thumbnailHeight = 135;

    // The canvas a recording's thumbnail is drawn on: its export canvas fitted into the
    // thumbnail size.
    static Size thumbnailCanvas(const RecordingMeta &meta);

    LibraryView(LibraryStore &library, AppState &appState, QWidget *parent = nullptr);
    ~LibraryView() override;

    // Reads the library folder again and lists what is there.
    void reload();
    // What the Rename and Move to Trash buttons do after asking the user.
    Status renameRecording(const QString &id, const QString &newName);
    Status trashRecording(const QString &id);

    QListWidget *list() const { return list_; }
    // The drawn thumbnail of a recording; null until it has arrived.
    QImage thumbnail(const QString &id) const;
    // Thumbnails still being drawn.
    int pendingThumbnails() const { return pending_; }

signals:
    void thumbnailReady(const QString &id);

private:
    friend class ThumbnailThread;
    void thumbnailArrived(const QString &id, QImage image, QString error);
    void askRename();
    void askTrash();
    QString currentId() const;
    void showProblem(const QString &text);

    LibraryStore &library_;
    AppState &appState_;
    QListWidget *list_;
    QPushButton *renameButton_, *trashButton_;
    QLabel *problem_;
    std::unique_ptr<ThumbnailThread> thumbnails_;
    std::map<QString, QImage> images_;
    int pending_ = 0;
};

// "2026-12-08 14:05 · 1:23": the date and length shown under a recording's name.
QString recordingSubtitle(const RecordingMeta &meta);

} // namespace qv::ui
