// The clipped WAV file of one level: a header copied field by field from the
// input, then the clipped samples.
#pragma once

#include "wav/file_access.hpp"
#include "wav/wave_header.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace tarvelle {

std::array<std::uint8_t, waveHeaderSizeInBytes> clippedWavHeader(const WaveHeaderInfo& header);

// Opens the file of this level, replacing any old one whole, and writes its
// header; nullopt when either fails.
std::optional<FileHandle> beginClippedWav(const std::string& inputFileName, int clipLevel,
                                          const WaveHeaderInfo& header);

// Appends samples little-endian, whatever the host's byte order.
bool appendSamples(const FileHandle& file, std::span<const std::int16_t> samples);

// Replaces the file of this level whole. True only when it was opened,
// written in full and closed without error.
bool writeClippedWav(const std::string& inputFileName, int clipLevel, const WaveHeaderInfo& header,
                     std::span<const std::int16_t> interleavedSamples);

} // namespace tarvelle
