#include "engine/thread_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace tarvelle {
namespace {

TEST(ThreadPool, RunsEveryTaskOnTheThreadsItHas)
{
    for (const std::size_t threadCount : {std::size_t{0}, std::size_t{1}, std::size_t{16}}) {
        std::atomic<int> sum{0};
        std::atomic<int> onThisThread{0};
        const std::thread::id here = std::this_thread::get_id();
        {
            ThreadPool pool(threadCount, 4);
            EXPECT_EQ(pool.threadCount(), threadCount);
            for (int task = 1; task <= 1000; ++task) {
                pool.submit([&, task] {
                    sum += task;
                    onThisThread += std::this_thread::get_id() == here ? 1 : 0;
                });
            }
        } // the destructor runs what is queued and joins
        EXPECT_EQ(sum, 500500) << threadCount;
        EXPECT_EQ(onThisThread, threadCount == 0 ? 1000 : 0) << threadCount;
    }
}

TEST(ThreadPool, FinishPassesOnTheFirstErrorAfterEveryTaskRan)
{
    for (const std::size_t threadCount : {std::size_t{0}, std::size_t{8}}) {
        ThreadPool pool(threadCount, 2);
        std::atomic<int> ran{0};
        for (int task = 0; task < 100; ++task) {
            pool.submit([&, task] {
                ++ran;
                if (task % 10 == 3) {
                    throw std::runtime_error("task failed");
                }
            });
        }
        EXPECT_THROW(pool.finish(), std::runtime_error) << threadCount;
        EXPECT_EQ(ran, 100) << threadCount;
        // Held once: a second finish has nothing to say.
        EXPECT_NO_THROW(pool.finish());
    }
}

} // namespace
} // namespace tarvelle
