// A fixed set of threads that take tasks from a bounded queue, with the first
// error any task threw kept for the owner. The destructor finishes the queued
// tasks and joins, so no thread outlives the pool whatever leaves the scope.
#pragma once

#include "engine/work_queue.hpp"

#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tarvelle {

// The first exception of several threads, kept until asked for.
class ErrorHolder {
public:
    void hold(std::exception_ptr error);
    // Throws the kept exception, if any.
    void rethrow();

private:
    std::mutex mutex_;
    std::exception_ptr error_;
};

class ThreadPool {
public:
    using Task = std::function<void()>;

    // Up to threadCount threads (fewer where the system gives fewer, none for
    // 0); at most queueCapacity tasks wait at once.
    ThreadPool(std::size_t threadCount, std::size_t queueCapacity);
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;
    ~ThreadPool();

    std::size_t threadCount() const { return threads_.size(); }

    // Queued for a thread, waiting while the queue is full; run here and now
    // when the pool has no thread.
    void submit(Task task);

    // Waits for every task submitted, then throws the first error one threw.
    void finish();

private:
    void work();
    void join();

    WorkQueue<Task> queue_;
    ErrorHolder errors_;
    std::vector<std::thread> threads_;
};

} // namespace tarvelle
