// The words of a batch line: a file's peak, loudness and outputs.
#include "app/batch.hpp"

#include "app/output_names.hpp"
#include "app/plain_text.hpp"
#include "clip/peak_clip.hpp"

#include <cmath>
#include <cstdio>

namespace tarvelle {

namespace {

// "peak 32567 (-0.05 dBFS)"; a float peak with six significant digits.
std::string peakText(double peak, const SampleFormat& format)
{
    const std::optional<double> decibels = levelDbfs(peak, fullScale(format));
    if (!decibels) {
        return "peak 0 (silent)";
    }
    char text[64];
    if (isFloat(format.encoding)) {
        std::snprintf(text, sizeof text, "peak %.6g (%.2f dBFS)", peak, *decibels);
    } else {
        std::snprintf(text, sizeof text, "peak %.0f (%.2f dBFS)", peak, *decibels);
    }
    return text;
}

} // namespace

std::string loudnessText(const LoudnessResult& loudness)
{
    char text[160];
    std::string line;
    std::snprintf(text, sizeof text, ", true peak %+.2f dBTP", loudness.truePeakDbtpOverall);
    line += std::isfinite(loudness.truePeakDbtpOverall) ? text : ", true peak -inf dBTP";
    if (std::isfinite(loudness.interSamplePeakDbfs)) {
        std::snprintf(text, sizeof text, " (reconstructed %+.2f dBFS)", loudness.interSamplePeakDbfs);
        line += text;
    }
    if (!loudness.integratedLufs) {
        return line + ", loudness " + loudness.noIntegratedReason;
    }
    std::snprintf(text, sizeof text, ", %.2f LUFS", *loudness.integratedLufs);
    line += text;
    if (loudness.loudnessRange) {
        std::snprintf(text, sizeof text, ", LRA %.1f LU", *loudness.loudnessRange);
        line += text;
    } else {
        line += ", no LRA (" + loudness.noRangeReason + ")";
    }
    if (loudness.peakToLoudnessRatio) {
        std::snprintf(text, sizeof text, ", PLR %.1f LU", *loudness.peakToLoudnessRatio);
        line += text;
    }
    if (loudness.maxMomentary) {
        std::snprintf(text, sizeof text, ", momentary max %.2f LUFS at %.1f s", loudness.maxMomentary->lufs,
                      loudness.maxMomentary->atSeconds);
        line += text;
    }
    if (loudness.maxShortTerm) {
        std::snprintf(text, sizeof text, ", short-term max %.2f LUFS at %.1f s", loudness.maxShortTerm->lufs,
                      loudness.maxShortTerm->atSeconds);
        line += text;
    }
    return line;
}

std::string summaryLine(const std::string& inputFileName, double peak, const SampleFormat& format,
                        const JobOptions& job, int outputCount, int failedOutputCount,
                        const std::optional<LoudnessResult>& loudness)
{
    std::string levels;
    for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
        levels += clipLevel == 0 ? '{' : ',';
        levels += std::to_string(decibelsBelowPeak(clipLevel));
    }
    const std::string clipped = clippedExtensionOf(inputFileName);
    const std::string kinds = job.reportsOnly ? (job.labels ? "{.txt, labels.txt}" : ".txt")
                              : job.labels    ? "{.txt," + clipped + ", labels.txt}"
                                              : ".{txt," + clipped.substr(1) + "}";
    const std::string stem = terminalSafeName(outputStem(inputFileName, job.outputFolder));
    const std::string pattern =
        stem + " " + levels + "}dB clipping" + kinds + (job.plot ? ", " + stem + " clipping.svg" : "");
    const std::string summary = terminalSafeName(inputFileName) + ": " + peakText(peak, format) +
                                (loudness ? loudnessText(*loudness) : "") + "; ";
    if (failedOutputCount == 0) {
        return summary + std::to_string(outputCount) + " files written: " + pattern;
    }
    return summary + std::to_string(failedOutputCount) + " of " + std::to_string(outputCount) +
           " files could not be written: " + pattern;
}

} // namespace tarvelle
