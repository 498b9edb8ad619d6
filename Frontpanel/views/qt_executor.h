// The libraries' "main thread" on Qt's event loop: tasks posted from any thread run on the thread
// that owns the executor (the GUI thread), timers are QTimers there.
// Thread safety: post, scheduleRepeating and cancelTimer may be called from any thread.
// Lifetime: tasks still queued when the executor is destroyed are dropped without running.
#pragma once

#include "platform/core/executor.h"

#include <QObject>

#include <map>
#include <memory>
#include <mutex>

class QTimer;

namespace qv::ui {

class QtExecutor final : public QObject, public platform::Executor {
    Q_OBJECT
public:
    explicit QtExecutor(QObject *parent = nullptr);
    ~QtExecutor() override;

    void post(std::function<void()> task) override;
    platform::TimerId scheduleRepeating(std::chrono::milliseconds interval,
                                        std::function<void()> task) override;
    void cancelTimer(platform::TimerId id) override;

private:
    std::mutex mutex_;
    std::map<platform::TimerId, QTimer *> timers_; // owned by this object (Qt parent)
    platform::TimerId nextTimer_ = 1;
};

} // namespace qv::ui
