// Where a job's samples come from: a 16-bit stereo file read as it always
// was, any other WAV, a file libsndfile reads, or a stream read once.
#include "clip/clip_pass.hpp"
#include "clip/peak_clip.hpp"
#include "engine/clip_job.hpp"
#include "engine/job_source.hpp"
#include "report/clip_report.hpp"
#include "source/other_input.hpp"
#include "source/stream_input.hpp"
#include "wav/clipped_wav.hpp"
#include "wav/samples.hpp"
#include "wav/wave_writer.hpp"

#include <algorithm>

namespace tarvelle {

ClipJob::Source<std::int16_t> ClipJob::classicSource()
{
    result_.format = SampleFormat{};
    result_.format.sampleRate = header_.sampleRate;
    Source<std::int16_t> source;
    const auto wavHeader = clippedWavHeader(header_);
    source.clippedWavHeader.assign(wavHeader.begin(), wavHeader.end());
    source.startCounts = [this](double peak) {
        return startSixLevelCount(static_cast<std::int32_t>(peak), header_.rateFactor).levels;
    };
    source.reportText = [this](int clipLevel, const std::vector<ChannelClipStats>& channels) {
        return clipReportText(result_.inputFileName, header_, clipLevel, channels[0], channels[1]);
    };
    return source;
}

std::optional<JobError> ClipJob::readClassic(const FileHandle& input, const JobProgress& progress)
{
    Source<std::int16_t> source = classicSource();
    result_.frameCount = static_cast<std::uint64_t>(std::max(header_.samplesPerChannel, 0));
    source.sampleCount = result_.frameCount * 2;
    // Past the data chunk, zeros.
    source.makeLoader = [&input, this] {
        return [&input, this](std::uint64_t firstByte, std::span<std::uint8_t> bytes) {
            const std::span<std::int16_t> samples(reinterpret_cast<std::int16_t*>(bytes.data()),
                                                  bytes.size() / sizeof(std::int16_t));
            if (loadSamples(input, header_, static_cast<std::size_t>(firstByte / sizeof(std::int16_t)), samples) ==
                LoadResult::Loaded) {
                return std::optional<std::string>();
            }
            return std::optional<std::string>(lastFileErrorText());
        };
    };
    return read(source, progress);
}

ClipJob::Source<double> ClipJob::anyFormatSource(const OtherInput* other)
{
    Source<double> source;
    source.channels = result_.format.channels;
    source.sampleCount = result_.frameCount * static_cast<std::uint64_t>(result_.format.channels);
    source.fullScale = fullScale(result_.format);
    if (other != nullptr) {
        source.makeLoader = other->makeLoader;
        source.clippedEncoder = other->makeEncoder;
    }
    if (!source.clippedEncoder) {
        source.clippedWavHeader = clippedWavHeaderFor(result_.format, result_.frameCount);
        source.padByte = result_.frameCount * static_cast<std::uint64_t>(bytesPerFrame(result_.format)) % 2 != 0;
    }
    source.startCounts = [this](double peak) {
        std::array<LevelCount, clipLevelCount> counts;
        const EventLengthLimits limits = eventLengthLimits(result_.format.sampleRate);
        for (std::size_t level = 0; level < counts.size(); ++level) {
            counts[level] = startLevelCount(thresholdForLevel(result_.format, peak, static_cast<int>(level)),
                                            result_.format.channels, limits);
        }
        return counts;
    };
    source.reportText = [this](int clipLevel, const std::vector<ChannelClipStats>& channels) {
        return clipReportText(result_.inputFileName, result_.format, result_.frameCount, clipLevel, channels,
                              result_.container);
    };
    return source;
}

std::optional<JobError> ClipJob::readAnyFormat(const FileHandle& input, std::uint64_t dataOffset,
                                               const JobProgress& progress, const OtherInput* other)
{
    Source<double> source = anyFormatSource(other);
    if (other == nullptr) {
        // Each block decoded once, on the thread that reads it.
        source.makeLoader = [&input, dataOffset, this] {
            return [&input, dataOffset, this, bytes = std::vector<std::uint8_t>()](
                       std::uint64_t firstByte, std::span<std::uint8_t> block) mutable {
                const auto sampleBytes = static_cast<std::uint64_t>(result_.format.containerBytes);
                const std::span<double> samples(reinterpret_cast<double*>(block.data()),
                                                block.size() / sizeof(double));
                bytes.resize(samples.size() * sampleBytes);
                const std::uint64_t at = dataOffset + firstByte / sizeof(double) * sampleBytes;
                const std::optional<std::size_t> read = readAt(input, at, bytes.data(), bytes.size());
                if (!read) {
                    return std::optional<std::string>(lastFileErrorText());
                }
                if (*read != bytes.size()) {
                    return std::optional<std::string>(""); // the file ended early
                }
                decodeSamples(result_.format, bytes, samples);
                return std::optional<std::string>();
            };
        };
    }
    try {
        return read(source, progress);
    } catch (const DecodeFailure& failure) {
        return JobError::refused(BatchRefused{BatchRefusal::Corrupt, failure.what()});
    }
}

std::optional<JobError> ClipJob::readOtherStream(const OtherInput& other, const JobProgress& progress)
{
    Source<double> source = anyFormatSource(&other);
    source.stream = other.stream;
    try {
        return read(source, progress);
    } catch (const DecodeFailure& failure) {
        return JobError::refused(BatchRefused{BatchRefusal::Corrupt, failure.what()});
    }
}

std::optional<JobError> ClipJob::readStream(StreamInput& input, const BatchInput& batch,
                                            const JobProgress& progress)
{
    // No more than the header gives, where it gives the truth.
    const auto frameBytes = static_cast<std::uint64_t>(bytesPerFrame(batch.format));
    std::uint64_t left = batch.frameCount * frameBytes;
    const auto next = [&input, &left, first = batch.dataOffset](std::span<std::uint8_t> bytes) {
        const std::optional<std::size_t> read = input.readOn(
            first, bytes.first(static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), left))));
        left -= read.value_or(0);
        return read;
    };
    if (isClassicFormat(batch.format)) {
        header_ = acceptWaveHeader(batch.header);
        Source<std::int16_t> source = classicSource();
        source.stream = [&next](std::span<std::uint8_t> bytes) -> std::variant<std::size_t, std::string> {
            const std::optional<std::size_t> read = next(bytes);
            if (!read) {
                return lastFileErrorText();
            }
            swapLittleEndian({reinterpret_cast<std::int16_t*>(bytes.data()), *read / sizeof(std::int16_t)});
            return *read;
        };
        return read(source, progress);
    }
    result_.format = batch.format;
    Source<double> source = anyFormatSource(nullptr);
    source.stream = [&next, this, bytes = std::vector<std::uint8_t>()](
                        std::span<std::uint8_t> block) mutable -> std::variant<std::size_t, std::string> {
        const auto sampleBytes = static_cast<std::size_t>(result_.format.containerBytes);
        const std::span<double> samples(reinterpret_cast<double*>(block.data()), block.size() / sizeof(double));
        bytes.resize(samples.size() * sampleBytes);
        const std::optional<std::size_t> read = next(bytes);
        if (!read) {
            return lastFileErrorText();
        }
        const auto channels = static_cast<std::size_t>(result_.format.channels);
        const std::size_t count = *read / (sampleBytes * channels) * channels; // a part frame at the end left out
        decodeSamples(result_.format, std::span(bytes).first(count * sampleBytes), samples.first(count));
        return count * sizeof(double);
    };
    return read(source, progress);
}

} // namespace tarvelle
