// What differs between the two sample types a file is read in: 16-bit
// stereo samples as they are (bit-mask counting), or any format as doubles.
// The read, the analyses, the level count and the writers are one path over
// either; a kernel finds the clipped samples and clips them.
#pragma once

#include "clip/any_format_count.hpp"
#include "clip/clip_pass.hpp"
#include "clip/peak_clip.hpp"
#include "wav/clipped_wav.hpp"
#include "wav/sample_format.hpp"

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace tarvelle {

template <class Sample> struct SampleKernel;

template <> struct SampleKernel<std::int16_t> {
    // The largest magnitude, 0..32768.
    struct Peak {
        std::int32_t peak = 0;
        void take(std::span<const std::int16_t> samples, std::uint64_t /*firstSample*/)
        {
            peak = std::max(peak, findPeak(samples));
        }
        void merge(const Peak& other) { peak = std::max(peak, other.peak); }
        double value() const { return peak; }
        bool operator==(const Peak&) const = default;
    };

    static void count(std::span<LevelCount> counts, std::span<const std::int16_t> samples)
    {
        countLevels(counts, samples);
    }
    // Clips at a level and gives the bytes of the clipped file; clipped is the caller's.
    static std::span<const std::uint8_t> clip(const SampleFormat& /*format*/,
                                              std::span<const std::int16_t> samples, const LevelCount& count,
                                              std::span<std::int16_t> clipped, std::span<std::uint8_t> /*encoded*/)
    {
        clipSamples(samples, static_cast<std::int16_t>(count.clipThreshold), clipped);
        return littleEndianBytes(clipped);
    }
};

template <> struct SampleKernel<double> {
    // The largest magnitude, and where the first sample that is not a number is.
    struct Peak {
        AnyFormatPeak peak;
        void take(std::span<const double> samples, std::uint64_t firstSample)
        {
            takePeak(peak, samples, static_cast<std::int64_t>(firstSample));
        }
        // other follows this in the file.
        void merge(const Peak& other)
        {
            peak.peak = std::max(peak.peak, other.peak.peak);
            if (peak.firstNonFinite < 0) {
                peak.firstNonFinite = other.peak.firstNonFinite;
            }
        }
        double value() const { return peak.peak; }
        bool operator==(const Peak& other) const
        {
            return peak.peak == other.peak.peak && peak.firstNonFinite == other.peak.firstNonFinite;
        }
    };

    static void count(std::span<LevelCount> counts, std::span<const double> samples)
    {
        countFrames(counts, samples);
    }
    static std::span<const std::uint8_t> clip(const SampleFormat& format, std::span<const double> samples,
                                              const LevelCount& count, std::span<double> clipped,
                                              std::span<std::uint8_t> encoded)
    {
        clipFrames(samples, count.clipThreshold, clipped);
        encodeSamples(format, clipped, encoded);
        return encoded;
    }
};

} // namespace tarvelle
