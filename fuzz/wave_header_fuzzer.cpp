// Any bytes as an input file: the header reader must neither crash nor read
// outside the file, and what it accepts must lead to sane derived values.
#include "wav/wave_header.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    const std::optional<tarvelle::WaveHeaderInfo> header =
        tarvelle::readWaveHeader(tarvelle::MemoryByteSource(bytes));
    if (!header) {
        __builtin_trap(); // memory never fails to read
    }
    // Audio found by walking the chunks starts inside the file.
    if (header->dataOffset != tarvelle::waveHeaderSizeInBytes && header->dataOffset > size) {
        __builtin_trap();
    }
    tarvelle::WaveHeaderInfo accepted = *header;
    if (!tarvelle::checkWaveHeader(accepted)) {
        tarvelle::deriveWaveValues(accepted);
        if (accepted.samplesPerChannel < 0 || accepted.rateFactor < 1 || accepted.rateFactor > 4) {
            __builtin_trap();
        }
    }
    return 0;
}
