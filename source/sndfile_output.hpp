// libsndfile on our own file handles: its virtual IO reads and writes through
// the platform layer, so names, locks, temporary files and the system's
// reasons stay ours. And the encoder that writes a clipped file in the
// input's own container.
#pragma once

#include "platform/file_access.hpp"
#include "platform/output_file.hpp"
#include "wav/sample_format.hpp"

#include <sndfile.h>

#include <cstdint>
#include <string>

namespace tarvelle {

// Where libsndfile is in one of our files.
struct VirtualFile {
    const FileHandle* file = nullptr;
    std::uint64_t position = 0;
    std::uint64_t size = 0;  // grows as it is written
    std::string failure;     // the system's reason for the first read or write that failed
    static SF_VIRTUAL_IO io; // the callbacks, user data a VirtualFile
};

// FLAC's compression level for the clipped files: 5 of 0 to 8, as the flac tool's default.
constexpr double flacCompressionLevel = 5.0 / 8.0;

// Encoders of clipped samples, given in the bytes of format as a WAV holds
// them, into a file of libsndfile's sfFormat (major type, subtype and endian).
MakeOutputEncoder sndfileEncoder(int sfFormat, const SampleFormat& format);

} // namespace tarvelle
