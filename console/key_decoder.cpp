#include "console/key_decoder.hpp"

#include "console/utf8.hpp"

namespace tarvelle::console {

namespace {

constexpr std::uint8_t escapeByte = 0x1B;
constexpr std::uint8_t deleteByte = 0x7F;
constexpr std::uint8_t backspaceByte = 0x08;
constexpr std::uint8_t carriageReturn = '\r';
constexpr std::uint8_t lineFeed = '\n';

DecodedKey makeKey(KeyKind kind, std::span<const std::uint8_t> bytes, std::size_t bytesUsed)
{
    DecodedKey decoded;
    decoded.key.kind = kind;
    decoded.key.bytes.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytesUsed));
    decoded.bytesUsed = bytesUsed;
    return decoded;
}

// What is left of a sequence when no more bytes will come: the part that
// arrived, ignored as a whole.
std::optional<DecodedKey> cutShort(std::span<const std::uint8_t> bytes, bool inputPaused)
{
    if (!inputPaused) {
        return std::nullopt;
    }
    return makeKey(KeyKind::Ignored, bytes, bytes.size());
}

// Bytes after the lead byte, or -1 for a byte that cannot start a character
// (a stray continuation byte, the overlong leads C0 and C1, F5 and above).
int continuationCount(std::uint8_t leadByte)
{
    if (leadByte >= 0xC2 && leadByte <= 0xDF) {
        return 1;
    }
    if (leadByte >= 0xE0 && leadByte <= 0xEF) {
        return 2;
    }
    if (leadByte >= 0xF0 && leadByte <= 0xF4) {
        return 3;
    }
    return -1;
}

// The second byte has a narrower range after some leads: this rules out
// overlong forms, UTF-16 surrogates and code points above U+10FFFF.
bool secondByteFits(std::uint8_t leadByte, std::uint8_t secondByte)
{
    switch (leadByte) {
    case 0xE0:
        return secondByte >= 0xA0 && secondByte <= 0xBF;
    case 0xED:
        return secondByte >= 0x80 && secondByte <= 0x9F;
    case 0xF0:
        return secondByte >= 0x90 && secondByte <= 0xBF;
    case 0xF4:
        return secondByte >= 0x80 && secondByte <= 0x8F;
    default:
        return isUtf8Continuation(static_cast<char>(secondByte));
    }
}

// One UTF-8 character starting at offset. An invalid or cut-off character is
// ignored as far as it is malformed, so the byte that breaks it starts the next key.
std::optional<DecodedKey> decodeUtf8(std::span<const std::uint8_t> bytes, std::size_t offset, bool inputPaused)
{
    const std::uint8_t leadByte = bytes[offset];
    const int expected = continuationCount(leadByte);
    if (expected < 0) {
        return makeKey(KeyKind::Ignored, bytes, offset + 1);
    }
    const std::size_t characterEnd = offset + 1 + static_cast<std::size_t>(expected);
    for (std::size_t index = offset + 1; index < characterEnd; ++index) {
        if (index >= bytes.size()) {
            return cutShort(bytes, inputPaused);
        }
        const bool fits = index == offset + 1 ? secondByteFits(leadByte, bytes[index])
                                              : isUtf8Continuation(static_cast<char>(bytes[index]));
        if (!fits) {
            return makeKey(KeyKind::Ignored, bytes, index);
        }
    }
    // U+0080 to U+009F are the C1 control codes: some terminals act on them,
    // so they are not echoed.
    const bool isC1Control = leadByte == 0xC2 && bytes[offset + 1] <= 0x9F;
    if (offset > 0 || isC1Control) {
        return makeKey(KeyKind::Ignored, bytes, characterEnd);
    }
    return makeKey(KeyKind::Character, bytes, characterEnd);
}

