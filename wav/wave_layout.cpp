#include "wav/wave_layout.hpp"

#include "platform/file_access.hpp"
#include "wav/byte_fields.hpp"

#include <algorithm>

namespace tarvelle {

std::optional<std::size_t> MemoryByteSource::readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const
{
    if (offset >= bytes_.size()) {
        return 0;
    }
    const std::size_t count = std::min(buffer.size(), bytes_.size() - static_cast<std::size_t>(offset));
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), count, buffer.begin());
    return count;
}

std::optional<std::size_t> FileByteSource::readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const
{
    return tarvelle::readAt(file_, offset, buffer.data(), buffer.size());
}

namespace {

// Real files carry a dozen chunks at most; a file of tiny chunks is damaged,
// and walking it to the end would cost one read per eight bytes.
constexpr int maxChunks = 4096;

bool isPrintable(std::uint8_t byte)
{
    return byte >= 0x20 && byte < 0x7F;
}

WaveContainer containerOf(std::span<const std::uint8_t> start)
{
    if (!hasTag(start, 8, "WAVE")) {
        return WaveContainer::Other;
    }
    for (const auto& [tag, container] :
         {std::pair{"RIFF", WaveContainer::Riff}, std::pair{"RF64", WaveContainer::Rf64},
          std::pair{"BW64", WaveContainer::Bw64}, std::pair{"RIFX", WaveContainer::Rifx}}) {
        if (hasTag(start, 0, tag)) {
            return container;
        }
    }
    return WaveContainer::Other;
}

// A chunk header (four printable characters, a size that fits) right after
// an empty data chunk: the chunk really is empty. Anything else there is the
// audio of a recorder stopped before it could write the size.
std::optional<bool> chunkFollows(const ByteSource& source, std::uint64_t offset)
{
    std::array<std::uint8_t, 8> header{};
    const std::optional<std::size_t> count = source.readAt(offset, header);
    if (!count) {
        return std::nullopt;
    }
    return *count == header.size() && std::all_of(header.begin(), header.begin() + 4, isPrintable) &&
           readUint(header, 4, 4) <= source.size() - offset - header.size();
}

// Takes what the layout needs from one chunk; false on a read error. A data
// chunk's bodySize becomes the one its ds64 chunk gives.
bool readChunk(const ByteSource& source, WaveLayout& layout, std::span<const std::uint8_t, 8> chunkHeader,
               std::uint64_t bodyOffset, std::optional<std::uint64_t>& ds64DataSize, std::uint64_t& bodySize)
{
    const std::uint64_t bodyRoom = layout.fileSize - bodyOffset;
    const bool ds64Container = layout.container == WaveContainer::Rf64 || layout.container == WaveContainer::Bw64;
    if (hasTag(chunkHeader, 0, "fmt ") && !layout.fmtSize && bodySize < fmtBaseSize) {
        layout.shortFmtSize = bodySize;
    } else if (hasTag(chunkHeader, 0, "fmt ") && !layout.fmtSize) {
        const auto wanted =
            static_cast<std::size_t>(std::min({bodySize, bodyRoom, std::uint64_t{extensibleFmtSize}}));
        const std::optional<std::size_t> count = source.readAt(bodyOffset, std::span(layout.fmt.data(), wanted));
        if (!count) {
            return false;
        }
        layout.fmtSize = bodySize;
        layout.fmtBytesRead = *count;
    } else if (hasTag(chunkHeader, 0, "ds64") && ds64Container && !ds64DataSize && bodySize >= 16) {
        std::array<std::uint8_t, 16> body{};
        const std::optional<std::size_t> count = source.readAt(bodyOffset, body);
        if (!count) {
            return false;
        }
        if (*count == body.size()) {
            ds64DataSize = readUint(body, 8, 8);
        }
    } else if (hasTag(chunkHeader, 0, "data") && !layout.dataOffset) {
        layout.dataOffset = bodyOffset;
        layout.dataSizeField = bodySize;
        if (bodySize == unknownChunkSize && ds64DataSize) {
            layout.ds64DataSize = ds64DataSize;
        }
        bodySize = layout.dataSize();
        if (bodySize == 0 && bodyRoom > 0) {
            const std::optional<bool> follows = chunkFollows(source, bodyOffset);
            if (!follows) {
                return false;
            }
            layout.chunkAfterEmptyData = *follows;
        }
    }
    return true;
}

} // namespace

std::optional<WaveLayout> describeWaveFile(const ByteSource& source)
{
    WaveLayout layout;
    layout.fileSize = source.size();
    const std::optional<std::size_t> startRead = source.readAt(0, layout.start);
    if (!startRead) {
        return std::nullopt;
    }
    layout.startSize = *startRead;
    layout.container = containerOf(layout.startBytes());
    if (layout.container == WaveContainer::Other || layout.container == WaveContainer::Rifx) {
        return layout;
    }
    std::optional<std::uint64_t> ds64DataSize;
    std::uint64_t offset = 12;
    for (int chunk = 0;
         chunk < maxChunks && !(layout.fmtSize && layout.dataOffset) && offset + 8 <= layout.fileSize; ++chunk) {
        std::array<std::uint8_t, 8> chunkHeader{};
        const std::optional<std::size_t> headerRead = source.readAt(offset, chunkHeader);
        if (!headerRead) {
            return std::nullopt;
        }
        if (*headerRead < chunkHeader.size()) {
            break;
        }
        const std::uint64_t bodyOffset = offset + 8;
        std::uint64_t bodySize = readUint(chunkHeader, 4, 4);
        if (!readChunk(source, layout, chunkHeader, bodyOffset, ds64DataSize, bodySize)) {
            return std::nullopt;
        }
        // Audio of an unknown size runs to the end, and a body that runs past
        // the end leaves nothing after it to find.
        const bool audioToEnd = layout.dataOffset == bodyOffset && bodySize == unknownChunkSize;
        if (audioToEnd || bodySize > layout.fileSize - bodyOffset) {
            break;
        }
        offset = bodyOffset + bodySize + (bodySize & 1);
    }
    return layout;
}

} // namespace tarvelle
