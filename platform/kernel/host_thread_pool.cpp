#include "host_thread_pool.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace host {

namespace {

// One host thread: runs a body, then parks until it is handed the next.
struct Worker {
    std::condition_variable handed;
    std::function<void()> body;
    std::promise<void> done;
};

class HostThreadPool {
public:
    std::future<void> Run(std::function<void()> body)
    {
        std::unique_lock<std::mutex> held(lock_);
        if (parked_.empty()) {
            auto worker = std::make_unique<Worker>();
            std::future<void> done = Give(*worker, std::move(body));
            held.unlock();
            std::thread([this, owned = worker.release()] { Serve(owned); }).detach();
            return done;
        }
        Worker *worker = parked_.back();
        parked_.pop_back();
        std::future<void> done = Give(*worker, std::move(body));
        worker->handed.notify_one();
        return done;
    }

private:
    static std::future<void> Give(Worker &worker, std::function<void()> body)
    {
        worker.body = std::move(body);
        worker.done = std::promise<void>();
        return worker.done.get_future();
    }

    void Serve(Worker *worker)
    {
        std::unique_lock<std::mutex> held(lock_);
        for (;;) {
            std::function<void()> body = std::move(worker->body);
            worker->body = nullptr;
            std::promise<void> done = std::move(worker->done);
            held.unlock();
            body();
            // The body's captures go before whoever waits is told it is over.
            body = nullptr;
            done.set_value();
            held.lock();
            if (parked_.size() >= kMaximumParked) {
                held.unlock();
                delete worker;
                return;
            }
            parked_.push_back(worker);
            worker->handed.wait(held, [worker] { return worker->body != nullptr; });
        }
    }

    // Enough for the service, system and user threads of a machine or two.
    static constexpr size_t kMaximumParked = 32;
    std::mutex lock_;
    std::vector<Worker *> parked_;
};

} // namespace

std::future<void> RunOnHostThread(std::function<void()> body)
{
    static HostThreadPool *pool = new HostThreadPool; // parked threads outlive every machine
    return pool->Run(std::move(body));
}

} // namespace host
