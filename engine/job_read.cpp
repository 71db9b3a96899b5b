// The two reads of a file, one path for every format: the analyses the
// options ask for are picked in one place, spread over the threads by the
// scheduler, and fed the blocks of the source.
#include "analysis/channel_stats.hpp"
#include "analysis/clipping_check.hpp"
#include "analysis/event_listeners.hpp"
#include "analysis/level_counts.hpp"
#include "analysis/loudness_analysis.hpp"
#include "analysis/peak.hpp"
#include "analysis/picture.hpp"
#include "engine/block_ring.hpp"
#include "engine/clip_job.hpp"
#include "engine/read_passes.hpp"
#include "report/clip_report.hpp"
#include "source/other_input.hpp"
#include "source/stream_input.hpp"
#include "wav/samples.hpp"
#include "wav/wave_writer.hpp"

#include <array>
#include <atomic>
#include <memory>
#include <stdexcept>

namespace tarvelle {

// What one read needs of the file, besides its samples' type.
template <class Sample> struct ClipJob::Source {
    std::uint64_t sampleCount = 0; // of a file
    int channels = 2;
    double fullScale = 32768.0;
    BlockRing::MakeLoader makeLoader; // blocks of Sample
    BlockRing::StreamLoader stream;   // where set, read once instead, to its end
    std::vector<std::uint8_t> clippedWavHeader;
    MakeOutputEncoder clippedEncoder; // where the clipped files are not WAV
    bool padByte = false;             // the size fields count a pad byte after data of an odd length
    // The six counts started at the peak's thresholds.
    std::function<std::array<LevelCount, clipLevelCount>(double peak)> startCounts;
    std::function<std::string(int clipLevel, const std::vector<ChannelClipStats>&)> reportText;

    std::uint64_t totalBytes() const { return sampleCount * sizeof(Sample); }
    std::size_t frameBytes() const { return static_cast<std::size_t>(channels) * sizeof(Sample); }
    std::size_t blockSamples() const { return BlockRing::blockBytesFor(frameBytes()) / sizeof(Sample); }
};

// What a read runs, made once the picks' read starts; the listeners hear the
// events of the counts and the check.
template <class Sample> struct ClipJob::Picks {
    std::vector<PickedAnalysis<Sample>> analyses; // in the order they finish
    std::array<LevelCount, clipLevelCount> counts{};
    EventListeners listeners;
    std::unique_ptr<KeptEvents> keptEvents;
    std::unique_ptr<LabelTracks> labelTracks;
    std::vector<std::unique_ptr<Analysis<Sample>>> made; // as picked, once the plan places them
};

namespace {

PlotHeading plotHeading(const std::string& inputFileName, const SampleFormat& format, std::string_view container,
                        double fullScale, double peak)
{
    PlotHeading heading;
    heading.fileName = inputFileName;
    heading.sampleRate = format.sampleRate;
    heading.channelMask = format.channelMask;
    heading.formatText = sampleFormatText(format.encoding, container) + ", " + std::to_string(format.channels) +
                         (format.channels == 1 ? " channel" : " channels");
    heading.fullScale = fullScale;
    heading.peakDbfs = levelDbfs(peak, fullScale);
    return heading;
}

// The bytes every read loads, told as they come.
BlockRing::MakeLoader toldLoader(const BlockRing::MakeLoader& makeLoader, const JobProgress& progress,
                                 std::atomic<std::uint64_t>& loaded, std::uint64_t totalLoads)
{
    return [&makeLoader, &progress, &loaded, totalLoads] {
        BlockRing::Loader load = makeLoader();
        if (!progress.reading) {
            return load;
        }
        return BlockRing::Loader(
            [&progress, &loaded, totalLoads, load](std::uint64_t firstByte, std::span<std::uint8_t> bytes) {
                std::optional<std::string> failure = load(firstByte, bytes);
                if (!failure) {
                    progress.reading(loaded += bytes.size(), totalLoads);
                }
                return failure;
            });
    };
}

// The stream's bytes, told as they come: how many there will be is not known.
BlockRing::StreamLoader toldStream(const BlockRing::StreamLoader& stream, const JobProgress& progress)
{
    if (!progress.reading) {
        return stream;
    }
    return [&progress, stream, loaded = std::uint64_t{0}](std::span<std::uint8_t> bytes) mutable {
        std::variant<std::size_t, std::string> filled = stream(bytes);
        if (const std::size_t* count = std::get_if<std::size_t>(&filled)) {
            progress.reading(loaded += *count, 0);
        }
        return filled;
    };
}

} // namespace

// The one place the options pick the analyses: a new measurement is one more
// line here. The picks' makers refer to picks, which stays where it is.
template <class Sample> void ClipJob::pickAnalyses(const Source<Sample>& source, Picks<Sample>& picks)
{
    if (options_.keepEvents) {
        picks.keptEvents = std::make_unique<KeptEvents>(result_);
        picks.listeners.add(*picks.keptEvents);
    }
    if (options_.labels) {
        picks.labelTracks = std::make_unique<LabelTracks>(outputs_, result_.format.channels,
                                                          result_.format.sampleRate, result_.format.channelMask);
        picks.listeners.add(*picks.labelTracks);
    }
    auto& analyses = picks.analyses;
    if (options_.loudness) {
        analyses.push_back(pick<LoudnessAnalysis<Sample>>([&source, this] {
            return std::make_unique<LoudnessAnalysis<Sample>>(source.channels, result_.format.sampleRate,
                                                              result_.format.channelMask, source.fullScale,
                                                              source.blockSamples(), options_.plot);
        }));
    }
    if (options_.check) {
        PickedAnalysis<Sample> check = pick<ClippingCheck<Sample>>([&source, &picks, this] {
            return std::make_unique<ClippingCheck<Sample>>(
                ExistingClipFormat{source.channels, source.fullScale, isFloat(result_.format.encoding)},
                options_.minRunLength, picks.listeners.existingSink());
        });
        // The picture, which needs the peak, must be listening when the runs come.
        check.needsPeak = check.needsPeak || options_.plot;
        analyses.push_back(std::move(check));
    }
    if (options_.delivery || options_.channelStats) {
        analyses.push_back(pick<ChannelStatsAnalysis<Sample>>([&source, this] {
            return std::make_unique<ChannelStatsAnalysis<Sample>>(source.channels, result_.format.sampleRate,
                                                                  source.fullScale);
        }));
    }
    // A check counts no levels, unless for the picture. Half the levels each,
    // so that the scheduler can give each thread half.
    if (!options_.check || options_.plot) {
        for (const std::size_t first : {std::size_t{0}, std::size_t{clipLevelCount / 2}}) {
            constexpr std::size_t levelCount = clipLevelCount / 2;
            analyses.push_back({LevelCounts<Sample>::needsPeak, levelCount * LevelCounts<Sample>::costPerLevel,
                                [&source, &picks, first, this] {
                                    return std::make_unique<LevelCounts<Sample>>(
                                        first, std::span(picks.counts).subspan(first, levelCount), result_.format,
                                        outputs_, source.blockSamples(), source.reportText);
                                }});
        }
    }
    if (options_.plot) {
        analyses.push_back(pick<Picture<Sample>>([&source, &picks, this] {
            auto picture = std::make_unique<Picture<Sample>>(
                plotHeading(result_.inputFileName, result_.format, result_.container, source.fullScale,
                            result_.peak),
                source.channels, result_.frameCount, thresholds(), options_.check);
            picks.listeners.add(*picture);
            return picture;
        }));
    }
}

// The analyses finished in the order picked, the verdict judged, and the
// delivery's labels written.
template <class Sample> void ClipJob::finishRead(Picks<Sample>& picks)
{
    const auto judge = [this] {
        if (options_.delivery) {
            result_.delivery = judgeDelivery(*options_.delivery, result_);
        }
    };
    for (std::size_t index = 0; index < picks.made.size(); ++index) {
        if (options_.plot && index + 1 == picks.made.size()) {
            judge(); // the picture, last, marks what the verdict failed
        }
        picks.made[index]->finish(result_);
    }
    if (!options_.plot) {
        judge();
    }
    picks.listeners.eventsEnded(result_);
    if (options_.delivery) {
        // After the runs the check labelled: the track is the delivery's.
        if (OutputFile* track = outputs_.labelTrack(checkLabelTrack); track != nullptr && options_.labels) {
            const std::string labels = deliveryLabels(*result_.delivery, result_);
            track->append(std::span(reinterpret_cast<const std::uint8_t*>(labels.data()), labels.size()));
        }
    }
}

template <class Sample>
std::optional<JobError> ClipJob::read(const Source<Sample>& source, const JobProgress& progress)
{
    nameLevels();
    Picks<Sample> picks;
    pickAnalyses(source, picks);
    const ReadPlan plan = planReads(costsOf(picks.analyses));
    picks.made.resize(picks.analyses.size());
    const auto work = [&picks](const std::vector<std::size_t>& indices) {
        ThreadWork<Sample> thread;
        for (const std::size_t index : indices) {
            picks.made[index] = picks.analyses[index].make();
            thread.push_back(picks.made[index].get());
        }
        return thread;
    };
    std::atomic<std::uint64_t> loaded{0};
    RingInput input{
        source.totalBytes(),
        source.frameBytes(),
        toldLoader(source.makeLoader, progress, loaded, source.totalBytes() * (plan.secondReadNeeded ? 2 : 1)),
        {}};
    if (source.stream) {
        if (plan.secondReadNeeded) {
            throw std::logic_error("a stream is read once");
        }
        input.stream = toldStream(source.stream, progress);
    }

    // Before the first read, whose analyses may already write label tracks.
    outputs_.begin(result_, source.clippedWavHeader, source.clippedEncoder);
    // The first read: the peak, and what does not need it.
    std::uint64_t bytesRead = 0;
    auto found = readForPeak<Sample>(input, work(plan.firstRead[0]), work(plan.firstRead[1]), &bytesRead);
    if (JobError* failure = std::get_if<JobError>(&found)) {
        return std::move(*failure);
    }
    if (source.stream) {
        result_.frameCount = bytesRead / source.frameBytes();
    }
    const auto peak = std::get<typename SampleKernel<Sample>::Peak>(found);
    if constexpr (std::is_same_v<Sample, double>) {
        if (peak.peak.firstNonFinite >= 0) {
            return JobError::notANumberAt(static_cast<std::uint64_t>(peak.peak.firstNonFinite) /
                                          static_cast<std::uint64_t>(source.channels));
        }
    }
    result_.peak = peak.value();
    if (progress.peakFound) {
        progress.peakFound();
    }

    // The second read: what needs the peak, and the peak again.
    picks.counts = source.startCounts(result_.peak);
    for (std::size_t index = 0; index < picks.counts.size(); ++index) {
        result_.levels[index].stats.clipThreshold = picks.counts[index].clipThreshold;
    }
    if (plan.secondReadNeeded) {
        ThreadWork<Sample> first = work(plan.secondRead[0]);
        ThreadWork<Sample> second = work(plan.secondRead[1]);
        for (std::size_t index = 0; index < picks.counts.size(); ++index) {
            picks.counts[index].onEvent = picks.listeners.levelSink(index);
        }
        if (std::optional<JobError> failure = readAgain(input, peak, first, second)) {
            return failure;
        }
    }
    if (source.padByte) {
        outputs_.appendToClippedWavs(std::array<std::uint8_t, 1>{0});
    }
    finishRead(picks);
    return std::nullopt;
}

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
