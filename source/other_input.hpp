// Batch mode's sound files that are not WAV (AIFF, CAF, W64, FLAC, Ogg, Opus,
// MP3 and the others libsndfile knows), read through libsndfile on our own
// file handle where the program is built with it. Integer samples are read as
// the integers they are, float ones as float, lossy ones decoded to 32-bit
// float with their overs kept.
#pragma once

#include "engine/block_ring.hpp"
#include "platform/file_access.hpp"
#include "platform/output_file.hpp"
#include "wav/batch_input.hpp"
#include "wav/sample_format.hpp"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>

namespace tarvelle {

struct OtherInput {
    SampleFormat format;
    std::string_view container; // "FLAC", "AIFF", "MP3"...
    std::uint64_t frameCount = 0;
    std::string clippedExtension; // ".flac"; ".wav" for the lossy, written as float WAV
    // Loaders of blocks of doubles, each sample at its index firstByte / sizeof(double).
    BlockRing::MakeLoader makeLoader;
    // Writes the clipped files in the input's own container; empty for WAV.
    MakeOutputEncoder makeEncoder;
};

// A file that stopped decoding part way (a corrupt frame): thrown by a loader.
struct DecodeFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The file as libsndfile reads it, or a refusal that says what it is and why
// not; notWave is what the WAV reader said of it. The file must outlive the
// loaders and encoders made.
std::variant<OtherInput, BatchRefused> openOtherInput(const FileHandle& file, const std::string& fileName,
                                                      std::uint64_t fileSize, BatchRefused notWave);

// One line for --version and the configure output: what is read besides WAV.
std::string otherInputsLine();

} // namespace tarvelle
