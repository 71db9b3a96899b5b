// True peak, integrated loudness and loudness range of a whole file, as
// ITU-R BS.1770-4 and EBU R 128 define them, measured by libebur128 block by
// block while the file streams past.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace tarvelle {

struct LoudnessResult {
    std::vector<double> truePeakDbtp; // per channel; -inf for a channel of zeros
    double truePeakDbtpOverall = 0.0; // the largest of them
    // None for a file with no block above the absolute gate (silence, or
    // shorter than one 400 ms block).
    std::optional<double> integratedLufs;
    // None where there is no integrated loudness or the file is shorter than
    // one 3 s short-term block. In steps of 0.1 LU.
    std::optional<double> loudnessRange;
};

// Channels are weighted as in libebur128 for WAV's channel order: 1 and 2
// channels are front left and right (mono counted once, as FFmpeg does),
// 4 is L R Ls Rs, 5 is L R C Ls Rs, 6 is 5.1 with its LFE left out, 8 is
// 7.1 with the side pair weighted as surrounds. Other channels beyond the
// sixth count for true peak only.
class LoudnessMeter {
public:
    // channels 1 to 64, sampleRate 16 Hz to 2.8224 MHz, else
    // std::invalid_argument.
    LoudnessMeter(int channels, std::int32_t sampleRate);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Whole frames of samples in the file's units: fullScale is 2^(bits-1)
    // for integers and 1.0 for float. A partial frame or a fullScale not above
    // 0 is std::invalid_argument, running out of memory std::bad_alloc.
    void addFrames(std::span<const double> interleaved, double fullScale);

    LoudnessResult finish() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace tarvelle
