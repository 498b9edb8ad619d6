#include "Frontpanel/views/library_view.h"

#include "Cutbench/composition_builder.h"
#include "Frontpanel/views/app_state.h"
#include "Frontpanel/views/frame_renderer.h"
#include "platform/core/allocator_tuning.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMetaObject>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace qv::ui {

namespace {
constexpr int idRole = Qt::UserRole + 1;
}

// Draws thumbnails one after another, newest request last.
class ThumbnailThread {
public:
    explicit ThumbnailThread(LibraryView *view) : view_(view), thread_([this] { run(); }) {}
    ~ThumbnailThread() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void add(QString id, std::filesystem::path folder) {
        {
            std::lock_guard lock(mutex_);
            jobs_.emplace_back(std::move(id), std::move(folder));
        }
        wake_.notify_all();
    }

private:
    void run() {
        for (;;) {
            std::pair<QString, std::filesystem::path> job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
                if (stop_) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            QImage image;
            QString error;
            draw(job.second, image, error);
            // The renderer's decoders and frames are gone: what they took goes back.
            platform::returnFreeMemory();
            QMetaObject::invokeMethod(
                view_,
                [view = view_, id = job.first, image = std::move(image), error] {
                    if (view) view->thumbnailArrived(id, image, error);
                },
                Qt::QueuedConnection);
        }
    }

    static void draw(const std::filesystem::path &folder, QImage &image, QString &error) {
        auto meta = RecordingMeta::readFromRecording(folder);
        auto renderer =
            meta ? FrameRenderer::open(folder, std::nullopt, LibraryView::thumbnailCanvas(*meta))
                 : Result<std::unique_ptr<FrameRenderer>>(meta.error());
        if (!renderer) {
            error = QString::fromStdString(renderer.error().message);
            return;
        }
        auto frame = (*renderer)->render((*renderer)->frameCount() / 3);
        if (frame)
            image = FrameRenderer::toImage(**frame);
        else
            error = QString::fromStdString(frame.error().message);
    }

    QPointer<LibraryView> view_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<QString, std::filesystem::path>> jobs_;
    bool stop_ = false;
    std::thread thread_;
};

Size LibraryView::thumbnailCanvas(const RecordingMeta &meta) {
    return FrameRenderer::fittedCanvas(
        CompositionBuilder::renderSize({double(meta.width), double(meta.height)}),
        {double(thumbnailWidth), double(thumbnailHeight)});
}

QString recordingSubtitle(const RecordingMeta &meta) {
    const QString date = QDateTime::fromMSecsSinceEpoch(meta.createdAtMs)
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    const qint64 s = (meta.durationMs + 500) / 1000;
    return QStringLiteral("%1 · %2:%3").arg(date).arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

LibraryView::LibraryView(LibraryStore &library, AppState &appState, QWidget *parent)
    : QWidget(parent), library_(library), appState_(appState) {
    setObjectName(QStringLiteral("library"));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("recordings"));
    list_->setIconSize(QSize(thumbnailWidth / 2, thumbnailHeight / 2));
    list_->setMinimumWidth(280);
    renameButton_ = new QPushButton(QStringLiteral("Rename…"), this);
    trashButton_ = new QPushButton(QStringLiteral("Move to Trash"), this);
    auto *refresh = new QPushButton(QStringLiteral("Refresh"), this);
    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #b91c1c"));
    problem_->hide();

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(renameButton_);
    buttons->addWidget(trashButton_);
    buttons->addStretch(1);
    buttons->addWidget(refresh);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_, 1);
    layout->addWidget(problem_);
    layout->addLayout(buttons);

    connect(refresh, &QPushButton::clicked, this, &LibraryView::reload);
    connect(renameButton_, &QPushButton::clicked, this, &LibraryView::askRename);
    connect(trashButton_, &QPushButton::clicked, this, &LibraryView::askTrash);
    connect(list_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *item) {
        const QString id = item ? item->data(idRole).toString() : QString();
        const LibraryStore::Item *entry = library_.item(id.toStdString());
        appState_.setSelectedRecording(entry && entry->meta ? id : QString());
        renameButton_->setEnabled(item != nullptr);
        trashButton_->setEnabled(item != nullptr);
    });
    thumbnails_ = std::make_unique<ThumbnailThread>(this);
    reload();
}

