#include "clip/any_format_count.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace tarvelle {

void countFrames(std::span<LevelCount> levels, std::span<const double> samples)
{
    if (levels.empty()) {
        return;
    }
    const std::size_t channelCount = levels.front().channels.size();
    const std::size_t frameCount = samples.size() / channelCount;
    // Per level and channel, the clipped frames of the stretch.
    std::vector<std::uint64_t> masks(levels.size() * channelCount);
    for (std::size_t stretchStart = 0; stretchStart < frameCount; stretchStart += maskFrames) {
        const std::size_t stretchFrames = std::min(maskFrames, frameCount - stretchStart);
        std::fill(masks.begin(), masks.end(), 0);
        const double* frame = samples.data() + stretchStart * channelCount;
        for (std::size_t bit = 0; bit < stretchFrames; ++bit, frame += channelCount) {
            for (std::size_t channel = 0; channel < channelCount; ++channel) {
                const double magnitude = std::fabs(frame[channel]);
                for (std::size_t level = 0; level < levels.size(); ++level) {
                    masks[level * channelCount + channel] |=
                        static_cast<std::uint64_t>(magnitude > levels[level].clipThreshold) << bit;
                }
            }
        }
        for (std::size_t level = 0; level < levels.size(); ++level) {
            for (std::size_t channel = 0; channel < channelCount; ++channel) {
                countMask(levels[level], channel, masks[level * channelCount + channel], stretchFrames,
                          levels[level].framesCounted + static_cast<std::int64_t>(stretchStart));
            }
        }
    }
    for (LevelCount& level : levels) {
        level.framesCounted += static_cast<std::int64_t>(frameCount);
    }
}

void clipFrames(std::span<const double> samples, double clipThreshold, std::span<double> clipped)
{
    for (std::size_t index = 0; index < samples.size(); ++index) {
        clipped[index] = std::clamp(samples[index], -clipThreshold, clipThreshold);
    }
}

namespace {

void takePeakOneByOne(AnyFormatPeak& peak, std::span<const double> samples, std::int64_t firstIndex)
{
    for (std::size_t index = 0; index < samples.size(); ++index) {
        const double magnitude = std::fabs(samples[index]);
        if (!std::isfinite(magnitude)) {
            if (peak.firstNonFinite < 0) {
                peak.firstNonFinite = firstIndex + static_cast<std::int64_t>(index);
            }
            continue;
        }
        peak.peak = std::max(peak.peak, magnitude);
    }
}

} // namespace

void takePeak(AnyFormatPeak& peak, std::span<const double> samples, std::int64_t firstIndex)
{
    std::size_t index = 0;
#if defined(__SSE2__) || defined(_M_X64)
    // Eight at a time, the sign masked off; eight holding a NaN or an
    // infinity are taken again one by one.
    constexpr std::size_t lanes = 8;
    const __m128d signless = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF));
    const __m128d largest = _mm_set1_pd(std::numeric_limits<double>::max());
    constexpr std::size_t pairs = lanes / 2;
    __m128d highest[pairs] = {_mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd()};
    for (; index + lanes <= samples.size(); index += lanes) {
        __m128d magnitudes[pairs];
        __m128d notFinite = _mm_setzero_pd();
        for (std::size_t pair = 0; pair < pairs; ++pair) {
            magnitudes[pair] = _mm_and_pd(_mm_loadu_pd(samples.data() + index + 2 * pair), signless);
            notFinite = _mm_or_pd(notFinite, _mm_cmpnle_pd(magnitudes[pair], largest));
        }
        if (_mm_movemask_pd(notFinite) != 0) {
            takePeakOneByOne(peak, samples.subspan(index, lanes), firstIndex + static_cast<std::int64_t>(index));
            continue;
        }
        for (std::size_t pair = 0; pair < pairs; ++pair) {
            highest[pair] = _mm_max_pd(highest[pair], magnitudes[pair]);
        }
    }
    std::array<double, lanes> lanesHighest{};
    for (std::size_t pair = 0; pair < pairs; ++pair) {
        _mm_storeu_pd(lanesHighest.data() + 2 * pair, highest[pair]);
    }
    peak.peak = std::max(peak.peak, *std::max_element(lanesHighest.begin(), lanesHighest.end()));
#endif
    takePeakOneByOne(peak, samples.subspan(index), firstIndex + static_cast<std::int64_t>(index));
}

} // namespace tarvelle
