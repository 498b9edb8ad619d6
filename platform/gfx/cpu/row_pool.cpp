#include "platform/gfx/cpu/row_pool.h"

#include <algorithm>
#include <pthread.h>

namespace qv::platform::gfx::cpu {

namespace {
// Set while this thread runs a band, so that a nested run() executes inline.
thread_local bool insideBand = false;

// Marks this thread as inside a band for its lifetime, also when the band throws.
class InsideBand {
public:
    InsideBand() : outer_(insideBand) { insideBand = true; }
    ~InsideBand() { insideBand = outer_; }
    InsideBand(const InsideBand &) = delete;
    InsideBand &operator=(const InsideBand &) = delete;

private:
    bool outer_;
};

void runInline(int rows, const std::function<void(int, int)> &body) {
    InsideBand inside;
    body(0, rows);
}
} // namespace

RowBandPool::RowBandPool(int threads) {
    const int helpers = std::max(0, threads - 1);
    helpers_.reserve(static_cast<std::size_t>(helpers));
    for (int i = 0; i < helpers; ++i) {
        helpers_.emplace_back([this] {
            pthread_setname_np(pthread_self(), "qv-device-rows");
            helperLoop();
        });
    }
}

RowBandPool::~RowBandPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto &t : helpers_) t.join();
}

void RowBandPool::run(int rows, const std::function<void(int, int)> &body) {
    if (rows <= 0) return;
    if (insideBand || helpers_.empty() || rows == 1) {
        runInline(rows, body);
        return;
    }
    std::lock_guard call(callMutex_);
    Job job;
    job.body = &body;
    job.rows = rows;
    // A few bands per thread, pulled as threads come free, so that uneven rows (a chrome bar,
    // masked rows) do not leave one thread waiting for the other.
    job.bands = std::min(rows, threadCount() * 4);

    std::unique_lock lock(mutex_);
    job_ = &job;
    ++generation_;
    wake_.notify_all();
    work(job, lock);
    done_.wait(lock, [&] { return job.bandsDone == job.bands && job.active == 0; });
    job_ = nullptr;
    // Only now, with no helper left inside the job, may it go out of scope with an exception.
    if (job.failure) std::rethrow_exception(job.failure);
}

void RowBandPool::work(Job &job, std::unique_lock<std::mutex> &lock) {
    while (job.nextBand < job.bands) {
        const int band = job.nextBand++;
        // Bands differ by at most one row, in order, without gaps.
        const auto r0 = static_cast<int>(std::int64_t{job.rows} * band / job.bands);
        const auto r1 = static_cast<int>(std::int64_t{job.rows} * (band + 1) / job.bands);
        lock.unlock();
        std::exception_ptr failure;
        try {
            InsideBand inside;
            (*job.body)(r0, r1);
        } catch (...) {
            // Memory that ran out in a band, say: the caller hears of it, not std::terminate.
            failure = std::current_exception();
        }
        lock.lock();
        if (failure && !job.failure) job.failure = std::move(failure);
        ++job.bandsDone;
    }
    if (job.bandsDone == job.bands) done_.notify_all();
}

void RowBandPool::helperLoop() {
    std::unique_lock lock(mutex_);
    std::uint64_t seen = generation_;
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || (job_ != nullptr && generation_ != seen); });
        if (stopping_) return;
        seen = generation_;
        Job &job = *job_;
        ++job.active;
        work(job, lock);
        --job.active;
        if (job.active == 0) done_.notify_all();
    }
}

} // namespace qv::platform::gfx::cpu
