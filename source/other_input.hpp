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
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>

namespace tarvelle {

class StreamInput;

struct OtherInput {
    SampleFormat format;
    std::string_view container; // "FLAC", "AIFF", "MP3"...
    std::uint64_t frameCount = 0;
    std::string clippedExtension; // ".flac"; ".wav" for the lossy, written as float WAV
    // Loaders of blocks of doubles, each sample at its index firstByte / sizeof(double).
    BlockRing::MakeLoader makeLoader;
    // A stream's blocks of doubles, read once to its end, instead; frameCount
    // is then what its header gives, 0 where it does not tell.
    BlockRing::StreamLoader stream;
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

// A stream (standard input) as libsndfile reads it, decoded as it comes, or
// a refusal; nullopt where libsndfile cannot open it from the first bytes the
// stream keeps, which are left as they were for the stream to be read some
// other way. name is the stream's, for the clipped files' extension.
std::optional<std::variant<OtherInput, BatchRefused>> openOtherStream(StreamInput& stream,
                                                                      const std::string& name);

// One line for --version and the configure output: what is read besides WAV.
std::string otherInputsLine();

} // namespace tarvelle
