#include "loudness/peak_follower.hpp"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <numbers>
#include <optional>
#include <utility>

namespace tarvelle {

namespace {

// Frames per channel interpolated in one round: long enough to amortise the
// history copied along, short enough that a quiet stretch is skipped whole.
constexpr std::size_t roundFrames = 256;
// Frames computed side by side, and skipped together where they cannot matter:
// enough of them that the sums' chains of additions overlap.
constexpr std::size_t groupFrames = 16;
// Rounds taken as live throughout between two that are looked at closely.
constexpr std::size_t recheckRounds = 8;
// Phases between two grid points summed side by side.
constexpr std::size_t betweenLanes = 8;

// The float a meter that works in float would see, with its denormals flushed
// as SSE's flush-to-zero does.
double asFloat(double value)
{
    const auto rounded = static_cast<double>(static_cast<float>(value));
    return std::fabs(rounded) < FLT_MIN ? 0.0 : rounded;
}

// The largest float not above value: a float interpolated value at most this
// large cannot raise a maximum of value.
double floatAtMost(double value)
{
    float below = static_cast<float>(value);
    if (static_cast<double>(below) > value) {
        below = std::nextafter(below, 0.0f);
    }
    return below;
}

// The largest magnitude of some values, or floor if larger: four running
// maxima, as a single one would wait on itself from value to value.
[[gnu::always_inline]] inline double largestMagnitude(const double* values, std::size_t count, double floor)
{
    double b0 = floor, b1 = floor, b2 = floor, b3 = floor;
    std::size_t index = 0;
    for (; index + 4 <= count; index += 4) {
        const double m0 = std::fabs(values[index]), m1 = std::fabs(values[index + 1]),
                     m2 = std::fabs(values[index + 2]), m3 = std::fabs(values[index + 3]);
        b0 = m0 > b0 ? m0 : b0;
        b1 = m1 > b1 ? m1 : b1;
        b2 = m2 > b2 ? m2 : b2;
        b3 = m3 > b3 ? m3 : b3;
    }
    for (; index < count; ++index) {
        const double magnitude = std::fabs(values[index]);
        b0 = magnitude > b0 ? magnitude : b0;
    }
    b0 = b1 > b0 ? b1 : b0;
    b2 = b3 > b2 ? b3 : b2;
    return b2 > b0 ? b2 : b0;
}

// Every stride-th value (Stride if not 0). Apart, so that the compiler knows
// the two do not overlap and copies several at once.
template <std::size_t Stride>
void copyEvery(const double* __restrict from, std::size_t stride, std::size_t count, double* __restrict to)
{
    for (std::size_t index = 0; index < count; ++index) {
        to[index] = from[index * (Stride != 0 ? Stride : stride)];
    }
}

void roundToFloats(double* __restrict values, std::size_t count)
{
    for (std::size_t index = 0; index < count; ++index) {
        values[index] = asFloat(values[index]);
    }
}

// Each output summed tap by tap in the filter's order, a group of frames side
// by side in the registers, then its magnitude as the meter sees it. Groups
// not live are left at 0. Returns the largest magnitude.
template <bool RoundToFloat>
[[gnu::always_inline]] inline double sumPhaseBody(const PolyphaseFilter::Tap* taps, std::size_t tapCount,
                                                  const double* current, std::size_t frames, const char* live,
                                                  double* magnitudes)
{
    std::array<double, groupFrames> best{};
    for (std::size_t first = 0; first < frames; first += groupFrames) {
        std::array<double, groupFrames> acc{};
        if (live[first / groupFrames] != 0) {
            for (std::size_t tap = 0; tap < tapCount; ++tap) {
                const double* from = current + first - taps[tap].delay;
                const double coefficient = taps[tap].coefficient;
                for (std::size_t lane = 0; lane < groupFrames; ++lane) {
                    acc[lane] += from[lane] * coefficient;
                }
            }
        }
        // Beyond the round's frames the buffer holds older samples: not outputs.
        const std::size_t count = std::min(groupFrames, frames - first);
        for (std::size_t lane = 0; lane < groupFrames; ++lane) {
            const double value = lane < count ? std::fabs(RoundToFloat ? asFloat(acc[lane]) : acc[lane]) : 0.0;
            magnitudes[first + lane] = value;
            best[lane] = value > best[lane] ? value : best[lane];
        }
    }
    return *std::max_element(best.begin(), best.end());
}

// The phases between two grid points, betweenLanes at a time, from a table
// of their taps by delay (0 where a phase has none: adding nothing, so each
// sum is the one its own taps give). Two such sums side by side (first and
// second: a table and the newest sample each), as one alone would wait on its
// additions. Returns the largest magnitude.
struct Between {
    const double* table;
    const double* newest;
};

[[gnu::always_inline]] inline double sumBetweenBody(Between first, Between second, std::size_t delays)
{
    std::array<double, betweenLanes> a{}, b{};
    for (std::size_t delay = 0; delay < delays; ++delay) {
        const double x = *(first.newest - delay);
        const double y = *(second.newest - delay);
        for (std::size_t lane = 0; lane < betweenLanes; ++lane) {
            a[lane] += x * first.table[delay * betweenLanes + lane];
            b[lane] += y * second.table[delay * betweenLanes + lane];
        }
    }
    double best = 0.0;
    for (std::size_t lane = 0; lane < betweenLanes; ++lane) {
        best = std::max({best, std::fabs(a[lane]), std::fabs(b[lane])});
    }
    return best;
}

template <bool RoundToFloat>
double sumPhase(const PolyphaseFilter::Tap* taps, std::size_t tapCount, const double* current, std::size_t frames,
                const char* live, double* magnitudes)
{
    return sumPhaseBody<RoundToFloat>(taps, tapCount, current, frames, live, magnitudes);
}

double sumBetween(Between first, Between second, std::size_t delays)
{
    return sumBetweenBody(first, second, delays);
}

// The same code for wider registers where the processor has them: the same
// operations in the same order, so the same results.
#if defined(__GNUC__) && defined(__x86_64__)
template <bool RoundToFloat>
[[gnu::target("avx2")]] double sumPhaseWide(const PolyphaseFilter::Tap* taps, std::size_t tapCount,
                                            const double* current, std::size_t frames, const char* live,
                                            double* magnitudes)
{
    return sumPhaseBody<RoundToFloat>(taps, tapCount, current, frames, live, magnitudes);
}

[[gnu::target("avx2")]] double sumBetweenWide(Between first, Between second, std::size_t delays)
{
    return sumBetweenBody(first, second, delays);
}

bool hasWideRegisters()
{
    return __builtin_cpu_supports("avx2") != 0;
}
#else
template <bool RoundToFloat>
double sumPhaseWide(const PolyphaseFilter::Tap* taps, std::size_t tapCount, const double* current,
                    std::size_t frames, const char* live, double* magnitudes)
{
    return sumPhase<RoundToFloat>(taps, tapCount, current, frames, live, magnitudes);
}

double sumBetweenWide(Between first, Between second, std::size_t delays)
{
    return sumBetween(first, second, delays);
}

bool hasWideRegisters()
{
    return false;
}
#endif

} // namespace

PeakFollower::PeakFollower(PolyphaseFilter filter, int channels, bool roundToFloat)
    : phases_(std::move(filter.phases)), gridStep_(filter.gridStep), outputDelay_(filter.outputDelay),
      channels_(static_cast<std::size_t>(channels)), history_(0), roundToFloat_(roundToFloat),
      wide_(hasWideRegisters()), gainBound_(0.0), samplePeak_(channels_, 0.0), interpolatedPeak_(channels_, 0.0)
{
    for (const auto& phase : phases_) {
        double absoluteSum = 0.0;
        for (const auto& tap : phase) {
            history_ = std::max(history_, static_cast<std::size_t>(tap.delay));
            absoluteSum += std::fabs(tap.coefficient);
        }
        gainBound_ = std::max(gainBound_, absoluteSum);
    }
    kept_ = (history_ + groupFrames - 1) / groupFrames * groupFrames;
    input_.assign(channels_ * (kept_ + roundFrames), 0.0);
    grid_.assign((phases_.size() + gridStep_ - 1) / gridStep_ * roundFrames, 0.0);
    blockPeak_.assign(channels_ * (kept_ + roundFrames) / groupFrames, 0.0);
    blocksKept_.assign(channels_, 1);
    liveRounds_.assign(channels_, 0);
    live_.assign((roundFrames + groupFrames - 1) / groupFrames, 0);
    if (gridStep_ > 1) {
        const std::size_t chunks = (gridStep_ - 2) / betweenLanes + 1;
        const std::size_t gridPhases = phases_.size() / gridStep_;
        between_.assign(gridPhases * chunks * (history_ + 1) * betweenLanes, 0.0);
        for (std::size_t index = 0; index < gridPhases; ++index) {
            for (std::size_t offset = 1; offset < gridStep_; ++offset) {
                const std::size_t chunk = index * chunks + (offset - 1) / betweenLanes;
                for (const auto& [delay, coefficient] : phases_[index * gridStep_ + offset]) {
                    between_[(chunk * (history_ + 1) + static_cast<std::size_t>(delay)) * betweenLanes +
                             (offset - 1) % betweenLanes] = coefficient;
                }
            }
        }
    }
}

void PeakFollower::add(std::span<const double> interleaved)
{
    const std::size_t frames = interleaved.size() / channels_;
    for (std::size_t first = 0; first < frames; first += roundFrames) {
        const std::size_t count = std::min(roundFrames, frames - first);
        const auto round = interleaved.subspan(first * channels_, count * channels_);
        for (std::size_t channel = 0; channel < channels_; ++channel) {
            deinterleave(round, count, channel);
            const bool looked = interpolate(count, channel);
            double* buffer = channelInput(channel);
            std::copy(buffer + count, buffer + count + kept_, buffer);
            // Whole groups moved: the peaks of the kept ones stay true.
            blocksKept_[channel] = looked && count % groupFrames == 0 ? 1 : 0;
            if (blocksKept_[channel] != 0) {
                double* blocks = blockPeak_.data() + channel * (kept_ + roundFrames) / groupFrames;
                std::copy(blocks + count / groupFrames, blocks + (count + kept_) / groupFrames, blocks);
            }
        }
    }
}

double* PeakFollower::channelInput(std::size_t channel)
{
    return input_.data() + channel * (kept_ + roundFrames);
}

void PeakFollower::deinterleave(std::span<const double> interleaved, std::size_t frames, std::size_t channel)
{
    double* to = channelInput(channel) + kept_;
    const double* from = interleaved.data() + channel;
    if (channels_ == 2) {
        copyEvery<2>(from, 2, frames, to);
    } else {
        copyEvery<0>(from, channels_, frames, to);
    }
    samplePeak_[channel] = largestMagnitude(to, frames, samplePeak_[channel]);
    if (roundToFloat_) {
        roundToFloats(to, frames);
    }
}

// No output can exceed the sum of absolute taps times the largest sample it
// reads: a group of frames that cannot raise the maximum is not computed. The
// margin covers the rounding of the sums. A partial last group takes in older
// samples beyond the round: that only widens the bound.
bool PeakFollower::markLive(std::size_t channel, std::size_t frames, double reached)
{
    const double* input = channelInput(channel);
    double* blockPeak = blockPeak_.data() + channel * (kept_ + roundFrames) / groupFrames;
    const std::size_t blocks = (kept_ + frames + groupFrames - 1) / groupFrames;
    for (std::size_t block = blocksKept_[channel] != 0 ? kept_ / groupFrames : 0; block < blocks; ++block) {
        blockPeak[block] = largestMagnitude(input + block * groupFrames, groupFrames, 0.0);
    }
    bool any = false;
    for (std::size_t group = 0; group * groupFrames < frames; ++group) {
        const std::size_t last = std::min(blocks, group + kept_ / groupFrames + 1);
        const double nearby = *std::max_element(blockPeak + group, blockPeak + last);
        live_[group] = gainBound_ * nearby * (1.0 + 1e-9) > reached ? 1 : 0;
        any = any || live_[group] != 0;
    }
    return any;
}

bool PeakFollower::interpolate(std::size_t frames, std::size_t channel)
{
    double& peak = interpolatedPeak_[channel];
    const double reached =
        std::max(peak, roundToFloat_ ? floatAtMost(samplePeak_[channel]) : samplePeak_[channel]);
    // After a round live throughout the next most likely is too (loud music):
    // taken as such, so computed whole, and looked at closely now and then.
    std::size_t& liveRounds = liveRounds_[channel];
    const bool looked = liveRounds % recheckRounds == 0;
    if (!looked) {
        std::fill(live_.begin(), live_.end(), 1);
        ++liveRounds;
    } else if (!markLive(channel, frames, reached)) {
        liveRounds = 0;
        return looked;
    } else {
        const auto groups = static_cast<std::ptrdiff_t>((frames + groupFrames - 1) / groupFrames);
        liveRounds = std::all_of(live_.begin(), live_.begin() + groups, [](char live) { return live != 0; })
                         ? liveRounds + 1
                         : 0;
    }
    const double* current = channelInput(channel) + kept_;
    const auto sum = roundToFloat_ ? (wide_ ? sumPhaseWide<true> : sumPhase<true>)
                                   : (wide_ ? sumPhaseWide<false> : sumPhase<false>);
    for (std::size_t phase = 0; phase < phases_.size(); phase += gridStep_) {
        double* magnitudes = grid_.data() + phase / gridStep_ * roundFrames;
        const auto& taps = phases_[phase];
        peak = std::max(peak, sum(taps.data(), taps.size(), current, frames, live_.data(), magnitudes));
    }
    if (gridStep_ > 1) {
        refine(current, frames, peak);
    }
    return looked;
}

// A band-limited signal is within cos(pi d) of its maximum at a point d
// samples from it (d up to a half): the phases between two grid points are
// computed only where either comes that close to the maximum so far, less a
// margin for the filter's departure from the ideal.
void PeakFollower::refine(const double* current, std::size_t frames, double& peak)
{
    const double halfStep = static_cast<double>(gridStep_) / static_cast<double>(2 * phases_.size());
    const double level = (std::cos(std::numbers::pi * halfStep) - 0.005) * peak;
    const std::size_t gridPhases = phases_.size() / gridStep_;
    const std::size_t chunks = (gridStep_ - 2) / betweenLanes + 1;
    const std::size_t delays = history_ + 1;
    const auto sum = wide_ ? sumBetweenWide : sumBetween;
    std::optional<Between> waiting; // a sum to be done beside the next
    for (std::size_t frame = 0; frame < frames; ++frame) {
        if (live_[frame / groupFrames] == 0) {
            continue;
        }
        for (std::size_t index = 0; index < gridPhases; ++index) {
            // After the last grid phase comes the next frame's first: the sample itself.
            const double end = index + 1 < gridPhases
                                   ? grid_[(index + 1) * roundFrames + frame]
                                   : std::fabs(current[static_cast<std::ptrdiff_t>(frame + 1) -
                                                       static_cast<std::ptrdiff_t>(outputDelay_)]);
            if (std::max(grid_[index * roundFrames + frame], end) < level) {
                continue;
            }
            for (std::size_t chunk = index * chunks; chunk < (index + 1) * chunks; ++chunk) {
                const Between next{between_.data() + chunk * delays * betweenLanes, current + frame};
                if (waiting) {
                    peak = std::max(peak, sum(*waiting, next, delays));
                    waiting.reset();
                } else {
                    waiting = next;
                }
            }
        }
    }
    if (waiting) {
        peak = std::max(peak, sum(*waiting, *waiting, delays));
    }
}

std::vector<double> PeakFollower::peaks() const
{
    std::vector<double> peaks(channels_);
    for (std::size_t channel = 0; channel < channels_; ++channel) {
        peaks[channel] = std::max(samplePeak_[channel], interpolatedPeak_[channel]);
    }
    return peaks;
}

void PeakFollower::restartPeaks(double floor)
{
    std::fill(samplePeak_.begin(), samplePeak_.end(), 0.0);
    std::fill(interpolatedPeak_.begin(), interpolatedPeak_.end(), floor);
}

} // namespace tarvelle
