#include "app/clip_job.hpp"

#include "app/block_ring.hpp"
#include "clip/any_format_count.hpp"
#include "clip/peak_clip.hpp"
#include "console/text_layout.hpp"
#include "platform/large_memory.hpp"
#include "report/clip_plot.hpp"
#include "report/clip_report.hpp"
#include "report/labels.hpp"
#include "wav/batch_input.hpp"
#include "wav/clipped_wav.hpp"
#include "wav/samples.hpp"
#include "wav/wave_writer.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace tarvelle {

namespace {

// The levels a second thread counts, clips and writes while this one does
// the others: half each keeps both cores equally busy.
constexpr std::size_t firstBackgroundLevel = clipLevelCount / 2;

constexpr const char* isTheInputText = "the name leads to the input file";

// Puts a file written during the read in place; one never begun is the input's name.
OutputResult commitOrSay(std::optional<OutputFile>& file, const std::string& fileName)
{
    if (!file) {
        return notWritten(fileName, isTheInputText);
    }
    OutputResult result = file->commit();
    file.reset();
    return result;
}

// A block of the ring as the 16-bit samples its buffer holds.
std::span<const std::int16_t> asSamples(std::span<const std::uint8_t> block)
{
    return {reinterpret_cast<const std::int16_t*>(block.data()), block.size() / sizeof(std::int16_t)};
}

// Loads the ring's blocks of 16-bit stereo frames, past the data chunk as zeros.
BlockRing::Loader sampleLoader(const FileHandle& input, const WaveHeaderInfo& header)
{
    return [&input, &header](std::uint64_t firstByte, std::span<std::uint8_t> bytes) {
        const std::span<std::int16_t> samples(reinterpret_cast<std::int16_t*>(bytes.data()),
                                              bytes.size() / sizeof(std::int16_t));
        return loadSamples(input, header, static_cast<std::size_t>(firstByte / sizeof(std::int16_t)), samples) ==
               LoadResult::Loaded;
    };
}

// Loads the ring's blocks of any format: every byte must be there.
BlockRing::Loader byteLoader(const FileHandle& input, std::uint64_t dataOffset)
{
    return [&input, dataOffset](std::uint64_t firstByte, std::span<std::uint8_t> bytes) {
        return readAt(input, dataOffset + firstByte, bytes.data(), bytes.size()) == bytes.size();
    };
}

constexpr std::size_t classicFrameBytes = 2 * sizeof(std::int16_t);

// What a worker does with every block besides its levels: the check of the
// clipping already there, and the loudness, each on one thread only.
struct BlockAnalyses {
    ExistingClipDetector* detector = nullptr;
    LoudnessMeter* meter = nullptr;
    double fullScale = 1.0;
    PlotGatherer* plot = nullptr;

    // 16-bit samples go to the check and the picture as they are; the
    // loudness takes doubles (addLoudness).
    void add(std::span<const std::int16_t> samples) const
    {
        if (plot != nullptr) {
            plot->addEnvelope(samples);
        }
        if (detector != nullptr) {
            detector->addFrames(samples);
        }
    }

    void addLoudness(std::span<const double> samples) const { meter->addFrames(samples, fullScale); }

    void add(std::span<const double> samples) const
    {
        if (plot != nullptr) {
            plot->addFrames(samples);
        }
        if (detector != nullptr) {
            detector->addFrames(samples);
        }
        if (meter != nullptr) {
            meter->addFrames(samples, fullScale);
        }
    }
};

// The clipped files of levels first to last, or none where no clipped file
// is being written (reports only, a check, or every name the input's).
std::span<std::optional<OutputFile>> filesOf(std::array<std::optional<OutputFile>, clipLevelCount>& files,
                                             std::size_t first, std::size_t last)
{
    const bool anyBegun =
        std::any_of(files.begin(), files.end(), [](const auto& file) { return file.has_value(); });
    return anyBegun ? std::span(files).subspan(first, last - first) : std::span<std::optional<OutputFile>>();
}

// Counts the blocks of a 16-bit stereo file at some of the levels and, where
// files are being written, clips them at those levels and appends each to
// its level's file. The worker of level 0 also takes the peak again.
class ClassicWorker {
public:
    ClassicWorker(std::span<LevelCount> counts, std::span<std::optional<OutputFile>> files, bool takesPeak,
                  BlockAnalyses analyses)
        : counts_(counts), files_(files), takesPeak_(takesPeak), analyses_(analyses),
          clipped_(files.empty() ? 0 : BlockRing::targetBlockBytes / sizeof(std::int16_t)),
          samples_(analyses.meter != nullptr ? BlockRing::targetBlockBytes / sizeof(std::int16_t) : 0)
    {
    }

