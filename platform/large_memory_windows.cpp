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

} // namespace tarvelle
