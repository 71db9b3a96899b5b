// The test program's operator new, which can be made to fail at a chosen
// allocation, to show what a run does when memory runs out part way.
#pragma once

namespace tarvelle::testing {

// Allocations to let through before one fails; negative: none fails.
extern long allocationsBeforeFailure;
// Set when an allocation was made to fail.
extern bool allocationFailed;

} // namespace tarvelle::testing
