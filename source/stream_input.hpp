// A stream read once, in order (standard input): its first bytes kept, so
// that its header is walked as a file's is, then the rest passed on as it
// comes, none of it kept.
#pragma once

#include "wav/wave_layout.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace tarvelle {

class StreamInput final : public ByteSource {
public:
    // Up to buffer.size() bytes, 0 at the end; nullopt on a read error.
    using Read = std::function<std::optional<std::size_t>(std::span<std::uint8_t> buffer)>;
    // Bytes kept at most: chunks before the audio are seldom more than a few KiB.
    static constexpr std::size_t maxKeptBytes = std::size_t{16} << 20;

    explicit StreamInput(Read read) : read_(std::move(read)) {}

    // Not known: as large as a file could be.
    std::uint64_t size() const override;
    // From the start kept, read on as far as asked; nullopt past maxKeptBytes
    // too (keptTooMuch tells) or once readOn has passed offset.
    std::optional<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const override;
    bool keptTooMuch() const { return keptTooMuch_; }

    // The next bytes from first on (the first call's first; later calls go on
    // where the last ended), the kept ones first: fewer than asked only at
    // the end; nullopt on a read error.
    std::optional<std::size_t> readOn(std::uint64_t first, std::span<std::uint8_t> buffer);
    // As readOn, from offset: on from the last read, a skip forward, or back
    // into the kept bytes while the reads have not passed them; nullopt for
    // bytes gone by.
    std::optional<std::size_t> readFrom(std::uint64_t offset, std::span<std::uint8_t> buffer);
    bool goneBy(std::uint64_t offset) const { return position_ && offset >= kept_.size() && offset < streamed_; }

    // Every byte read so far, while only readAt has read: spooled, they and
    // the rest make the whole stream.
    std::span<const std::uint8_t> kept() const { return kept_; }
    // The rest of the stream, after kept().
    std::optional<std::size_t> readRest(std::span<std::uint8_t> buffer) { return read_(buffer); }

private:
    // Fills buffer from the stream as far as it goes.
    std::optional<std::size_t> readFully(std::span<std::uint8_t> buffer) const;

    Read read_;
    mutable std::vector<std::uint8_t> kept_;
    mutable bool ended_ = false;
    mutable bool keptTooMuch_ = false;
    std::optional<std::uint64_t> position_; // where readOn goes on from
    std::uint64_t streamed_ = 0;            // bytes taken from the stream by readOn
};

} // namespace tarvelle
