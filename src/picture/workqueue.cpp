#include "workqueue.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include <pthread.h>
#include <signal.h>

namespace work {

namespace {

// One job being run: its items are taken in order by whoever joins it.
struct Job {
    long long count = 0;
    const std::function<void(long long, int)>* task = nullptr;
    long long next = 0;      // the next item to take
    int joined = 0;          // runners that took part, the caller among them
    int wanted = 0;          // helpers still asked for
    int active = 0;          // runners at work on it now
    bool stopped = false;    // an exception ended the handing out
    std::exception_ptr thrown;
};

class Pool {
public:
    static Pool& shared() {
        // Never destroyed: its threads may still wait on it while the
        // process exits.
        static Pool* pool = new Pool;
        return *pool;
    }

    int limit() const { return limit_; }

    void run(long long count, int helpers, const std::function<void(long long, int)>& task) {
        if (count <= 0) return;
        Job job;
        job.count = count;
        job.task = &task;
        job.joined = 1;
        job.active = 1;
        helpers = helpers < 0 ? limit_ : std::min(helpers, limit_);
        helpers = static_cast<int>(std::min<long long>(helpers, count - 1));
        if (helpers > 0) {
            start(helpers);
            std::lock_guard<std::mutex> lock(mutex_);
            job.wanted = std::min(helpers, started_);
            if (job.wanted > 0) {
                jobs_.push_back(&job);
                wake_.notify_all();
            }
        }
        work(job, 0);
        std::unique_lock<std::mutex> lock(mutex_);
        // Helpers that have not joined yet never will.
        jobs_.erase(std::remove(jobs_.begin(), jobs_.end(), &job), jobs_.end());
        --job.active;
        done_.wait(lock, [&] { return job.active == 0; });
        if (job.thrown) std::rethrow_exception(job.thrown);
    }

private:
    Pool() {
        const unsigned cores = std::thread::hardware_concurrency();
        limit_ = static_cast<int>(std::max(1u, std::min(cores == 0 ? 1u : cores, 8u)));
    }

    // Starts threads up to `n`, as many as can be; a thread that cannot
    // start is not tried again.
    void start(int n) {
        std::lock_guard<std::mutex> lock(mutex_);
        while (started_ < n && !refused_) {
            pthread_attr_t attributes;
            if (::pthread_attr_init(&attributes) != 0) {
                refused_ = true;
                break;
            }
            ::pthread_attr_setstacksize(&attributes, std::size_t(1) << 20);
            ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
            // The threads leave signals to the thread that handed out the
            // work: the tools' signal handling stays on the main thread.
            sigset_t all, old;
            sigfillset(&all);
            ::pthread_sigmask(SIG_SETMASK, &all, &old);
            pthread_t thread;
            const int r = ::pthread_create(&thread, &attributes, &Pool::threadMain, this);
            ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
            ::pthread_attr_destroy(&attributes);
            if (r != 0) {
                refused_ = true;
                break;
            }
            ++started_;
        }
    }

    static void* threadMain(void* self) {
        static_cast<Pool*>(self)->serve();
        return nullptr;
    }

    void serve() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return !jobs_.empty(); });
            Job& job = *jobs_.front();
            const int runner = job.joined++;
            ++job.active;
            if (--job.wanted == 0) jobs_.pop_front();
            lock.unlock();
            work(job, runner);
            lock.lock();
            if (--job.active == 0) done_.notify_all();
        }
    }

    // Takes items until none is left or the job stopped.
    void work(Job& job, int runner) {
        for (;;) {
            long long item;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (job.stopped || job.next >= job.count) return;
                item = job.next++;
            }
            try {
                (*job.task)(item, runner);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!job.thrown) job.thrown = std::current_exception();
                job.stopped = true;
                return;
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<Job*> jobs_;
    int limit_ = 1;
    int started_ = 0;
    bool refused_ = false;
};

}  // namespace

void run(long long count, int helpers, const std::function<void(long long, int)>& task) {
    Pool::shared().run(count, helpers, task);
}

int threadCount() { return Pool::shared().limit(); }

}  // namespace work