    void process(std::span<const std::uint8_t> bytes)
    {
        const std::span<const std::int16_t> block = asSamples(bytes);
        if (takesPeak_) {
            peak = std::max(peak, findPeak(block));
        }
        analyses_.add(block);
        if (analyses_.meter != nullptr) {
            const std::span<double> samples(samples_.data(), block.size());
            std::copy(block.begin(), block.end(), samples.begin());
            analyses_.addLoudness(samples);
        }
        countLevels(counts_, block);
        const std::span<std::int16_t> clipped(clipped_.data(), clipped_.empty() ? 0 : block.size());
        for (std::size_t index = 0; index < files_.size(); ++index) {
            std::optional<OutputFile>& file = files_[index];
            if (file && !file->failed()) {
                clipSamples(block, counts_[index].clipThreshold, clipped);
                file->append(littleEndianBytes(clipped));
            }
        }
    }

    std::int32_t peak = 0;

private:
    std::span<LevelCount> counts_;
    std::span<std::optional<OutputFile>> files_;
    bool takesPeak_;
    BlockAnalyses analyses_;
    std::vector<std::int16_t> clipped_;
    std::vector<double> samples_;
};

// The same for any format, by way of doubles.
class AnyFormatWorker {
public:
    AnyFormatWorker(const SampleFormat& format, std::span<AnyFormatLevelCount> counts,
                    std::span<std::optional<OutputFile>> files, bool takesPeak, BlockAnalyses analyses)
        : format_(format), counts_(counts), files_(files), takesPeak_(takesPeak), analyses_(analyses)
    {
        const std::size_t blockBytes = BlockRing::blockBytesFor(static_cast<std::size_t>(bytesPerFrame(format)));
        const std::size_t blockSamples = blockBytes / static_cast<std::size_t>(format.containerBytes);
        samples_.resize(blockSamples);
        if (!files.empty()) {
            clipped_.resize(blockSamples);
            encoded_.resize(blockBytes);
        }
    }

    void process(std::span<const std::uint8_t> bytes)
    {
        const std::span<double> samples(samples_.data(),
                                        bytes.size() / static_cast<std::size_t>(format_.containerBytes));
        decodeSamples(format_, bytes, samples);
        if (takesPeak_) {
            takePeak(peak, samples, 0);
        }
        analyses_.add(samples);
        countFrames(counts_, samples);
        const std::span<double> clipped(clipped_.data(), clipped_.empty() ? 0 : samples.size());
        const std::span<std::uint8_t> encoded(encoded_.data(), encoded_.empty() ? 0 : bytes.size());
        for (std::size_t index = 0; index < files_.size(); ++index) {
            std::optional<OutputFile>& file = files_[index];
            if (file && !file->failed()) {
                clipFrames(samples, counts_[index].clipThreshold, clipped);
                encodeSamples(format_, clipped, encoded);
                file->append(encoded);
            }
        }
    }

