#include "platform/large_memory.hpp"

#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>

namespace tarvelle {

namespace {

constexpr std::size_t hugePageBytes = std::size_t{2} << 20;

} // namespace

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

void* allocateLargeBlock(std::size_t byteCount)
{
    if (byteCount < hugePageBytes) {
        return std::malloc(byteCount == 0 ? 1 : byteCount);
    }
    const std::size_t roundedBytes = (byteCount + hugePageBytes - 1) / hugePageBytes * hugePageBytes;
    void* block = std::aligned_alloc(hugePageBytes, roundedBytes);
    if (block == nullptr) {
        return nullptr;
    }
#ifdef MADV_HUGEPAGE
    // Advice only: where huge pages are off or unknown, small pages serve.
    ::madvise(block, roundedBytes, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    // All pages in one call rather than one fault at a time.
    ::madvise(block, roundedBytes, MADV_POPULATE_WRITE);
#endif
    return block;
}

void freeLargeBlock(void* block)
{
    std::free(block);
}

} // namespace tarvelle
