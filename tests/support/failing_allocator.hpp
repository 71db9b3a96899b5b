// The test program's operator new, which can be made to fail at a chosen
// allocation, to show what a run does when memory runs out part way.
#pragma once

#include <atomic>

namespace tarvelle::testing {

// Atomic: the program's threads allocate too.
// Allocations to let through before one fails; negative: none fails.
extern std::atomic<long> allocationsBeforeFailure;
// Set when an allocation was made to fail.
extern std::atomic<bool> allocationFailed;

} // namespace tarvelle::testing
