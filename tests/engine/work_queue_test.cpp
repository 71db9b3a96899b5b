#include "engine/work_queue.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace tarvelle {
namespace {

// Many producers and consumers: every item arrives once, and the queue never
// holds more than its capacity.
TEST(WorkQueue, ManyThreadsPassEveryItemOnceWithinTheBound)
{
    for (const std::size_t capacity : {std::size_t{1}, std::size_t{3}, std::size_t{64}}) {
        constexpr int producerCount = 8;
        constexpr int itemsEach = 2000;
        constexpr int consumerCount = 8;
        WorkQueue<int> queue(capacity);
        std::atomic<int> inQueue{0};
        std::atomic<int> mostInQueue{0};
        std::vector<std::atomic<int>> seen(producerCount * itemsEach);
        std::vector<std::thread> consumers;
        for (int consumer = 0; consumer < consumerCount; ++consumer) {
            consumers.emplace_back([&] {
                while (std::optional<int> item = queue.pop()) {
                    --inQueue;
                    ++seen[static_cast<std::size_t>(*item)];
                }
            });
        }
        std::vector<std::thread> producers;
        for (int producer = 0; producer < producerCount; ++producer) {
            producers.emplace_back([&, producer] {
                for (int item = 0; item < itemsEach; ++item) {
                    // Counted before the push: a consumer may take it at once.
                    const int now = ++inQueue;
                    int most = mostInQueue.load();
                    while (now > most && !mostInQueue.compare_exchange_weak(most, now)) {
                    }
                    ASSERT_TRUE(queue.push(producer * itemsEach + item));
                }
            });
        }
        for (std::thread& producer : producers) {
            producer.join();
        }
        queue.close();
        for (std::thread& consumer : consumers) {
            consumer.join();
        }
        EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](const auto& count) { return count == 1; }));
        // Each producer may have counted an item it is still waiting to push,
        // each consumer one it took and has not yet counted off.
        EXPECT_LE(mostInQueue.load(), static_cast<int>(capacity) + producerCount + consumerCount) << capacity;
    }
}

TEST(WorkQueue, ClosingWakesWaitersAndKeepsWhatIsQueued)
{
    WorkQueue<int> queue(1);
    ASSERT_TRUE(queue.push(1));
    std::thread blockedProducer([&] { EXPECT_FALSE(queue.push(2)); });
    WorkQueue<int> empty(1);
    std::thread blockedConsumer([&] { EXPECT_EQ(empty.pop(), std::nullopt); });
    queue.close();
    empty.close();
    blockedProducer.join();
    blockedConsumer.join();
    EXPECT_EQ(queue.pop(), 1);
    EXPECT_EQ(queue.pop(), std::nullopt);
}

} // namespace
} // namespace tarvelle
