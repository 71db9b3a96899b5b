#include "clip/loudness.hpp"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>

namespace tarvelle {

namespace {

constexpr int maxChannels = 64;
constexpr std::int32_t minSampleRate = 16;
constexpr std::int32_t maxSampleRate = 2822400;
constexpr std::int64_t shortTermBlockMilliseconds = 3000;

// The histogram keeps memory fixed however long the file: without it the
// library keeps every 400 ms and 3 s block to the end. Integrated loudness
// comes out the same to a thousandth of a LU; the range in steps of 0.1 LU.
constexpr int meterMode = EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_HISTOGRAM;

double decibels(double ratio)
{
    return ratio > 0.0 ? 20.0 * std::log10(ratio) : -std::numeric_limits<double>::infinity();
}

void throwOnError(int error)
{
    if (error == EBUR128_ERROR_NOMEM) {
        throw std::bad_alloc();
    }
    if (error != EBUR128_SUCCESS) {
        throw std::logic_error("libebur128 error " + std::to_string(error));
    }
}

} // namespace

struct LoudnessMeter::State {
    ebur128_state* meter = nullptr;
    int channels = 0;
    std::int32_t sampleRate = 0;
    std::int64_t frames = 0;
    std::vector<double> scaled; // reused from block to block

    ~State()
    {
        // The library's destroy does not take a state that was never made.
        if (meter != nullptr) {
            ebur128_destroy(&meter);
        }
    }
};

LoudnessMeter::LoudnessMeter(int channels, std::int32_t sampleRate) : state_(std::make_unique<State>())
{
    if (channels < 1 || channels > maxChannels || sampleRate < minSampleRate || sampleRate > maxSampleRate) {
        throw std::invalid_argument("loudness: unsupported channel count or sample rate");
    }
    {
        // The library fills shared tables of its own on every start: one at a
        // time, as files are measured on several threads.
        static std::mutex starting;
        const std::lock_guard lock(starting);
        state_->meter =
            ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate), meterMode);
    }
    if (state_->meter == nullptr) {
        throw std::bad_alloc();
    }
    state_->channels = channels;
    state_->sampleRate = sampleRate;
    if (channels == 8) {
        // WAV's 7.1 order puts the side pair last, where the library would
        // leave it out.
        throwOnError(ebur128_set_channel(state_->meter, 6, EBUR128_Mp090));
        throwOnError(ebur128_set_channel(state_->meter, 7, EBUR128_Mm090));
    }
}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::addFrames(std::span<const double> interleaved, double fullScale)
{
    const auto channels = static_cast<std::size_t>(state_->channels);
    if (interleaved.size() % channels != 0 || !(fullScale > 0.0)) {
        throw std::invalid_argument("loudness: a partial frame or no full scale");
    }
    std::vector<double>& scaled = state_->scaled;
    scaled.resize(interleaved.size());
    const double scale = 1.0 / fullScale;
    std::transform(interleaved.begin(), interleaved.end(), scaled.begin(),
                   [scale](double sample) { return sample * scale; });
    const std::size_t frames = interleaved.size() / channels;
    throwOnError(ebur128_add_frames_double(state_->meter, scaled.data(), frames));
    state_->frames += static_cast<std::int64_t>(frames);
}

LoudnessResult LoudnessMeter::finish() const
{
    LoudnessResult result;
    result.truePeakDbtpOverall = -std::numeric_limits<double>::infinity();
    for (int channel = 0; channel < state_->channels; ++channel) {
        double peak = 0.0;
        throwOnError(ebur128_true_peak(state_->meter, static_cast<unsigned>(channel), &peak));
        result.truePeakDbtp.push_back(decibels(peak));
        result.truePeakDbtpOverall = std::max(result.truePeakDbtpOverall, result.truePeakDbtp.back());
    }

    double integrated = 0.0;
    throwOnError(ebur128_loudness_global(state_->meter, &integrated));
    if (!std::isfinite(integrated)) {
        return result;
    }
    result.integratedLufs = integrated;

    // Below one short-term block the library reports a range of 0 LU, which
    // would read as a measured, perfectly even file.
    if (state_->frames * 1000 < shortTermBlockMilliseconds * state_->sampleRate) {
        return result;
    }
    double range = 0.0;
    throwOnError(ebur128_loudness_range(state_->meter, &range));
    result.loudnessRange = range;
    return result;
}

} // namespace tarvelle
