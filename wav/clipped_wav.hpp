// The clipped WAV file of one level: a header copied field by field from the
// input, then the clipped samples.
#pragma once

#include "wav/wave_header.hpp"

#include <array>
#include <cstdint>
#include <span>

namespace tarvelle {

std::array<std::uint8_t, waveHeaderSizeInBytes> clippedWavHeader(const AcceptedHeader& header);

// The samples as the file holds them, little-endian whatever the host's byte
// order: swapped in place on a big-endian host, so no copy is made.
std::span<const std::uint8_t> littleEndianBytes(std::span<std::int16_t> samples);

} // namespace tarvelle
