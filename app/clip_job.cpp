#include "app/clip_job.hpp"

#include "app/block_ring.hpp"
#include "clip/any_format_count.hpp"
#include "clip/peak_clip.hpp"
#include "platform/large_memory.hpp"
#include "report/clip_report.hpp"
#include "wav/batch_input.hpp"
#include "wav/clipped_wav.hpp"
#include "wav/samples.hpp"
#include "wav/wave_writer.hpp"

#include <algorithm>
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

std::span<std::optional<OutputFile>> filesOf(std::array<std::optional<OutputFile>, clipLevelCount>& files,
                                             bool reportsOnly, std::size_t first, std::size_t last)
{
    return reportsOnly ? std::span<std::optional<OutputFile>>() : std::span(files).subspan(first, last - first);
}

// Counts the blocks of a 16-bit stereo file at some of the levels and, where
// files are being written, clips them at those levels and appends each to
// its level's file. The worker of level 0 also takes the peak again.
class ClassicWorker {
public:
    ClassicWorker(std::span<LevelCount> counts, std::span<std::optional<OutputFile>> files, bool takesPeak)
        : counts_(counts), files_(files), takesPeak_(takesPeak),
          clipped_(files.empty() ? 0 : BlockRing::targetBlockBytes / sizeof(std::int16_t))
    {
    }

