// A bench thread: runs the requests of one board in order and delivers their
// notifications. The thread keeps the worker alive, so the server may be torn
// down from inside one of its own jobs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace qel::bench {

class Worker : public std::enable_shared_from_this<Worker> {
  public:
    static std::shared_ptr<Worker> Start();
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void Post(std::function<void()> job);
    // Ends the thread after the job it runs; jobs not started are dropped.
    // Joins, or, when called on the worker's own thread, lets it finish alone.
    void Shutdown();
    // Waits out modelled time; false when the worker shuts down meanwhile.
    bool Sleep(std::chrono::nanoseconds d);
    // Returns once every job posted before the call has run.
    void Drain();

    bool OnThisThread() const { return std::this_thread::get_id() == id_; }
    // True on any bench thread.
    static bool OnAnyWorker();

  private:
    Worker() = default;
    void Loop();

    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    bool stop_ = false;
    std::atomic<size_t> queued_{0};
    std::thread thread_;
    std::thread::id id_;
};

}  // namespace qel::bench
