// Serial queues: one thread each, running tasks one at a time in the order they were queued.
//
// The thread is named after the label. Linux allows 15 characters, so the name is the label's
// last 15 characters, where labels like "com.quillvane.compositor" differ ("vane.compositor").
// Priority is a hint only: background queues lower their thread's scheduling priority (nice +10,
// which needs no privileges); the other priorities leave the thread as it is.
//
// Thread safety: async, sync, label and isCurrent may be called from any thread.
// Lifetime: the destructor runs the tasks already queued, then joins the thread. A task that
// throws from async() ends the process; sync() passes the exception to its caller.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace qv::platform {

class SerialQueue {
public:
    enum class Priority { userInitiated, utility, background };

    explicit SerialQueue(std::string label, Priority priority = Priority::userInitiated);
    ~SerialQueue();
    SerialQueue(const SerialQueue &) = delete;
    SerialQueue &operator=(const SerialQueue &) = delete;

    void async(std::function<void()> task);
    // Runs the task on the queue and waits for it. Called from the queue's own thread, it runs
    // the task inline, since waiting for itself would never end.
    void sync(const std::function<void()> &task);

    const std::string &label() const noexcept { return label_; }
    Priority priority() const noexcept { return priority_; }
    // True on the queue's own thread.
    bool isCurrent() const noexcept;

    // The thread name a label gets (its last 15 characters).
    static std::string threadNameForLabel(const std::string &label);

private:
    struct Shared;
    std::string label_;
    Priority priority_;
    std::shared_ptr<Shared> shared_;
};

} // namespace qv::platform
