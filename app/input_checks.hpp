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

// The box text, exactly as the user sees it in the " ERROR" box.
std::string_view inputErrorText(InputError error);
// The text of why a job was not done, before its details: the box text where
// the dialogue has one; empty where the details are all there is to say.
std::string_view jobErrorText(JobError::Kind kind);

struct InputCheck {
    std::optional<InputError> error;
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
