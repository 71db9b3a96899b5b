// Turns the bytes a terminal sends into key events. Pure: fed bytes, it yields
// keys, so it is tested without a terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarvelle::console {

enum class KeyKind {
    Character, // a printable character; bytes holds it as typed (one to four UTF-8 bytes)
    Enter,
    Backspace,
    Ignored, // control characters, Esc, Alt combinations, cursor and function keys
};

struct Key {
    KeyKind kind = KeyKind::Ignored;
    std::string bytes;
};

struct DecodedKey {
    Key key;
    std::size_t bytesUsed = 0;
};

// Decodes the first key at the start of bytes. nullopt when the bytes are the
// beginning of a longer sequence that has not fully arrived; with
// inputPaused (nothing more came within a short wait) such a prefix is
// decoded as far as it goes instead, a lone Esc becoming an ignored key.
std::optional<DecodedKey> decodeKey(std::span<const std::uint8_t> bytes, bool inputPaused);

} // namespace tarvelle::console