    void process(std::span<const std::uint8_t> bytes)
    {
        const std::span<const std::int16_t> block = asSamples(bytes);
        if (takesPeak_) {
            peak = std::max(peak, findPeak(block));
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
    std::vector<std::int16_t> clipped_;
};

// The same for any format, by way of doubles.
class AnyFormatWorker {
public:
    AnyFormatWorker(const SampleFormat& format, std::span<AnyFormatLevelCount> counts,
                    std::span<std::optional<OutputFile>> files, bool takesPeak)
        : format_(format), counts_(counts), files_(files), takesPeak_(takesPeak)
    {
        const std::size_t frameBytes = static_cast<std::size_t>(bytesPerFrame(format));
        const std::size_t blockSamples =
            std::max<std::size_t>(1, BlockRing::targetBlockBytes / frameBytes) * static_cast<std::size_t>(format.channels);
        samples_.resize(blockSamples);
        if (!files.empty()) {
            clipped_.resize(blockSamples);
            encoded_.resize(blockSamples * static_cast<std::size_t>(format.containerBytes));
        }
    }

    void process(std::span<const std::uint8_t> bytes)
    {
        const std::span<double> samples(samples_.data(), bytes.size() / static_cast<std::size_t>(format_.containerBytes));
        decodeSamples(format_, bytes, samples);
        if (takesPeak_) {
            takePeak(peak, samples, 0);
        }
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
    std::vector<double> samples_;
    std::vector<double> clipped_;
    std::vector<std::uint8_t> encoded_;
};

// Works through the blocks of a ring on a thread of its own, as its reader number 1.
template <class Worker>
class BackgroundWorker {
public:
    BackgroundWorker(BlockRing& ring, Worker& worker) : ring_(ring), worker_(worker), thread_([this] { work(); }) {}
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
            for (std::size_t index = 0; index < ring_.blockCount(); ++index) {
                const std::optional<std::span<const std::uint8_t>> block = ring_.block(index);
                if (!block) {
                    return;
                }
                worker_.process(*block);
                ring_.done(1, index);
            }
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
// having taken the peak again. Nothing when the file could not be read.
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
    for (std::size_t index = 0; index < ring.blockCount(); ++index) {
        const std::optional<std::span<const std::uint8_t>> block = ring.block(index);
        if (!block) {
            break;
        }
        foreground.process(*block);
        ring.done(0, index);
    }
    if (backgroundThread) {
        backgroundThread->finish();
    }
    if (ring.readFailed()) {
        return std::nullopt;
    }
    return foreground;
}

std::string frameText(std::int64_t sampleIndex, int channels)
{
    return std::to_string(sampleIndex / channels);
}

} // namespace

std::uint64_t runMemoryBytes()
{
    // The ring, and per level a block of clipped samples as doubles and as bytes.
    return (BlockRing::bufferCount + 2 + clipLevelCount * 2) * BlockRing::targetBlockBytes * sizeof(double);
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

std::variant<ClipJob, std::string> ClipJob::openAnyFormat(const std::string& inputFileName,
                                                          const JobOptions& options, const JobProgress& progress)
{
    const auto because = [](InputError error) { return std::string(inputErrorText(error)); };
    try {
        std::optional<FileHandle> file;
        if (!inputFileName.empty() && inputFileName.find('\0') == std::string::npos) {
            file = openInputFile(inputFileName);
        }
        const std::optional<std::uint64_t> size = file ? fileSize(*file) : std::nullopt;
        if (!size) {
            return because(InputError::NotFound);
        }
        std::variant<BatchInput, BatchRefused> read = readBatchInput(FileByteSource(*file, *size));
        if (const BatchRefused* refused = std::get_if<BatchRefused>(&read)) {
            return refused->message;
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
            job.header_ = input.header;
            deriveWaveValues(job.header_);
            if (const std::optional<InputError> error = job.readClassic(*file, progress)) {
                return because(*error);
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
    std::int32_t peakLevel = 0;
    {
        BlockRing ring(dataBytes, classicFrameBytes, 1, sampleLoader(input, header_));
        for (std::size_t index = 0; index < ring.blockCount(); ++index) {
            const std::optional<std::span<const std::uint8_t>> block = ring.block(index);
            if (!block) {
                return InputError::NotFound;
            }
            peakLevel = std::max(peakLevel, findPeak(asSamples(*block)));
            ring.done(0, index);
        }
    }
    peak_ = peakLevel;
    if (progress.peakFound) {
        progress.peakFound();
    }

    SixLevelCount counts = startSixLevelCount(peakLevel, header_.rateFactor);
    nameLevels();
    for (LevelResult& level : levels_) {
        level.stats.clipThreshold = counts.levels[static_cast<std::size_t>(level.stats.clipLevel)].clipThreshold;
    }
    beginClippedWavs(clippedWavHeader(header_));
    BlockRing ring(dataBytes, classicFrameBytes, 2, sampleLoader(input, header_));
    const std::optional<ClassicWorker> levelZero = countAndWrite(ring, [&](std::size_t first, std::size_t last) {
        return ClassicWorker(std::span(counts.levels).subspan(first, last - first),
                             filesOf(clippedWavs_, options_.reportsOnly, first, last), first == 0);
    });
    if (!levelZero) {
        return InputError::NotFound;
    }
    // A file changed between the two reads would be counted against the wrong peak.
    if (levelZero->peak != peakLevel) {
        return InputError::Changed;
    }
    finishSixLevelCount(counts);
    for (std::size_t index = 0; index < levels_.size(); ++index) {
        const LevelCount& count = counts.levels[index];
        levels_[index].stats.channels = {count.left, count.right};
        reports_[index] = clipReportText(inputFileName_, header_, static_cast<int>(index), count.left, count.right);
    }
    return std::nullopt;
}

std::optional<std::string> ClipJob::readAnyFormat(const FileHandle& input, std::uint64_t dataOffset,
                                                  const JobProgress& progress)
{
    const auto frameBytes = static_cast<std::size_t>(bytesPerFrame(format_));
    const std::uint64_t dataBytes = frameCount_ * frameBytes;
    const std::string unreadable = std::string(inputErrorText(InputError::NotFound));
    AnyFormatPeak peak;
    {
        BlockRing ring(dataBytes, frameBytes, 1, byteLoader(input, dataOffset));
        std::vector<double> samples;
        std::int64_t firstSample = 0;
        for (std::size_t index = 0; index < ring.blockCount(); ++index) {
            const std::optional<std::span<const std::uint8_t>> block = ring.block(index);
            if (!block) {
                return unreadable;
            }
            samples.resize(block->size() / static_cast<std::size_t>(format_.containerBytes));
            decodeSamples(format_, *block, samples);
            takePeak(peak, samples, firstSample);
            firstSample += static_cast<std::int64_t>(samples.size());
            ring.done(0, index);
        }
    }
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
        counts[static_cast<std::size_t>(clipLevel)] =
            startAnyFormatCount(level.stats.clipThreshold, format_.channels, limits);
    }
    beginClippedWavs(clippedWavHeaderFor(format_, frameCount_));
    BlockRing ring(dataBytes, frameBytes, 2, byteLoader(input, dataOffset));
    const std::optional<AnyFormatWorker> levelZero = countAndWrite(ring, [&](std::size_t first, std::size_t last) {
        return AnyFormatWorker(format_, std::span(counts).subspan(first, last - first),
                               filesOf(clippedWavs_, options_.reportsOnly, first, last), first == 0);
    });
    if (!levelZero) {
        return unreadable;
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
    return std::nullopt;
}

void ClipJob::nameLevels()
{
    for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
        LevelResult& level = levels_[static_cast<std::size_t>(clipLevel)];
        level.stats.clipLevel = clipLevel;
        level.names = outputNames(inputFileName_, clipLevel, options_.outputFolder);
        level.clippedWavWanted = !options_.reportsOnly;
        level.clippedWav.fileName = level.names.clippedWav;
    }
}

void ClipJob::beginClippedWavs(std::span<const std::uint8_t> header)
{
    if (options_.reportsOnly) {
        return;
    }
    for (std::size_t index = 0; index < levels_.size(); ++index) {
        const std::string& fileName = levels_[index].names.clippedWav;
        if (!namesTheInput(fileName)) {
            clippedWavs_[index].emplace(OutputFile::begin(fileName));
            clippedWavs_[index]->append(header);
        }
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
            level.report = namesTheInput(level.names.report)
                               ? notWritten(level.names.report, isTheInputText)
                               : writeOutputFile(level.names.report,
                                                 std::span(reinterpret_cast<const std::uint8_t*>(text.data()),
                                                           text.size()));
            if (level.clippedWavWanted) {
                level.clippedWav = clippedWavs_[index] ? clippedWavs_[index]->commit()
                                                       : notWritten(level.names.clippedWav, isTheInputText);
                clippedWavs_[index].reset();
            }
            failedOutputCount += level.failedOutputCount();
            if (listener.levelDone) {
                listener.levelDone(level);
            }
        }
    } catch (...) {
        for (std::optional<OutputFile>& file : clippedWavs_) {
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
