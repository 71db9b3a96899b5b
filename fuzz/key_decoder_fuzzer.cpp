// Any bytes from a terminal: every key uses at least one byte and no more
// than it was given, so the reading loop always moves on and stays inside.
#include "console/key_decoder.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

void checkKey(const tarvelle::console::DecodedKey& decoded, std::size_t available)
{
    if (decoded.bytesUsed < 1 || decoded.bytesUsed > available) {
        __builtin_trap();
    }
    const std::size_t characterBytes = decoded.key.bytes.size();
    if (decoded.key.kind == tarvelle::console::KeyKind::Character && (characterBytes < 1 || characterBytes > 4)) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::span<const std::uint8_t> rest(data, size);
    while (!rest.empty()) {
        const auto waiting = tarvelle::console::decodeKey(rest, false);
        if (waiting) {
            checkKey(*waiting, rest.size());
        }
        // After a pause whatever has arrived is decoded.
        const auto paused = tarvelle::console::decodeKey(rest, true);
        if (!paused) {
            __builtin_trap();
        }
        checkKey(*paused, rest.size());
        rest = rest.subspan(paused->bytesUsed);
    }
    return 0;
}
