#include "engine/thread_pool.hpp"

#include <system_error>
#include <utility>

namespace tarvelle {

void ErrorHolder::hold(std::exception_ptr error)
{
    const std::lock_guard lock(mutex_);
    if (!error_) {
        error_ = std::move(error);
    }
}

void ErrorHolder::rethrow()
{
    std::exception_ptr error;
    {
        const std::lock_guard lock(mutex_);
        error = std::exchange(error_, nullptr);
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

ThreadPool::ThreadPool(std::size_t threadCount, std::size_t queueCapacity) : queue_(queueCapacity)
{
    try {
        while (threads_.size() < threadCount) {
            threads_.emplace_back([this] { work(); });
        }
    } catch (const std::system_error&) {
        // Fewer threads than asked for (a process limit) do the same work.
    }
}

ThreadPool::~ThreadPool()
{
    join();
}

void ThreadPool::submit(Task task)
{
    if (threads_.empty()) {
        try {
            task();
        } catch (...) {
            errors_.hold(std::current_exception());
        }
        return;
    }
    queue_.push(std::move(task));
}

void ThreadPool::finish()
{
    join();
    errors_.rethrow();
}

void ThreadPool::work()
{
    while (std::optional<Task> task = queue_.pop()) {
        try {
            (*task)();
        } catch (...) {
            errors_.hold(std::current_exception());
        }
    }
}

void ThreadPool::join()
{
    queue_.close();
    for (std::thread& thread : threads_) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    threads_.clear();
}

} // namespace tarvelle
