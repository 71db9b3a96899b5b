// Why a file was not worked on, as a value with the details its words need.
// The dialogue, line mode and batch mode each word it (jobErrorText holds
// the texts); the engine never does.
#pragma once

#include "wav/batch_input.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace tarvelle {

struct JobError {
    enum class Kind {
        NotFound,        // no file by that name, or a name no file can have
        Unopenable,      // the name leads to something that cannot be read: reason says why
        InUse,           // another program holds it for writing
        NotEnoughMemory, // for the buffers a run holds
        ReadError,       // reason: the system's words; empty when the file ended before its data did
        Changed,         // the file changed between the reads
        NotANumber,      // frame: the first that holds a sample that is no finite number
        Refused,         // refusal: what the file is, and why it is not read
        // The dialogue's file is 16-bit stereo at 44.1, 88.2 or 176.4 kHz, its
        // data under 2 GiB; the first of these it is not.
        NotStereo,
        Not16Bit,
        UnsupportedRate,
        TooLarge,
    };
    JobError(Kind kind, std::string reason = {}) : kind(kind), reason(std::move(reason)) {}
    static JobError notANumberAt(std::uint64_t frame);
    static JobError refused(BatchRefused refusal);

    Kind kind;
    std::string reason;
    std::uint64_t frame = 0;
    std::optional<BatchRefused> refusal;
};

inline JobError JobError::notANumberAt(std::uint64_t frame)
{
    JobError error(Kind::NotANumber);
    error.frame = frame;
    return error;
}

inline JobError JobError::refused(BatchRefused refusal)
{
    JobError error(Kind::Refused);
    error.refusal = std::move(refusal);
    return error;
}

} // namespace tarvelle
