// In a file of its own: where the compiler can see these operators inlined
// into a new-expression, GCC takes their malloc and free for a mismatch.
#include "support/failing_allocator.hpp"

#include <cstdlib>
#include <new>

namespace tarvelle::testing {

std::atomic<long> allocationsBeforeFailure = -1;
std::atomic<bool> allocationFailed = false;

} // namespace tarvelle::testing

void* operator new(std::size_t size)
{
    using namespace tarvelle::testing;
    // One allocation takes the count to 0 and fails, whichever thread it is on.
    long left = allocationsBeforeFailure.load();
    while (left >= 0 && !allocationsBeforeFailure.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 0) {
        allocationFailed = true;
        throw std::bad_alloc();
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

// The library's temporary buffers (std::stable_sort) take the nothrow form,
// and give it back through the deletes above: it must come from malloc too.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete(void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}
