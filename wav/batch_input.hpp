// What batch mode reads: any uncompressed PCM or float WAV, from the walk of
// its chunks that the dialogue's reader takes too, or a refusal that says what
// the file is. The dialogue keeps readWaveHeader and its checks.
#pragma once

#include "wav/sample_format.hpp"
#include "wav/wave_header.hpp"

#include <cstdint>
#include <string>
#include <variant>

namespace tarvelle {

struct BatchInput {
    SampleFormat format;
    std::uint64_t dataOffset = 0; // the first frame, from the start of the file
    std::uint64_t frameCount = 0; // whole frames, all inside the file
    std::string warning;          // empty unless the header's data size was not the truth
    // The fmt fields and data size as readWaveHeader takes them (whole frames
    // where the header's size is not the truth): a classic file's outputs are
    // built from these as they always were.
    WaveHeaderInfo header;
};

enum class BatchRefusal {
    ReadError,
    NotWave,
    BigEndian,
    NoFmtChunk,
    NoDataChunk,
    Compressed,
    UnsupportedSamples, // bits, channels or rate out of range
    BlockAlignMismatch,
    Corrupt, // a file that stopped decoding part way
};

struct BatchRefused {
    BatchRefusal reason;
    std::string message;
};

std::variant<BatchInput, BatchRefused> readBatchInput(const ByteSource& source);
std::variant<BatchInput, BatchRefused> batchInputOf(const WaveLayout& layout);

} // namespace tarvelle
