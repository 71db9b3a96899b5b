// Memory for the run's samples, hundreds of megabytes at once: platform code,
// one source file per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tarvelle {

// Memory the system reports as available to a new allocation, if it says.
std::optional<std::uint64_t> availableMemoryBytes();

// A block of at least byteCount bytes, ready to be written, or nullptr when
// it cannot be had. Large blocks are backed by huge pages where the system
// offers them: the first touch of every small page is what a long file
// otherwise spends most of its loading time on.
void* allocateLargeBlock(std::size_t byteCount);
void freeLargeBlock(void* block);

} // namespace tarvelle
