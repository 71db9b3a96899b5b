// In a file of its own: where the compiler can see these operators inlined
// into a new-expression, GCC takes their malloc and free for a mismatch.
#include "support/failing_allocator.hpp"

#include <cstdlib>
#include <new>

namespace tarvelle::testing {

long allocationsBeforeFailure = -1;
bool allocationFailed = false;

} // namespace tarvelle::testing

void* operator new(std::size_t size)
{
    using namespace tarvelle::testing;
    if (allocationsBeforeFailure == 0) {
        allocationsBeforeFailure = -1;
        allocationFailed = true;
        throw std::bad_alloc();
    }
    if (allocationsBeforeFailure > 0) {
        --allocationsBeforeFailure;
    }
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}
