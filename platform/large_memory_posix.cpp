#include "platform/large_memory.hpp"

#include <cstdio>

namespace tarvelle {

std::optional<std::uint64_t> availableMemoryBytes()
{
    std::FILE* meminfo = std::fopen("/proc/meminfo", "r");
    if (meminfo == nullptr) {
        return std::nullopt;
    }
    std::optional<std::uint64_t> available;
    char line[256];
    while (std::fgets(line, sizeof line, meminfo) != nullptr) {
        unsigned long long kibibytes = 0;
        if (std::sscanf(line, "MemAvailable: %llu kB", &kibibytes) == 1) {
            available = static_cast<std::uint64_t>(kibibytes) * 1024;
            break;
        }
    }
    std::fclose(meminfo);
    return available;
}

} // namespace tarvelle