// CSI: ESC [, parameter bytes 0x30-0x3F, intermediate bytes 0x20-0x2F, one
// final byte 0x40-0x7E. The Linux console sends F1 to F5 as ESC [ [ A to E.
std::optional<DecodedKey> decodeControlSequence(std::span<const std::uint8_t> bytes, bool inputPaused)
{
    if (bytes.size() > 2 && bytes[2] == '[') {
        if (bytes.size() < 4) {
            return cutShort(bytes, inputPaused);
        }
        return makeKey(KeyKind::Ignored, bytes, 4);
    }
    for (std::size_t index = 2; index < bytes.size(); ++index) {
        const std::uint8_t byte = bytes[index];
        if (byte >= 0x40 && byte <= 0x7E) {
            return makeKey(KeyKind::Ignored, bytes, index + 1);
        }
        if (byte < 0x20 || byte > 0x3F) {
            // Not a sequence after all: drop what was read of it, keep the odd byte.
            return makeKey(KeyKind::Ignored, bytes, index);
        }
    }
    return cutShort(bytes, inputPaused);
}

// SS3: ESC O and one final byte (keypad cursor keys, F1 to F4); some
// terminals put a modifier digit before the final byte.
std::optional<DecodedKey> decodeSingleShift(std::span<const std::uint8_t> bytes, bool inputPaused)
{
    for (std::size_t index = 2; index < bytes.size(); ++index) {
        const std::uint8_t byte = bytes[index];
        if (byte >= 0x40 && byte <= 0x7E) {
            return makeKey(KeyKind::Ignored, bytes, index + 1);
        }
        if (!(byte >= '0' && byte <= '9') && byte != ';') {
            return makeKey(KeyKind::Ignored, bytes, index);
        }
    }
    return cutShort(bytes, inputPaused);
}

std::optional<DecodedKey> decodeEscape(std::span<const std::uint8_t> bytes, bool inputPaused)
{
    if (bytes.size() == 1) {
        return cutShort(bytes, inputPaused); // a lone Esc, once nothing follows
    }
    const std::uint8_t next = bytes[1];
    if (next == '[') {
        return decodeControlSequence(bytes, inputPaused);
    }
    if (next == 'O') {
        // Alt+O is ESC O alone; a key sequence continues at once.
        if (bytes.size() == 2) {
            return cutShort(bytes, inputPaused);
        }
        return decodeSingleShift(bytes, inputPaused);
    }
    if (next == escapeByte) {
        // Esc, then a second Esc that may begin an Alt+cursor-key sequence.
        return makeKey(KeyKind::Ignored, bytes, 1);
    }
    if (next < 0x80) {
        return makeKey(KeyKind::Ignored, bytes, 2); // Alt with an ASCII key, Alt+Backspace, Alt+Enter
    }
    // Alt with a non-ASCII character: ignored as a whole.
    return decodeUtf8(bytes, 1, inputPaused);
}

} // namespace

std::optional<DecodedKey> decodeKey(std::span<const std::uint8_t> bytes, bool inputPaused)
{
    if (bytes.empty()) {
        return std::nullopt;
    }
    const std::uint8_t first = bytes[0];
    if (first == escapeByte) {
        return decodeEscape(bytes, inputPaused);
    }
    if (first == carriageReturn) {
        // CR LF arriving together is one Enter.
        const bool withLineFeed = bytes.size() > 1 && bytes[1] == lineFeed;
        return makeKey(KeyKind::Enter, bytes, withLineFeed ? 2 : 1);
    }
    if (first == lineFeed) {
        return makeKey(KeyKind::Enter, bytes, 1);
    }
    if (first == deleteByte || first == backspaceByte) {
        return makeKey(KeyKind::Backspace, bytes, 1);
    }
    if (first < 0x20) {
        return makeKey(KeyKind::Ignored, bytes, 1);
    }
    if (first < 0x80) {
        return makeKey(KeyKind::Character, bytes, 1);
    }
    return decodeUtf8(bytes, 0, inputPaused);
}

} // namespace tarvelle::console