    AnyFormatPeak peak;

private:
    const SampleFormat& format_;
    std::span<AnyFormatLevelCount> counts_;
    std::span<std::optional<OutputFile>> files_;
    bool takesPeak_;
    BlockAnalyses analyses_;
    std::vector<double> samples_;
    std::vector<double> clipped_;
    std::vector<std::uint8_t> encoded_;
};

// Hands a worker every block of the ring in order, as the ring's reader
// number reader, until the last or until the ring stops.
template <class Worker> void workThrough(BlockRing& ring, std::size_t reader, Worker& worker)
{
    for (std::size_t index = 0; index < ring.blockCount(); ++index) {
        const std::optional<std::span<const std::uint8_t>> block = ring.block(index);
        if (!block) {
            return;
        }
        worker.process(*block);
        ring.done(reader, index);
    }
}

// Works through the blocks of a ring on a thread of its own, as its reader number 1.
template <class Worker> class BackgroundWorker {
public:
    BackgroundWorker(BlockRing& ring, Worker& worker) : ring_(ring), worker_(worker), thread_([this] { work(); })
    {
    }
    BackgroundWorker(const BackgroundWorker&) = delete;
    BackgroundWorker& operator=(const BackgroundWorker&) = delete;
    // Left early (an exception on this thread): the ring is stopped, so the
    // worker cannot wait for a block that will never come.
    ~BackgroundWorker()
    {
        ring_.stop();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    // Waits for the last block; passes on what the work threw.
    void finish()
    {
        if (thread_.joinable()) {
            thread_.join();
        }
        if (error_) {
            std::rethrow_exception(std::exchange(error_, nullptr));
        }
    }

private:
    void work()
    {
        try {
            workThrough(ring_, 1, worker_);
        } catch (...) {
            error_ = std::current_exception();
            ring_.stop();
        }
    }

    BlockRing& ring_;
    Worker& worker_;
    std::exception_ptr error_;
    std::thread thread_; // last: starts once the rest is ready
};

// The second read: levels from the split on done by a second thread where
// one can be had, the rest (all six, without one) here. makeWorker(first,
// last) makes the worker of those levels; the one of level 0 is returned,
// having taken the peak again (and the check, where there is one), and the
// one up to the last level measures the loudness. Nothing when the file
// could not be read.
template <class MakeWorker>
auto countAndWrite(BlockRing& ring, const MakeWorker& makeWorker) -> std::optional<decltype(makeWorker(0, 0))>
{
    using Worker = decltype(makeWorker(0, 0));
    std::size_t split = ring.readsAhead() ? firstBackgroundLevel : clipLevelCount;
    Worker background = makeWorker(split, clipLevelCount);
    std::optional<BackgroundWorker<Worker>> backgroundThread;
    if (split < clipLevelCount) {
        try {
            backgroundThread.emplace(ring, background);
        } catch (const std::system_error&) {
            // No second thread (a process limit): this one does all six.
            split = clipLevelCount;
            ring.done(1, ring.blockCount());
        }
    }
    Worker foreground = makeWorker(0, split);
    workThrough(ring, 0, foreground);
    if (backgroundThread) {
        backgroundThread->finish();
    }
    if (ring.readFailed()) {
        return std::nullopt;
    }
    return foreground;
}

// The read error's text with the system's reason; a file that ended before
// its data did has none to give.
std::string readErrorMessage(const std::string& reason)
{
    const std::string text = console::messageOnOneLine(inputErrorText(InputError::ReadError));
    return text + ": " + (reason.empty() ? "it ended before its data did" : reason);
}

std::string frameText(std::int64_t sampleIndex, int channels)
{
    return std::to_string(sampleIndex / channels);
}

} // namespace

std::uint64_t runMemoryBytes()
{
    // The ring's blocks, and each of the two workers' block decoded, clipped
    // and encoded again: 8 bytes of double a byte of 8-bit samples at worst.
    constexpr std::uint64_t block = BlockRing::targetBlockBytes;
    return BlockRing::bufferCount * block + 2 * (2 * sizeof(double) + 1) * block;
}

double ClipJob::durationSeconds() const
{
    return static_cast<double>(frameCount_) / format_.sampleRate;
}

std::variant<ClipJob, InputError> ClipJob::open(const std::string& inputFileName, const JobOptions& options,
                                                const JobProgress& progress)
{
    try {
        InputCheck check = checkInputFile(inputFileName);
        if (check.error) {
            return *check.error;
        }
        if (progress.accepted) {
            progress.accepted();
        }
        const std::optional<std::uint64_t> available = availableMemoryBytes();
        if (available && runMemoryBytes() > *available) {
            return InputError::NotEnoughMemory;
        }
        ClipJob job;
        job.inputFileName_ = inputFileName;
        job.options_ = options;
        job.header_ = check.header;
        job.inputIdentity_ = fileIdentity(*check.file);
        if (const std::optional<InputError> error = job.readClassic(*check.file, progress)) {
            return *error;
        }
        return job;
    } catch (const std::bad_alloc&) {
        return InputError::NotEnoughMemory;
    }
}

namespace {

// A name that leads to something (a folder, a file the user may not read) is
// told by the system's reason; "not found" is kept for a name that leads nowhere.
std::string openFailureMessage(const std::string& inputFileName, InputOpenFailure failure)
{
    if (failure == InputOpenFailure::InUse) {
        return std::string(inputErrorText(InputError::InUse));
    }
    std::string reason = lastFileErrorText();
    return fileIdentity(inputFileName) ? reason : std::string(inputErrorText(InputError::NotFound));
}

} // namespace

std::variant<ClipJob, std::string> ClipJob::openAnyFormat(const std::string& inputFileName,
                                                          const JobOptions& options, const JobProgress& progress)
{
    const auto because = [](InputError error) { return std::string(inputErrorText(error)); };
    try {
        if (inputFileName.empty() || inputFileName.find('\0') != std::string::npos) {
            return because(InputError::NotFound);
        }
        std::variant<FileHandle, InputOpenFailure> opened = tryOpenInputFile(inputFileName);
        if (const InputOpenFailure* failure = std::get_if<InputOpenFailure>(&opened)) {
            return openFailureMessage(inputFileName, *failure);
        }
        const FileHandle* file = &std::get<FileHandle>(opened);
        const std::optional<std::uint64_t> size = fileSize(*file);
        if (!size) {
            return readErrorMessage(lastFileErrorText());
        }
        std::variant<BatchInput, BatchRefused> read = readBatchInput(FileByteSource(*file, *size));
        if (const BatchRefused* refused = std::get_if<BatchRefused>(&read)) {
            // The reason of a failed read is still the system's to tell.
            return refused->reason == BatchRefusal::ReadError ? readErrorMessage(lastFileErrorText())
                                                              : refused->message;
        }
        BatchInput& input = std::get<BatchInput>(read);
        if (progress.accepted) {
            progress.accepted();
        }
        const std::optional<std::uint64_t> available = availableMemoryBytes();
        if (available && runMemoryBytes() > *available) {
            return because(InputError::NotEnoughMemory);
        }
        ClipJob job;
        job.inputFileName_ = inputFileName;
        job.options_ = options;
        job.warning_ = std::move(input.warning);
        job.inputIdentity_ = fileIdentity(*file);
        // A 16-bit stereo file at the dialogue's rates reads as it always has,
        // up to the size its header can give.
        if (isClassicFormat(input.format) && input.header.dataSize >= 0) {
            job.header_ = acceptWaveHeader(input.header);
            if (const std::optional<InputError> error = job.readClassic(*file, progress)) {
                return *error == InputError::ReadError ? readErrorMessage(job.readFailure_) : because(*error);
            }
            return job;
        }
        job.format_ = input.format;
        job.frameCount_ = input.frameCount;
        if (std::optional<std::string> error = job.readAnyFormat(*file, input.dataOffset, progress)) {
            return std::move(*error);
        }
        return job;
    } catch (const std::bad_alloc&) {
        return because(InputError::NotEnoughMemory);
    }
}

std::optional<InputError> ClipJob::readClassic(const FileHandle& input, const JobProgress& progress)
{
    format_ = SampleFormat{};
    format_.sampleRate = header_.sampleRate;
    frameCount_ = static_cast<std::uint64_t>(std::max(header_.samplesPerChannel, 0));
    const std::uint64_t dataBytes = frameCount_ * classicFrameBytes;
    std::array<std::int32_t, 2> halfPeaks{};
    if (std::optional<std::string> failure =
            readInHalves(dataBytes, classicFrameBytes, sampleLoader(input, header_),
                         [&](int half, std::uint64_t /*firstByte*/, std::span<const std::uint8_t> block) {
                             std::int32_t& peak = halfPeaks[static_cast<std::size_t>(half)];
                             peak = std::max(peak, findPeak(asSamples(block)));
                         })) {
        readFailure_ = std::move(*failure);
        return InputError::ReadError;
    }
    const std::int32_t peakLevel = std::max(halfPeaks[0], halfPeaks[1]);
    peak_ = peakLevel;
    if (progress.peakFound) {
        progress.peakFound();
    }

    SixLevelCount counts = startSixLevelCount(peakLevel, header_.rateFactor);
    nameLevels();
    for (LevelResult& level : levels_) {
        const auto index = static_cast<std::size_t>(level.stats.clipLevel);
        level.stats.clipThreshold = counts.levels[index].clipThreshold;
        counts.levels[index].onEvent = eventSink(index);
    }
    beginOutputs(clippedWavHeader(header_));
    const std::unique_ptr<ExistingClipDetector> detector = makeDetector(32768.0, false);
    const std::unique_ptr<LoudnessMeter> meter =
        options_.loudness ? std::make_unique<LoudnessMeter>(2, header_.sampleRate) : nullptr;
    startPlot();
    // A check counts no levels, unless for the picture.
    const std::span<LevelCount> levelCounts =
        options_.check && !options_.plot ? std::span<LevelCount>() : std::span<LevelCount>(counts.levels);
    BlockRing ring(dataBytes, classicFrameBytes, 2, sampleLoader(input, header_));
    const std::optional<ClassicWorker> levelZero = countAndWrite(ring, [&](std::size_t first, std::size_t last) {
        return ClassicWorker(levelCounts.empty() ? levelCounts : levelCounts.subspan(first, last - first),
                             filesOf(clippedWavs_, first, last), first == 0,
                             BlockAnalyses{first == 0 ? detector.get() : nullptr,
                                           last == clipLevelCount ? meter.get() : nullptr, 32768.0,
                                           first == 0 ? plotGatherer_.get() : nullptr});
    });
    if (!levelZero) {
        readFailure_ = ring.readFailure();
        return InputError::ReadError;
    }
    // A file changed between the two reads would be counted against the wrong peak.
    if (levelZero->peak != peakLevel) {
        return InputError::Changed;
    }
    finishSixLevelCount(counts);
    for (std::size_t index = 0; index < levels_.size(); ++index) {
        const LevelCount& count = counts.levels[index];
        levels_[index].stats.channels = {count.left, count.right};
        reports_[index] =
            clipReportText(inputFileName_, header_, static_cast<int>(index), count.left, count.right);
    }
    finishAnalyses(detector.get(), meter.get());
    return std::nullopt;
}

std::optional<std::string> ClipJob::readAnyFormat(const FileHandle& input, std::uint64_t dataOffset,
                                                  const JobProgress& progress)
{
    const auto frameBytes = static_cast<std::size_t>(bytesPerFrame(format_));
    const std::uint64_t dataBytes = frameCount_ * frameBytes;
    // Each half's peak, and where its first sample that is not a number is.
    std::array<AnyFormatPeak, 2> halves;
    std::array<std::vector<double>, 2> samples;
    const auto sampleBytes = static_cast<std::size_t>(format_.containerBytes);
    if (std::optional<std::string> failure =
            readInHalves(dataBytes, frameBytes, byteLoader(input, dataOffset),
                         [&](int half, std::uint64_t firstByte, std::span<const std::uint8_t> block) {
                             const auto index = static_cast<std::size_t>(half);
                             std::vector<double>& decoded = samples[index];
                             decoded.resize(block.size() / sampleBytes);
                             decodeSamples(format_, block, decoded);
                             takePeak(halves[index], decoded, static_cast<std::int64_t>(firstByte / sampleBytes));
                         })) {
        return readErrorMessage(*failure);
    }
    AnyFormatPeak peak{std::max(halves[0].peak, halves[1].peak),
                       halves[0].firstNonFinite >= 0 ? halves[0].firstNonFinite : halves[1].firstNonFinite};
    if (peak.firstNonFinite >= 0) {
        return "This Wave file holds a sample that is not a number (NaN or infinite) at frame " +
               frameText(peak.firstNonFinite, format_.channels);
    }
    peak_ = peak.peak;
    if (progress.peakFound) {
        progress.peakFound();
    }

    const EventLengthLimits limits = eventLengthLimits(format_.sampleRate);
    std::array<AnyFormatLevelCount, clipLevelCount> counts;
    nameLevels();
    for (LevelResult& level : levels_) {
        const int clipLevel = level.stats.clipLevel;
        level.stats.clipThreshold = thresholdForLevel(format_, peak_, clipLevel);
        const auto index = static_cast<std::size_t>(clipLevel);
        counts[index] = startAnyFormatCount(level.stats.clipThreshold, format_.channels, limits);
        counts[index].onEvent = eventSink(index);
    }
    beginOutputs(clippedWavHeaderFor(format_, frameCount_));
    const std::unique_ptr<ExistingClipDetector> detector =
        makeDetector(fullScale(format_), isFloat(format_.encoding));
    const std::unique_ptr<LoudnessMeter> meter =
        options_.loudness
            ? std::make_unique<LoudnessMeter>(format_.channels, format_.sampleRate, format_.channelMask)
            : nullptr;
    startPlot();
    const std::span<AnyFormatLevelCount> levelCounts = options_.check && !options_.plot
                                                           ? std::span<AnyFormatLevelCount>()
                                                           : std::span<AnyFormatLevelCount>(counts);
    BlockRing ring(dataBytes, frameBytes, 2, byteLoader(input, dataOffset));
    const std::optional<AnyFormatWorker> levelZero = countAndWrite(ring, [&](std::size_t first, std::size_t last) {
        return AnyFormatWorker(
            format_, levelCounts.empty() ? levelCounts : levelCounts.subspan(first, last - first),
            filesOf(clippedWavs_, first, last), first == 0,
            BlockAnalyses{first == 0 ? detector.get() : nullptr, last == clipLevelCount ? meter.get() : nullptr,
                          fullScale(format_), first == 0 ? plotGatherer_.get() : nullptr});
    });
    if (!levelZero) {
        return readErrorMessage(ring.readFailure());
    }
    if (levelZero->peak.peak != peak_ || levelZero->peak.firstNonFinite >= 0) {
        return std::string(inputErrorText(InputError::Changed));
    }
    // The size fields count a pad byte after data of an odd length.
    if (dataBytes % 2 != 0) {
        for (std::optional<OutputFile>& file : clippedWavs_) {
            if (file) {
                file->append(std::array<std::uint8_t, 1>{0});
            }
        }
    }
    for (std::size_t index = 0; index < levels_.size(); ++index) {
        finishAnyFormatCount(counts[index]);
        levels_[index].stats.channels = counts[index].channels;
        reports_[index] =
            clipReportText(inputFileName_, format_, frameCount_, static_cast<int>(index), counts[index].channels);
    }
    finishAnalyses(detector.get(), meter.get());
    return std::nullopt;
}

void ClipJob::nameLevels()
{
    for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
        LevelResult& level = levels_[static_cast<std::size_t>(clipLevel)];
        level.stats.clipLevel = clipLevel;
        level.names = outputNames(inputFileName_, clipLevel, options_.outputFolder);
        level.reportWanted = !options_.check;
        level.clippedWavWanted = !options_.check && !options_.reportsOnly;
        level.labelsWanted = !options_.check && options_.labels;
        level.clippedWav.fileName = level.names.clippedWav;
    }
    if (options_.check) {
        check_.emplace();
        check_->labelsWanted = options_.labels;
        check_->labels.fileName = checkLabelsName(inputFileName_, options_.outputFolder);
    }
}

