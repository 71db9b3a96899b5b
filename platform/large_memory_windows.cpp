#include "platform/large_memory.hpp"

#include <windows.h>

namespace tarvelle {

std::optional<std::uint64_t> availableMemoryBytes()
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (::GlobalMemoryStatusEx(&status) == 0) {
        return std::nullopt;
    }
    return status.ullAvailPhys;
}

// Large pages on Windows need a privilege users rarely hold; committed
// memory straight from the system is the next best.
void* allocateLargeBlock(std::size_t byteCount)
{
    return ::VirtualAlloc(nullptr, byteCount == 0 ? 1 : byteCount, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void freeLargeBlock(void* block)
{
    if (block != nullptr) {
        ::VirtualFree(block, 0, MEM_RELEASE);
    }
}

} // namespace tarvelle
