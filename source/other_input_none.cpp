// Built without libsndfile: WAV only, and the refusals say what the file is.
#include "source/other_input.hpp"

namespace tarvelle {

std::variant<OtherInput, BatchRefused> openOtherInput(const FileHandle&, const std::string&, std::uint64_t,
                                                      BatchRefused notWave)
{
    return notWave;
}

std::optional<std::variant<OtherInput, BatchRefused>> openOtherStream(StreamInput&, const std::string&)
{
    return std::nullopt;
}

std::string otherInputsLine()
{
    return "built without libsndfile: reads WAV only";
}

} // namespace tarvelle
