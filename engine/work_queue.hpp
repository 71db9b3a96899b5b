// A queue of work between threads that holds at most a fixed number of items:
// a producer that runs ahead waits, so the work in flight stays bounded.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace tarvelle {

template <class Item> class WorkQueue {
public:
    explicit WorkQueue(std::size_t capacity) : capacity_(capacity < 1 ? 1 : capacity) {}

    // Waits for room; false, and the item dropped, once the queue is closed.
    bool push(Item item)
    {
        std::unique_lock lock(mutex_);
        roomLeft_.wait(lock, [&] { return closed_ || items_.size() < capacity_; });
        if (closed_) {
            return false;
        }
        items_.push_back(std::move(item));
        lock.unlock();
        itemAdded_.notify_one();
        return true;
    }

    // Waits for an item; nothing once the queue is closed and empty.
    std::optional<Item> pop()
    {
        std::unique_lock lock(mutex_);
        itemAdded_.wait(lock, [&] { return closed_ || !items_.empty(); });
        if (items_.empty()) {
            return std::nullopt;
        }
        Item item = std::move(items_.front());
        items_.pop_front();
        lock.unlock();
        roomLeft_.notify_one();
        return item;
    }

    // No more pushes; what is queued is still popped.
    void close()
    {
        {
            const std::lock_guard lock(mutex_);
            closed_ = true;
        }
        itemAdded_.notify_all();
        roomLeft_.notify_all();
    }

private:
    std::size_t capacity_;
    std::deque<Item> items_;
    bool closed_ = false;
    std::mutex mutex_;
    std::condition_variable itemAdded_;
    std::condition_variable roomLeft_;
};

} // namespace tarvelle
