#include "engine/file_budget.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tarvelle {
namespace {

// Many jobs taking shares of different sizes never hold more than the budget
// together, and none waits for ever.
TEST(FileBudget, SharesTogetherStayWithinTheBudget)
{
    constexpr std::size_t budgetFiles = 20;
    FileBudget budget(budgetFiles);
    std::atomic<std::size_t> held{0};
    std::atomic<std::size_t> mostHeld{0};
    std::vector<std::thread> jobs;
    for (std::size_t job = 0; job < 32; ++job) {
        jobs.emplace_back([&, job] {
            for (int round = 0; round < 200; ++round) {
                // A share larger than the budget is cut to it rather than never given.
                FileBudget::Share share = budget.take(job % 3 == 0 ? budgetFiles + 5 : 1 + job % 14);
                const std::size_t now = held += share.fileCount();
                std::size_t most = mostHeld.load();
                while (now > most && !mostHeld.compare_exchange_weak(most, now)) {
                }
                held -= share.fileCount();
            }
        });
    }
    for (std::thread& job : jobs) {
        job.join();
    }
    EXPECT_LE(mostHeld.load(), budgetFiles);
    EXPECT_GT(mostHeld.load(), 0u);
    // Every share came back.
    EXPECT_EQ(budget.take(budgetFiles).fileCount(), budgetFiles);
}

} // namespace
} // namespace tarvelle
