#include "engine/clip_job.hpp"

#include "engine/block_ring.hpp"
#include "platform/large_memory.hpp"
#include "source/other_input.hpp"
#include "source/stream_input.hpp"
#include "wav/batch_input.hpp"

#include <new>

namespace tarvelle {

namespace {

// The dialogue's file is 16-bit: its samples are always numbers, and any
// other failure of its read is a read error.
JobError readFailure(const JobError& failure)
{
    return failure.kind == JobError::Kind::Changed ? failure : JobError(JobError::Kind::ReadError, failure.reason);
}

bool enoughMemory()
{
    const std::optional<std::uint64_t> available = availableMemoryBytes();
    return !available || runMemoryBytes() <= *available;
}

} // namespace

std::uint64_t runMemoryBytes()
{
    // The ring's blocks, and on each of the two threads a block made doubles,
    // clipped and encoded again: 8 bytes of double a byte of 8-bit samples at worst.
    constexpr std::uint64_t block = BlockRing::targetBlockBytes;
    return BlockRing::bufferCount * block + 2 * (2 * sizeof(double) + 1) * block;
}

std::variant<ClipJob, JobError> ClipJob::open(const std::string& inputFileName, const JobOptions& options,
                                              const JobProgress& progress)
{
    try {
        InputCheck check = checkInputFile(inputFileName);
        if (check.error) {
            return JobError(*check.error, check.systemReason);
        }
        if (progress.accepted) {
            progress.accepted();
        }
        if (!enoughMemory()) {
            return JobError(JobError::Kind::NotEnoughMemory);
        }
        ClipJob job;
        job.result_.inputFileName = inputFileName;
        job.options_ = options;
        job.stemRule_ = StemRule::LastFourBytes;
        job.header_ = check.header;
        job.outputs_.protect(fileIdentity(*check.file));
        if (const std::optional<JobError> failure = job.readClassic(*check.file, progress)) {
            return readFailure(*failure);
        }
        return job;
    } catch (const std::bad_alloc&) {
        return JobError(JobError::Kind::NotEnoughMemory);
    }
}

namespace {

// A name that leads to something (a folder, a file the user may not read) is
// told by the system's reason; "not found" is kept for a name that leads nowhere.
JobError openFailure(const std::string& inputFileName, InputOpenFailure failure)
{
    if (failure == InputOpenFailure::InUse) {
        return JobError(JobError::Kind::InUse);
    }
    std::string reason = lastFileErrorText();
    if (!fileIdentity(inputFileName)) {
        return JobError(JobError::Kind::NotFound);
    }
    return JobError(JobError::Kind::Unopenable, std::move(reason));
}

} // namespace

std::variant<ClipJob, JobError> ClipJob::openAnyFormat(const std::string& inputFileName, const JobOptions& options,
                                                       const JobProgress& progress)
{
    try {
        if (inputFileName.empty() || inputFileName.find('\0') != std::string::npos) {
            return JobError(JobError::Kind::NotFound);
        }
        std::variant<FileHandle, InputOpenFailure> opened = tryOpenInputFile(inputFileName);
        if (const InputOpenFailure* failure = std::get_if<InputOpenFailure>(&opened)) {
            return openFailure(inputFileName, *failure);
        }
        const FileHandle* file = &std::get<FileHandle>(opened);
        const std::optional<std::uint64_t> size = fileSize(*file);
        if (!size) {
            return JobError(JobError::Kind::ReadError, lastFileErrorText());
        }
        std::variant<BatchInput, BatchRefused> read = readBatchInput(FileByteSource(*file, *size));
        if (BatchRefused* refused = std::get_if<BatchRefused>(&read);
            refused && refused->reason == BatchRefusal::NotWave) {
            return openOther(inputFileName, *file, *size, std::move(*refused), options, progress);
        }
        if (BatchRefused* refused = std::get_if<BatchRefused>(&read)) {
            // The reason of a failed read is still the system's to tell.
            if (refused->reason == BatchRefusal::ReadError) {
                return JobError(JobError::Kind::ReadError, lastFileErrorText());
            }
            return JobError::refused(std::move(*refused));
        }
        BatchInput& input = std::get<BatchInput>(read);
        std::variant<ClipJob, JobError> made = acceptedJob(inputFileName, file, options, progress);
        if (!std::holds_alternative<ClipJob>(made)) {
            return made;
        }
        ClipJob& job = std::get<ClipJob>(made);
        job.result_.warning = std::move(input.warning);
        std::optional<JobError> failure;
        // A 16-bit stereo file at the dialogue's rates reads as it always has,
        // up to the size its header can give.
        if (isClassicFormat(input.format) && input.header.dataSize >= 0) {
            job.header_ = acceptWaveHeader(input.header);
            failure = job.readClassic(*file, progress);
        } else {
            job.result_.format = input.format;
            job.result_.frameCount = input.frameCount;
            failure = job.readAnyFormat(*file, input.dataOffset, progress);
        }
        if (failure) {
            return std::move(*failure);
        }
        return made;
    } catch (const std::bad_alloc&) {
        return JobError(JobError::Kind::NotEnoughMemory);
    }
}

std::variant<ClipJob, JobError> ClipJob::acceptedJob(const std::string& inputFileName, const FileHandle* file,
                                                     const JobOptions& options, const JobProgress& progress)
{
    if (progress.accepted) {
        progress.accepted();
    }
    if (!enoughMemory()) {
        return JobError(JobError::Kind::NotEnoughMemory);
    }
    ClipJob job;
    job.result_.inputFileName = options.inputName.empty() ? inputFileName : options.inputName;
    job.options_ = options;
    if (file != nullptr) {
        job.outputs_.protect(fileIdentity(*file));
    }
    return job;
}

bool ClipJob::readsOnce(const JobOptions& options)
{
    return options.check && !options.plot;
}

std::variant<ClipJob, JobError> ClipJob::openStream(StreamInput& input, const JobOptions& options,
                                                    const JobProgress& progress)
{
    try {
        std::variant<BatchInput, BatchRefused> read = readBatchInput(input);
        if (BatchRefused* refused = std::get_if<BatchRefused>(&read);
            refused && refused->reason == BatchRefusal::NotWave) {
            return openOtherStream(input, JobError::refused(std::move(*refused)), options, progress);
        }
        if (BatchRefused* refused = std::get_if<BatchRefused>(&read)) {
            if (refused->reason == BatchRefusal::ReadError) {
                return JobError(JobError::Kind::ReadError,
                                input.keptTooMuch() ? "its header is too long to keep" : lastFileErrorText());
            }
            return JobError::refused(std::move(*refused));
        }
        const BatchInput& batch = std::get<BatchInput>(read);
        std::variant<ClipJob, JobError> made = acceptedJob(options.inputName, nullptr, options, progress);
        if (!std::holds_alternative<ClipJob>(made)) {
            return made;
        }
        ClipJob& job = std::get<ClipJob>(made);
        if (std::optional<JobError> failure = job.readStream(input, batch, progress)) {
            return std::move(*failure);
        }
        // A header's size left unknown is what a pipe's writer does; one that
        // is given but not met is told.
        const auto frameBytes = static_cast<std::uint64_t>(bytesPerFrame(batch.format));
        if (batch.warning.empty() && job.result_.frameCount < batch.frameCount) {
            job.result_.warning =
                "The data chunk's header gives " + std::to_string(batch.frameCount * frameBytes) +
                " bytes but standard input held " + std::to_string(job.result_.frameCount * frameBytes) +
                ": read as " + std::to_string(job.result_.frameCount) + " whole frames";
        }
        return made;
    } catch (const std::bad_alloc&) {
        return JobError(JobError::Kind::NotEnoughMemory);
    }
}

std::variant<ClipJob, JobError> ClipJob::acceptedOther(std::variant<OtherInput, BatchRefused>& other,
                                                       const std::string& inputFileName, const FileHandle* file,
                                                       const JobOptions& options, const JobProgress& progress)
{
    if (BatchRefused* refused = std::get_if<BatchRefused>(&other)) {
        return JobError::refused(std::move(*refused));
    }
    const OtherInput& input = std::get<OtherInput>(other);
    std::variant<ClipJob, JobError> made = acceptedJob(inputFileName, file, options, progress);
    if (ClipJob* job = std::get_if<ClipJob>(&made)) {
        job->clippedExtension_ = input.clippedExtension;
        job->result_.format = input.format;
        job->result_.container = input.container;
        job->result_.frameCount = input.frameCount;
    }
    return made;
}

std::variant<ClipJob, JobError> ClipJob::openOtherStream(StreamInput& input, JobError notWave,
                                                         const JobOptions& options, const JobProgress& progress)
{
    std::optional<std::variant<OtherInput, BatchRefused>> other =
        tarvelle::openOtherStream(input, options.inputName);
    if (!other) {
        return notWave;
    }
    std::variant<ClipJob, JobError> made = acceptedOther(*other, options.inputName, nullptr, options, progress);
    if (ClipJob* job = std::get_if<ClipJob>(&made)) {
        const OtherInput& stream = std::get<OtherInput>(*other);
        if (std::optional<JobError> failure = job->readOtherStream(stream, progress)) {
            return std::move(*failure);
        }
        if (job->result_.frameCount < stream.frameCount) {
            job->result_.warning = "The " + std::string(stream.container) + " header gives " +
                                   std::to_string(stream.frameCount) + " frames but standard input held " +
                                   std::to_string(job->result_.frameCount);
        }
    }
    return made;
}

std::variant<ClipJob, JobError> ClipJob::openOther(const std::string& inputFileName, const FileHandle& file,
                                                   std::uint64_t size, BatchRefused notWave,
                                                   const JobOptions& options, const JobProgress& progress)
{
    std::variant<OtherInput, BatchRefused> other = openOtherInput(file, inputFileName, size, std::move(notWave));
    std::variant<ClipJob, JobError> made = acceptedOther(other, inputFileName, &file, options, progress);
    if (ClipJob* job = std::get_if<ClipJob>(&made)) {
        if (std::optional<JobError> failure =
                job->readAnyFormat(file, 0, progress, &std::get<OtherInput>(other))) {
            return std::move(*failure);
        }
    }
    return made;
}

std::string ClipJob::namingName() const
{
    // A given name is the stem: the four bytes added go again.
    return options_.inputName.empty() ? result_.inputFileName : options_.inputName + ".wav";
}

void ClipJob::nameLevels()
{
    const std::string name = namingName();
    for (int clipLevel = 0; clipLevel < clipLevelCount; ++clipLevel) {
        LevelResult& level = result_.levels[static_cast<std::size_t>(clipLevel)];
        level.stats.clipLevel = clipLevel;
        level.names = outputNames(name, clipLevel, options_.outputFolder, clippedExtension_, stemRule_);
        level.reportWanted = !options_.check;
        level.clippedWavWanted = !options_.check && !options_.reportsOnly;
        level.labelsWanted = !options_.check && options_.labels;
        level.clippedWav.fileName = level.names.clippedWav;
    }
    if (options_.check) {
        result_.check.emplace();
        result_.check->labelsWanted = options_.labels;
        result_.check->labels.fileName = options_.delivery
                                             ? outputStem(name, options_.outputFolder) + " delivery labels.txt"
                                             : checkLabelsName(name, options_.outputFolder);
    }
}

std::array<double, clipLevelCount> ClipJob::thresholds() const
{
    std::array<double, clipLevelCount> thresholds{};
    for (std::size_t index = 0; index < thresholds.size(); ++index) {
        thresholds[index] = result_.levels[index].stats.clipThreshold;
    }
    return thresholds;
}

int ClipJob::outputCount() const
{
    const int plot = options_.plot ? 1 : 0;
    if (options_.check) {
        return (options_.labels ? 1 : 0) + plot;
    }
    return clipLevelCount * (1 + (options_.reportsOnly ? 0 : 1) + (options_.labels ? 1 : 0)) + plot;
}

void ClipJob::runLevel(std::size_t index, const LevelListener& listener, int& failedOutputCount)
{
    if (listener.levelStarting) {
        listener.levelStarting(static_cast<int>(index));
    }
    LevelResult& level = result_.levels[index];
    if (level.reportWanted) {
        level.report = outputs_.writeWhole(level.names.report, result_.reports[index]);
    }
    if (level.labelsWanted) {
        level.labels = outputs_.commitLabelTrack(index, level.names.labels);
    }
    if (level.clippedWavWanted) {
        level.clippedWav = outputs_.commitClippedWav(index, level.names.clippedWav);
    }
    failedOutputCount += level.failedOutputCount();
    if (listener.levelDone) {
        listener.levelDone(level);
    }
}

int ClipJob::run(const LevelListener& listener)
{
    int failedOutputCount = 0;
    try {
        for (std::size_t index = 0; index < result_.levels.size(); ++index) {
            runLevel(index, listener, failedOutputCount);
        }
        if (result_.check && result_.check->labelsWanted) {
            result_.check->labels = outputs_.commitLabelTrack(checkLabelTrack, result_.check->labels.fileName);
            failedOutputCount += result_.check->labels.written ? 0 : 1;
        }
        if (options_.plot) {
            result_.plot = outputs_.writeWhole(plotName(namingName(), options_.outputFolder), result_.plotText);
            failedOutputCount += result_.plot.written ? 0 : 1;
        }
    } catch (...) {
        outputs_.end();
        throw;
    }
    outputs_.end();
    return failedOutputCount;
}

} // namespace tarvelle
