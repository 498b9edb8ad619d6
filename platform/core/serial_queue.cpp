#include "platform/core/serial_queue.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace qv::platform {

namespace {
constexpr std::size_t maxThreadNameLength = 15; // plus the terminating zero
constexpr int backgroundNiceness = 10;
} // namespace

// Owned jointly with the thread, so that a queue destroyed by one of its own tasks still drains.
struct SerialQueue::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    bool stopping = false;
    std::thread thread;
    std::thread::id threadId;

    static void loop(const std::shared_ptr<Shared> &self) {
        std::unique_lock lock(self->mutex);
        for (;;) {
            self->wake.wait(lock, [&] { return self->stopping || !self->tasks.empty(); });
            if (self->tasks.empty()) return;
            auto task = std::move(self->tasks.front());
            self->tasks.pop_front();
            lock.unlock();
            task();
            task = nullptr; // release captures before taking the lock again
            lock.lock();
        }
    }
};

std::string SerialQueue::threadNameForLabel(const std::string &label) {
    if (label.size() <= maxThreadNameLength) return label;
    return label.substr(label.size() - maxThreadNameLength);
}

SerialQueue::SerialQueue(std::string label, Priority priority)
    : label_(std::move(label)), priority_(priority), shared_(std::make_shared<Shared>()) {
    const std::string name = threadNameForLabel(label_);
    std::lock_guard lock(shared_->mutex);
    shared_->thread = std::thread([s = shared_, name, priority] {
        pthread_setname_np(pthread_self(), name.c_str());
        if (priority == Priority::background) {
            // Best effort: raising the niceness of one thread is always permitted on Linux.
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), backgroundNiceness);
        }
        Shared::loop(s);
    });
    shared_->threadId = shared_->thread.get_id();
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->wake.notify_all();
    if (isCurrent())
        shared_->thread.detach(); // the loop drains the rest and ends on its own
    else
        shared_->thread.join();
}

bool SerialQueue::isCurrent() const noexcept {
    return std::this_thread::get_id() == shared_->threadId;
}

void SerialQueue::async(std::function<void()> task) {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->tasks.push_back(std::move(task));
    }
    shared_->wake.notify_one();
}

void SerialQueue::sync(const std::function<void()> &task) {
    if (isCurrent()) {
        task();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    std::exception_ptr failure;
    async([&] {
        try {
            task();
        } catch (...) {
            failure = std::current_exception();
        }
        // Notify under the lock: the waiter's locals die as soon as it sees `done`.
        std::lock_guard lock(doneMutex);
        done = true;
        doneSignal.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
    if (failure) std::rethrow_exception(failure);
}

} // namespace qv::platform