int ClipJob::outputCount() const
{
    const int plot = options_.plot ? 1 : 0;
    if (options_.check) {
        return (options_.labels ? 1 : 0) + plot;
    }
    return clipLevelCount * (1 + (options_.reportsOnly ? 0 : 1) + (options_.labels ? 1 : 0)) + plot;
}

// The files of the read, each in a temporary file until run puts it in place.
void ClipJob::beginOutputs(std::span<const std::uint8_t> wavHeader)
{
    const auto begin = [this](std::optional<OutputFile>& file, const std::string& fileName) {
        if (!namesTheInput(fileName)) {
            file.emplace(OutputFile::begin(fileName));
        }
    };
    for (std::size_t index = 0; index < levels_.size(); ++index) {
        const LevelResult& level = levels_[index];
        if (level.clippedWavWanted) {
            begin(clippedWavs_[index], level.names.clippedWav);
            if (clippedWavs_[index]) {
                clippedWavs_[index]->append(wavHeader);
            }
        }
        if (level.labelsWanted) {
            begin(labelFiles_[index], level.names.labels);
        }
    }
    if (check_ && check_->labelsWanted) {
        begin(labelFiles_.back(), check_->labels.fileName);
    }
}

namespace {

// Label text goes to its file a few pages at a time.
constexpr std::size_t labelFlushBytes = std::size_t{1} << 16;

void flushLabels(std::string& text, std::optional<OutputFile>& file)
{
    if (file) {
        file->append(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    text.clear();
}

} // namespace

ClipEventSink ClipJob::eventSink(std::size_t level)
{
    if (!options_.keepEvents && !levels_[level].labelsWanted && !options_.plot) {
        return {};
    }
    return [this, level](const ClipEvent& event) {
        if (plotGatherer_) {
            plotGatherer_->addLevelRun(static_cast<int>(level), event.channel,
                                       static_cast<std::uint64_t>(event.startFrame),
                                       static_cast<std::uint64_t>(event.length));
        }
        if (options_.keepEvents) {
            levels_[level].events.push_back(event);
        }
        if (levels_[level].labelsWanted) {
            appendLabel(labelText_[level], LabelEvent{event.channel, event.startFrame, event.length},
                        format_.channels, format_.sampleRate, format_.channelMask);
            if (labelText_[level].size() >= labelFlushBytes) {
                flushLabels(labelText_[level], labelFiles_[level]);
            }
        }
    };
}

std::unique_ptr<ExistingClipDetector> ClipJob::makeDetector(double fullScale, bool isFloat)
{
    if (!check_) {
        return nullptr;
    }
    return std::make_unique<ExistingClipDetector>(
        ExistingClipFormat{format_.channels, fullScale, isFloat}, options_.minRunLength,
        [this](const ExistingClipRun& run) {
            // Overs are labelled but are not clipping: neither drawn nor listed as runs.
            const bool over = run.kind == ExistingClipKind::over;
            if (plotGatherer_ && !over) {
                plotGatherer_->addExistingRun(run.channel, static_cast<std::uint64_t>(run.startFrame),
                                              static_cast<std::uint64_t>(run.length));
            }
            if (options_.keepEvents && !over) {
                check_->runs.push_back(run);
            }
            if (check_->labelsWanted) {
                appendLabel(labelText_.back(), LabelEvent{run.channel, run.startFrame, run.length, over},
                            format_.channels, format_.sampleRate, format_.channelMask);
                if (labelText_.back().size() >= labelFlushBytes) {
                    flushLabels(labelText_.back(), labelFiles_.back());
                }
            }
        });
}

void ClipJob::startPlot()
{
    if (!options_.plot) {
        return;
    }
    std::array<double, clipLevelCount> thresholds{};
    for (std::size_t index = 0; index < levels_.size(); ++index) {
        thresholds[index] = levels_[index].stats.clipThreshold;
    }
    plotGatherer_ = std::make_unique<PlotGatherer>(format_.channels, frameCount_, thresholds);
    plotGatherer_->takeLevelsFromRuns();
    if (check_) {
        plotGatherer_->showExistingClipping();
    }
}

void ClipJob::finishPlot()
{
    if (!plotGatherer_) {
        return;
    }
    PlotHeading heading;
    heading.fileName = inputFileName_;
    heading.sampleRate = format_.sampleRate;
    heading.channelMask = format_.channelMask;
    heading.formatText = std::string(sampleFormatText(format_.encoding)) + ", " +
                         std::to_string(format_.channels) + (format_.channels == 1 ? " channel" : " channels");
    heading.fullScale = fullScale(format_);
    heading.peakDbfs = levelDbfs(peak_, heading.fullScale);
    if (loudness_ && std::isfinite(loudness_->truePeakDbtpOverall)) {
        heading.truePeakDbtp = loudness_->truePeakDbtpOverall;
    }
    LevelHistograms histograms;
    for (std::size_t index = 0; index < levels_.size(); ++index) {
        for (const ChannelClipStats& channel : levels_[index].stats.channels) {
            histograms[index].push_back(channel.eventLengthBins);
        }
    }
    plotText_ = clipPlotSvg(plotGatherer_->finish(), heading, histograms);
    plotGatherer_.reset();
}

// What the read measured besides the levels, and the files it fed.
void ClipJob::finishAnalyses(ExistingClipDetector* detector, const LoudnessMeter* meter)
{
    if (detector != nullptr) {
        check_->clipping = detector->finish();
    }
    if (meter != nullptr) {
        loudness_ = meter->finish();
    }
    finishLabels();
    finishPlot();
}

void ClipJob::finishLabels()
{
    for (std::size_t index = 0; index < labelText_.size(); ++index) {
        flushLabels(labelText_[index], labelFiles_[index]);
    }
}

int ClipJob::run(const LevelListener& listener)
{
    int failedOutputCount = 0;
    try {
        for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
            const auto index = static_cast<std::size_t>(clipLevel);
            if (listener.levelStarting) {
                listener.levelStarting(clipLevel);
            }
            LevelResult& level = levels_[index];
            const std::string& text = reports_[index];
            if (level.reportWanted) {
                level.report = namesTheInput(level.names.report)
                                   ? notWritten(level.names.report, isTheInputText)
                                   : writeOutputFile(level.names.report,
                                                     std::span(reinterpret_cast<const std::uint8_t*>(text.data()),
                                                               text.size()));
            }
            if (level.labelsWanted) {
                level.labels = commitOrSay(labelFiles_[index], level.names.labels);
            }
            if (level.clippedWavWanted) {
                level.clippedWav = commitOrSay(clippedWavs_[index], level.names.clippedWav);
            }
            failedOutputCount += level.failedOutputCount();
            if (listener.levelDone) {
                listener.levelDone(level);
            }
        }
        if (check_ && check_->labelsWanted) {
            check_->labels = commitOrSay(labelFiles_.back(), check_->labels.fileName);
            failedOutputCount += check_->labels.written ? 0 : 1;
        }
        if (options_.plot) {
            const std::string fileName = plotName(inputFileName_, options_.outputFolder);
            plot_ =
                namesTheInput(fileName)
                    ? notWritten(fileName, isTheInputText)
                    : writeOutputFile(fileName, std::span(reinterpret_cast<const std::uint8_t*>(plotText_.data()),
                                                          plotText_.size()));
            failedOutputCount += plot_.written ? 0 : 1;
        }
    } catch (...) {
        for (std::optional<OutputFile>& file : clippedWavs_) {
            file.reset();
        }
        for (std::optional<OutputFile>& file : labelFiles_) {
            file.reset();
        }
        throw;
    }
    return failedOutputCount;
}

// Whether an output name leads to the input itself, through a hard or a
// symbolic link: replacing it would destroy the recording.
bool ClipJob::namesTheInput(const std::string& outputName) const
{
    const std::optional<FileIdentity> output = fileIdentity(outputName);
    return output && inputIdentity_ && *output == *inputIdentity_;
}

} // namespace tarvelle
