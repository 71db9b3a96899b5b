// Whether a named file is one the program can process, and the one table of
// the texts that tell the user why not.
#pragma once

#include "platform/file_access.hpp"
#include "wav/wave_header.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace tarvelle {

// The box text, exactly as the user sees it in the " ERROR" box.
std::string_view inputErrorText(InputError error);

struct InputCheck {
    std::optional<InputError> error;
    WaveHeaderInfo header;          // with its derived values when there is no error
    std::optional<FileHandle> file; // the input, still open, when there is no error
};

// The existence test, the header and its checks, in that order, from one
// open of the file; the first failure is the one reported. An empty name and
// one with * or ? (or a NUL) are not found without reaching the file system.
InputCheck checkInputFile(const std::string& inputFileName);

} // namespace tarvelle
