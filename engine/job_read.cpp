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
#include "engine/job_source.hpp"
#include "engine/read_passes.hpp"

#include <array>
#include <atomic>
#include <memory>
#include <stdexcept>

namespace tarvelle {

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

// The sources read through it.
template std::optional<JobError> ClipJob::read(const Source<std::int16_t>& source, const JobProgress& progress);
template std::optional<JobError> ClipJob::read(const Source<double>& source, const JobProgress& progress);

} // namespace tarvelle
