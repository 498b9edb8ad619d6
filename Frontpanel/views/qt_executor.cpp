#include "Frontpanel/views/qt_executor.h"

#include <QMetaObject>
#include <QPointer>
#include <QTimer>

namespace qv::ui {

QtExecutor::QtExecutor(QObject *parent) : QObject(parent) {
}

QtExecutor::~QtExecutor() = default;

void QtExecutor::post(std::function<void()> task) {
    // Queued to this object: dropped if it is gone by then.
    QMetaObject::invokeMethod(
        this, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

platform::TimerId QtExecutor::scheduleRepeating(std::chrono::milliseconds interval,
                                                std::function<void()> task) {
    platform::TimerId id;
    {
        std::lock_guard lock(mutex_);
        id = nextTimer_++;
        timers_[id] = nullptr;
    }
    // The QTimer is made on this object's thread.
    QMetaObject::invokeMethod(
        this,
        [this, id, interval, task = std::move(task)] {
            std::lock_guard lock(mutex_);
            auto it = timers_.find(id);
            if (it == timers_.end()) return; // cancelled before it started
            auto *timer = new QTimer(this);
            timer->setInterval(interval);
            connect(timer, &QTimer::timeout, this, [this, id, task] {
                {
                    // A timeout already queued when the timer was cancelled does nothing.
                    std::lock_guard lock(mutex_);
                    if (!timers_.count(id)) return;
                }
                task();
            });
            timer->start();
            it->second = timer;
        },
        Qt::QueuedConnection);
    return id;
}

void QtExecutor::cancelTimer(platform::TimerId id) {
    std::lock_guard lock(mutex_);
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    if (QTimer *timer = it->second) {
        QPointer<QTimer> guarded(timer);
        QMetaObject::invokeMethod(
            this,
            [guarded] {
                if (guarded) {
                    guarded->stop();
                    guarded->deleteLater();
                }
            },
            Qt::QueuedConnection);
    }
    timers_.erase(it);
}

} // namespace qv::ui
