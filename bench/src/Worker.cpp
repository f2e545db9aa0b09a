#include "Worker.h"

#include <pthread.h>

namespace qel::bench {

namespace {
// Marks the threads that run a worker's loop. A pthread key rather than
// thread-local storage: this library may be loaded and unloaded at run time,
// and dynamic thread-local storage outliving it trips up the leak checker at
// exit. Nothing to free either, so a worker that shut itself down may end
// after exit's destructors.
pthread_key_t WorkerKey() {
    static const pthread_key_t key = [] {
        pthread_key_t made{};
        pthread_key_create(&made, nullptr);
        return made;
    }();
    return key;
}

// A client that polls for completion gets its next request in quickly; a
// short spin before parking saves the thread wake-up on each of them.
constexpr auto kSpin = std::chrono::microseconds(50);
}  // namespace

std::shared_ptr<Worker> Worker::Start() {
    std::shared_ptr<Worker> w(new Worker());
    std::lock_guard lock(w->mu_);
    w->thread_ = std::thread([self = w] { self->Loop(); });
    w->id_ = w->thread_.get_id();
    return w;
}

Worker::~Worker() {
    // Only reached once the thread is gone (joined, or ended after a detach).
    if (thread_.joinable())
        thread_.detach();
}

bool Worker::OnAnyWorker() {
    return pthread_getspecific(WorkerKey()) != nullptr;
}

void Worker::Post(std::function<void()> job) {
    {
        std::lock_guard lock(mu_);
        if (stop_)
            return;
        queue_.push_back(std::move(job));
        queued_.fetch_add(1, std::memory_order_release);
    }
    cv_.notify_one();
}

void Worker::Loop() {
    pthread_setspecific(WorkerKey(), this);
    {
        // Start() publishes id_ under the lock.
        std::lock_guard lock(mu_);
    }
    while (true) {
        std::function<void()> job;
        {
            std::unique_lock lock(mu_);
            if (queue_.empty() && !stop_) {
                lock.unlock();
                const auto until = std::chrono::steady_clock::now() + kSpin;
                while (queued_.load(std::memory_order_acquire) == 0 &&
                       std::chrono::steady_clock::now() < until)
                    std::this_thread::yield();
                lock.lock();
            }
            cv_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (stop_)
                break;
            job = std::move(queue_.front());
            queue_.pop_front();
            queued_.fetch_sub(1, std::memory_order_relaxed);
        }
        job();
        // The job (and what it holds) is gone before the next look at the queue.
        job = nullptr;
    }
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mu_);
        dropped.swap(queue_);
    }
}

void Worker::Shutdown() {
    {
        std::lock_guard lock(mu_);
        stop_ = true;
    }
    cv_.notify_all();
    if (OnThisThread()) {
        thread_.detach();
        return;
    }
    if (thread_.joinable())
        thread_.join();
}

bool Worker::Sleep(std::chrono::nanoseconds d) {
    std::unique_lock lock(mu_);
    if (d.count() > 0)
        cv_.wait_for(lock, d, [&] { return stop_; });
    return !stop_;
}

void Worker::Drain() {
    struct Barrier {
        std::mutex mu;
        std::condition_variable cv;
        bool done = false;
    };
    // Signals when the job has run or was dropped by a shutdown.
    struct Signal {
        std::shared_ptr<Barrier> b;
        ~Signal() {
            std::lock_guard l(b->mu);
            b->done = true;
            b->cv.notify_all();
        }
    };
    auto b = std::make_shared<Barrier>();
    {
        auto signal = std::shared_ptr<Signal>(new Signal{b});
        std::lock_guard lock(mu_);
        if (stop_)
            return;
        queue_.push_back([signal] {});
        queued_.fetch_add(1, std::memory_order_release);
    }
    cv_.notify_one();
    std::unique_lock lock(b->mu);
    b->cv.wait(lock, [&] { return b->done; });
}

}  // namespace qel::bench
