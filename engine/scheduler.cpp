#include "engine/scheduler.hpp"

#include <algorithm>
#include <numeric>

namespace tarvelle {

namespace {

using Loads = std::array<double, maxReadThreads>;

std::size_t leastLoaded(const Loads& loads)
{
    return static_cast<std::size_t>(std::min_element(loads.begin(), loads.end()) - loads.begin());
}

double busiest(const Loads& loads)
{
    return *std::max_element(loads.begin(), loads.end());
}

// How long the first read lasts: the peak alone splits over the threads.
double firstReadLength(const Loads& loads, bool alone)
{
    return alone ? 1.0 / static_cast<double>(maxReadThreads) : busiest(loads);
}

} // namespace

ReadPlan planReads(std::span<const AnalysisCost> analyses)
{
    ReadPlan plan;
    std::vector<std::size_t> order(analyses.size());
    std::iota(order.begin(), order.end(), 0);
    // The costliest first, each onto the least busy thread.
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return analyses[a].cost != analyses[b].cost ? analyses[a].cost > analyses[b].cost : a < b;
    });
    Loads first{1.0, 0.0};
    Loads second{1.0, 0.0};
    bool firstAlone = true;
    for (const std::size_t index : order) {
        if (!analyses[index].needsPeak) {
            continue;
        }
        const std::size_t thread = leastLoaded(second);
        second[thread] += analyses[index].cost;
        plan.secondRead[thread].push_back(index);
        plan.secondReadNeeded = true;
    }
    for (const std::size_t index : order) {
        if (analyses[index].needsPeak) {
            continue;
        }
        const double cost = analyses[index].cost;
        const std::size_t firstThread = leastLoaded(first);
        const std::size_t secondThread = leastLoaded(second);
        Loads inFirst = first;
        inFirst[firstThread] += cost;
        Loads inSecond = second;
        inSecond[secondThread] += cost;
        const double secondNow = plan.secondReadNeeded ? busiest(second) : 0.0;
        const double withFirst = busiest(inFirst) + secondNow;
        const double withSecond = firstReadLength(first, firstAlone) + busiest(inSecond);
        if (withFirst <= withSecond) {
            first = inFirst;
            firstAlone = false;
            plan.firstRead[firstThread].push_back(index);
        } else {
            second = inSecond;
            plan.secondReadNeeded = true;
            plan.secondRead[secondThread].push_back(index);
        }
    }
    // Each thread's analyses in the order they were picked, so that they finish in that order.
    for (auto* threads : {&plan.firstRead, &plan.secondRead}) {
        for (std::vector<std::size_t>& thread : *threads) {
            std::sort(thread.begin(), thread.end());
        }
    }
    return plan;
}

} // namespace tarvelle
