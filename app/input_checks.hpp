// Whether a named file is one the program can process, and the one table of
// the texts that tell the user why not.
#pragma once

#include "engine/job_error.hpp"
#include "platform/file_access.hpp"
#include "wav/wave_header.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace tarvelle {

// The text of why a job was not done, before its details: the box text,
// exactly as the user sees it in the " ERROR" box, where the dialogue has
// one; empty where the details are all there is to say.
std::string_view jobErrorText(JobError::Kind kind);

// The dialogue's rules for a header: the first failing test, in the order
// stereo, 16-bit, rate, size (a data size that reads negative is 2 GiB or
// more); nullopt when the header is accepted.
std::optional<JobError::Kind> checkWaveHeader(const WaveHeaderInfo& header);

struct InputCheck {
    std::optional<JobError::Kind> error;
    // The system's words for a file error (NotFound, InUse, ReadError), as
    // lastFileErrorText gave them; empty otherwise, and for a name refused
    // before it reached the file system.
    std::string systemReason;
    AcceptedHeader header;          // when there is no error
    std::optional<FileHandle> file; // the input, still open, when there is no error
};

// The existence test, the header and its checks, in that order, from one
// open of the file; the first failure is the one reported. An empty name and
// one with * or ? (or a NUL) are not found without reaching the file system.
// A file another program holds for writing is in use, not missing; one that
// opens but cannot be read is a read error.
InputCheck checkInputFile(const std::string& inputFileName);

} // namespace tarvelle
