// The header of a clipped WAV in the input's own sample format, for the
// formats the classic header cannot carry.
#pragma once

#include "wav/sample_format.hpp"

#include <cstdint>
#include <vector>

namespace tarvelle {

// The bytes before the first frame: the plain 44-byte layout for integer PCM
// of at most two channels and 16 bits, tag 3 with a fact chunk for float, else
// WAVE_FORMAT_EXTENSIBLE; RF64 with a ds64 chunk when the RIFF size cannot
// hold the data. An odd number of data bytes is followed by one zero byte,
// which the sizes count.
std::vector<std::uint8_t> clippedWavHeaderFor(const SampleFormat& format, std::uint64_t frameCount);

} // namespace tarvelle
