// How much memory the system can still give: platform code, one source file
// per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tarvelle {

// Memory the system reports as available to a new allocation, if it says.
std::optional<std::uint64_t> availableMemoryBytes();

} // namespace tarvelle
