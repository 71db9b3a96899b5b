#include "source/stream_input.hpp"

#include <algorithm>
#include <array>
#include <limits>

namespace tarvelle {

std::uint64_t StreamInput::size() const
{
    return std::numeric_limits<std::uint64_t>::max() / 2;
}

std::optional<std::size_t> StreamInput::readFully(std::span<std::uint8_t> buffer) const
{
    std::size_t filled = 0;
    while (filled < buffer.size() && !ended_) {
        const std::optional<std::size_t> read = read_(buffer.subspan(filled));
        if (!read) {
            return std::nullopt;
        }
        ended_ = *read == 0;
        filled += *read;
    }
    return filled;
}

std::optional<std::size_t> StreamInput::readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const
{
    if (position_) {
        return std::nullopt; // gone by
    }
    const std::uint64_t wanted = offset + buffer.size();
    if (wanted > kept_.size() && !ended_) {
        if (wanted > maxKeptBytes) {
            keptTooMuch_ = true;
            return std::nullopt;
        }
        const std::size_t before = kept_.size();
        kept_.resize(static_cast<std::size_t>(wanted));
        const std::optional<std::size_t> read = readFully(std::span(kept_).subspan(before));
        kept_.resize(before + read.value_or(0));
        if (!read) {
            return std::nullopt;
        }
    }
    if (offset >= kept_.size()) {
        return 0;
    }
    const std::size_t count =
        std::min<std::size_t>(buffer.size(), kept_.size() - static_cast<std::size_t>(offset));
    std::copy_n(kept_.begin() + static_cast<std::ptrdiff_t>(offset), count, buffer.begin());
    return count;
}

std::optional<std::size_t> StreamInput::readOn(std::uint64_t first, std::span<std::uint8_t> buffer)
{
    return readFrom(position_.value_or(first), buffer);
}

std::optional<std::size_t> StreamInput::readFrom(std::uint64_t offset, std::span<std::uint8_t> buffer)
{
    if (!position_) {
        streamed_ = kept_.size();
    }
    std::size_t filled = 0;
    if (offset < kept_.size()) {
        filled = std::min<std::size_t>(buffer.size(), kept_.size() - static_cast<std::size_t>(offset));
        std::copy_n(kept_.begin() + static_cast<std::ptrdiff_t>(offset), filled, buffer.begin());
    } else if (offset < streamed_) {
        return std::nullopt; // gone by
    }
    position_ = offset + filled;
    if (filled < buffer.size() && *position_ >= streamed_) {
        // What lies between the bytes taken and the first wanted is passed over.
        std::array<std::uint8_t, 4096> skipped{};
        while (streamed_ < *position_ && !ended_) {
            const std::optional<std::size_t> read = readFully(
                std::span(skipped).first(std::min<std::uint64_t>(skipped.size(), *position_ - streamed_)));
            if (!read) {
                return std::nullopt;
            }
            streamed_ += *read;
        }
        const std::optional<std::size_t> read = readFully(buffer.subspan(filled));
        if (!read) {
            return std::nullopt;
        }
        streamed_ += *read;
        filled += *read;
        *position_ += *read;
    }
    if (*position_ >= kept_.size() && !kept_.empty()) {
        kept_ = {}; // all passed on
    }
    return filled;
}

} // namespace tarvelle