LibraryView::~LibraryView() {
    thumbnails_.reset();
}

void LibraryView::reload() {
    const QString keep = appState_.selectedRecording();
    if (auto status = library_.refresh(); !status)
        showProblem(QString::fromStdString(status.error().message));
    else
        problem_->hide();
    list_->clear();
    images_.clear();
    QListWidgetItem *toSelect = nullptr;
    for (const LibraryStore::Item &entry : library_.items()) {
        const QString id = QString::fromStdString(entry.id);
        auto *item = new QListWidgetItem(list_);
        item->setData(idRole, id);
        if (entry.meta) {
            item->setText(id + QStringLiteral("\n") + recordingSubtitle(*entry.meta));
            QPixmap placeholder(list_->iconSize());
            placeholder.fill(QColor(63, 63, 70));
            item->setIcon(placeholder);
            ++pending_;
            thumbnails_->add(id, entry.folder);
        } else {
            item->setText(id + QStringLiteral("\ncannot be opened"));
            item->setToolTip(QString::fromStdString(entry.problem));
            item->setForeground(QColor(185, 28, 28));
        }
        if (id == keep) toSelect = item;
    }
    if (toSelect)
        list_->setCurrentItem(toSelect);
    else
        appState_.setSelectedRecording({});
    renameButton_->setEnabled(list_->currentItem() != nullptr);
    trashButton_->setEnabled(list_->currentItem() != nullptr);
}

Status LibraryView::renameRecording(const QString &id, const QString &newName) {
    const bool wasSelected = appState_.selectedRecording() == id;
    auto status = library_.rename(id.toStdString(), newName.trimmed().toStdString());
    if (!status) {
        showProblem(QString::fromStdString(status.error().message));
        return status;
    }
    if (wasSelected) appState_.setSelectedRecording(newName.trimmed());
    reload();
    return Ok{};
}

Status LibraryView::trashRecording(const QString &id) {
    if (appState_.selectedRecording() == id) appState_.setSelectedRecording({});
    auto moved = library_.moveToTrash(id.toStdString());
    if (!moved) {
        showProblem(QString::fromStdString(moved.error().message));
        return moved.error();
    }
    reload();
    return Ok{};
}

QImage LibraryView::thumbnail(const QString &id) const {
    auto it = images_.find(id);
    return it == images_.end() ? QImage() : it->second;
}

void LibraryView::thumbnailArrived(const QString &id, QImage image, QString error) {
    if (pending_ > 0) --pending_;
    for (int row = 0; row < list_->count(); ++row) {
        QListWidgetItem *item = list_->item(row);
        if (item->data(idRole).toString() != id) continue;
        if (image.isNull()) {
            item->setToolTip(error);
        } else {
            images_[id] = image;
            item->setIcon(QPixmap::fromImage(image));
        }
    }
    emit thumbnailReady(id);
}

QString LibraryView::currentId() const {
    QListWidgetItem *item = list_->currentItem();
    return item ? item->data(idRole).toString() : QString();
}

void LibraryView::askRename() {
    const QString id = currentId();
    if (id.isEmpty()) return;
    bool ok = false;
    const QString name = QInputDialog::getText(this, QStringLiteral("Rename Recording"),
                                               QStringLiteral("Name:"), QLineEdit::Normal, id, &ok);
    if (ok && !name.trimmed().isEmpty()) renameRecording(id, name);
}

void LibraryView::askTrash() {
    const QString id = currentId();
    if (id.isEmpty()) return;
    if (QMessageBox::question(this, QStringLiteral("Move to Trash"),
                              QStringLiteral("Move \"%1\" to the trash?").arg(id)) ==
        QMessageBox::Yes)
        trashRecording(id);
}

void LibraryView::showProblem(const QString &text) {
    problem_->setText(text);
    problem_->show();
}

} // namespace qv::ui
