// Loading the samples of the data chunk, a stretch at a time.
#pragma once

#include "wav/wave_header.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tarvelle {

enum class LoadResult { Loaded, NotReadable };

// Reads the 2N samples from the header's dataOffset into interleavedSamples
// (already sized 2N) in one read. Bytes past the data chunk or past the end
// of the file are zero, so a chunk after the data never becomes audio.
LoadResult loadSamples(const FileHandle& file, const WaveHeaderInfo& header,
                       std::span<std::int16_t> interleavedSamples);
// The same for the samples from firstSample on (of the 2N), so a file can be
// read a stretch at a time with the same result.
LoadResult loadSamples(const FileHandle& file, const WaveHeaderInfo& header, std::size_t firstSample,
                       std::span<std::int16_t> interleavedSamples);

// Between the files' little-endian order and the host's, in place: the same
// swap both ways, and nothing to do on a little-endian host.
void swapLittleEndian(std::span<std::int16_t> samples);

} // namespace tarvelle
