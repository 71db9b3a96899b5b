#include "engine/scheduler.hpp"

#include <gtest/gtest.h>

namespace tarvelle {
namespace {

using Indices = std::vector<std::size_t>;

TEST(PlanReads, SpreadsTheAnalysesSoThatBothReadsEndSoonest)
{
    const struct {
        const char* mode;
        std::vector<AnalysisCost> analyses;
        ReadPlan::Threads firstRead;
        ReadPlan::Threads secondRead;
    } cases[] = {
        // Two halves of the levels, one a thread; thread 0 also takes the peak again.
        {"levels", {{true, 3}, {true, 3}}, {}, {Indices{1}, Indices{0}}},
        // The loudness outweighs the peak: it goes beside the check in the
        // second read, and the first read stays the peak in halves.
        {"check, loudness", {{false, 8}, {true, 2}}, {}, {Indices{0}, Indices{1}}},
        // A check that needs no peak runs beside it, the loudness on the other
        // thread, and there is no second read.
        {"check without peak, loudness", {{false, 8}, {false, 2}}, {Indices{1}, Indices{0}}, {}},
        // Light enough to ride along with the peak rather than cost a second read.
        {"a cheap measure alone", {{false, 0.25}}, {Indices{}, Indices{0}}, {}},
        // A tie goes to the peak read: the second read also writes the clipped
        // files, which the costs leave out.
        {"a tie between the reads", {{false, 0.5}, {true, 1}}, {Indices{}, Indices{0}}, {Indices{}, Indices{1}}},
        {"nothing but the peak", {}, {}, {}},
    };
    for (const auto& planCase : cases) {
        const ReadPlan plan = planReads(planCase.analyses);
        EXPECT_EQ(plan.firstRead, planCase.firstRead) << planCase.mode;
        EXPECT_EQ(plan.secondRead, planCase.secondRead) << planCase.mode;
        const bool anySecond = !planCase.secondRead[0].empty() || !planCase.secondRead[1].empty();
        EXPECT_EQ(plan.secondReadNeeded, anySecond) << planCase.mode;
    }
}

} // namespace
} // namespace tarvelle
