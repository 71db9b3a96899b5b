// What libsndfile's formats are to this program: the containers' names,
// how each subtype is read, what a clipped copy is written as, and Ogg's
// speaker order; shared by the file's and the stream's readers.
#pragma once

#include "source/other_input.hpp"

#include <sndfile.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <variant>

namespace tarvelle {

inline std::string formatted(const char* pattern, auto... values)
{
    std::array<char, 256> text{};
    std::snprintf(text.data(), text.size(), pattern, values...);
    return text.data();
}

// Ogg carries 3 to 8 channels in the Vorbis order (front left, centre, front
// right, ...): each WAV speaker's channel in it, and the WAV channel mask.
struct SpeakerOrder {
    std::array<std::uint8_t, 8> fromOgg{};
    std::uint32_t channelMask = 0;
};

// The input as libsndfile opened it (info), less its samples' loader; start
// is its first bytes. The Ogg speaker order, where it has one, in order.
std::variant<OtherInput, BatchRefused> describeSndfileInput(const SF_INFO& info,
                                                            std::span<const std::uint8_t> start,
                                                            const std::string& fileName,
                                                            std::optional<SpeakerOrder>& order);

// What the WAV reader said of a file libsndfile cannot read either: what it
// is, where that is known, and libsndfile's reason.
BatchRefused cannotRead(BatchRefused notWave, const std::string& reason);

} // namespace tarvelle
