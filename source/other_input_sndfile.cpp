#include "source/other_input.hpp"
#include "source/sndfile_formats.hpp"
#include "source/sndfile_output.hpp"
#include "source/stream_input.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace tarvelle {

namespace {

// libsndfile on a stream. While it opens, it walks and seeks about in the
// stream's first bytes, kept (a bounded head, so that memory does not grow
// with the stream and the stream can still be spooled if it will not open);
// the length is unknown, as a pipe's is to libsndfile. Once open, it reads
// on: a seek forward skips, one back before what is kept fails.
struct VirtualStream {
    StreamInput* stream = nullptr;
    std::uint64_t position = 0;
    bool opening = true;
    std::string failure; // the system's reason for the first read that failed
    static SF_VIRTUAL_IO io;
};

// Enough for any header but one carrying large pictures, which is spooled.
constexpr std::uint64_t streamHeadBytes = std::uint64_t{1} << 20;

VirtualStream& virtualStream(void* user)
{
    return *static_cast<VirtualStream*>(user);
}

sf_count_t streamLength(void*)
{
    return SF_COUNT_MAX;
}

sf_count_t streamSeek(sf_count_t offset, int whence, void* user)
{
    VirtualStream& stream = virtualStream(user);
    // Its end cannot be sought: mpg123, for one, then takes it for a pipe.
    const sf_count_t base = whence == SEEK_CUR ? static_cast<sf_count_t>(stream.position) : 0;
    if (whence == SEEK_END || (offset > 0 && base > SF_COUNT_MAX - offset) || base + offset < 0) {
        return -1;
    }
    stream.position = static_cast<std::uint64_t>(base + offset);
    return static_cast<sf_count_t>(stream.position);
}

sf_count_t streamRead(void* bytes, sf_count_t count, void* user)
{
    VirtualStream& stream = virtualStream(user);
    std::span buffer(static_cast<std::uint8_t*>(bytes), static_cast<std::size_t>(count));
    std::optional<std::size_t> read;
    if (stream.opening) {
        // Past the head, an end, as a short file's: the open fails, or looks no further.
        if (stream.position >= streamHeadBytes) {
            return 0;
        }
        buffer = buffer.first(
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), streamHeadBytes - stream.position)));
        read = stream.stream->readAt(stream.position, buffer);
    } else {
        read = stream.stream->readFrom(stream.position, buffer);
    }
    if (!read) {
        if (stream.failure.empty()) {
            stream.failure = stream.opening || !stream.stream->goneBy(stream.position)
                                 ? lastFileErrorText()
                                 : "libsndfile read standard input back to a byte already passed on";
        }
        return 0;
    }
    stream.position += *read;
    return static_cast<sf_count_t>(*read);
}

sf_count_t streamWrite(const void*, sf_count_t, void*)
{
    return 0;
}

sf_count_t streamTell(void* user)
{
    return static_cast<sf_count_t>(virtualStream(user).position);
}

SF_VIRTUAL_IO VirtualStream::io{streamLength, streamSeek, streamRead, streamWrite, streamTell};

// One reading of the input: its own libsndfile handle and place in it.
class SndfileReader {
public:
    // A file's, opened on it afresh.
    SndfileReader(const FileHandle& file, std::uint64_t fileSize, const SampleFormat& format,
                  std::string_view container, std::optional<SpeakerOrder> order)
        : SndfileReader(format, container, order)
    {
        file_.file = &file;
        file_.size = fileSize;
        SF_INFO info{};
        adopt(sf_open_virtual(&VirtualFile::io, SFM_READ, &info, &file_), file_.failure);
    }
    // A stream's, opened on stream already.
    SndfileReader(std::unique_ptr<VirtualStream> stream, SNDFILE* sndfile, const SampleFormat& format,
                  std::string_view container, std::optional<SpeakerOrder> order)
        : SndfileReader(format, container, order)
    {
        stream_ = std::move(stream);
        stream_->opening = false;
        adopt(sndfile, stream_->failure);
    }
    SndfileReader(const SndfileReader&) = delete;
    SndfileReader& operator=(const SndfileReader&) = delete;
    ~SndfileReader()
    {
        if (sndfile_ != nullptr) {
            sf_close(sndfile_);
        }
    }

    std::optional<std::string> load(std::uint64_t firstByte, std::span<std::uint8_t> block)
    {
        if (sndfile_ == nullptr) {
            return failure(sf_strerror(nullptr));
        }
        const auto channels = static_cast<std::uint64_t>(format_.channels);
        const std::uint64_t frame = firstByte / sizeof(double) / channels;
        if (frame != position_ && sf_seek(sndfile_, static_cast<sf_count_t>(frame), SEEK_SET) < 0) {
            return failure(sf_strerror(sndfile_));
        }
        position_ = frame;
        if (decode(block) == block.size() / sizeof(double) / channels) {
            return std::nullopt;
        }
        if (std::optional<std::string> reason = whyShort()) {
            return reason;
        }
        throw DecodeFailure(formatted("This %s file ends at %.3f s, before the length its header gives",
                                      container_.c_str(), seconds()));
    }

    // The next frames of a stream, as many bytes of them as decoded: fewer
    // than block holds only at its end.
    std::variant<std::size_t, std::string> next(std::span<std::uint8_t> block)
    {
        const std::size_t frames = decode(block);
        if (frames < block.size() / sizeof(double) / static_cast<std::size_t>(format_.channels)) {
            if (std::optional<std::string> reason = whyShort()) {
                return std::move(*reason);
            }
        }
        return frames * static_cast<std::size_t>(format_.channels) * sizeof(double);
    }

private:
    SndfileReader(const SampleFormat& format, std::string_view container, std::optional<SpeakerOrder> order)
        : format_(format), container_(container), order_(order)
    {
    }

    void adopt(SNDFILE* sndfile, const std::string& ioFailure)
    {
        sndfile_ = sndfile;
        ioFailure_ = &ioFailure;
        if (sndfile_ != nullptr) {
            // Overs of a lossy file stay overs.
            sf_command(sndfile_, SFC_SET_CLIPPING, nullptr, SF_FALSE);
        }
    }

    double seconds() const { return static_cast<double>(position_) / format_.sampleRate; }

    // Frames decoded from where the reader is into block's doubles, in WAV's speaker order.
    std::size_t decode(std::span<std::uint8_t> block)
    {
        const std::span<double> samples(reinterpret_cast<double*>(block.data()), block.size() / sizeof(double));
        const auto channels = static_cast<std::size_t>(format_.channels);
        const auto read = static_cast<std::size_t>(
            std::max<sf_count_t>(readFrames(samples, static_cast<sf_count_t>(samples.size() / channels)), 0));
        position_ += read;
        if (order_) {
            reorder(samples.first(read * channels));
        }
        return read;
    }

    // Why a read came short, where not at the end: the system's reason, or a
    // frame that would not decode (thrown, with its time).
    std::optional<std::string> whyShort() const
    {
        if (!ioFailure_->empty()) {
            return *ioFailure_;
        }
        if (sf_error(sndfile_) != SF_ERR_NO_ERROR) {
            std::string reason = sf_strerror(sndfile_);
            if (reason.starts_with("Error : ")) {
                reason.erase(0, 8);
            }
            throw DecodeFailure(formatted("This %s file could not be decoded past %.3f s (libsndfile: %s)",
                                          container_.c_str(), seconds(), reason.c_str()));
        }
        return std::nullopt;
    }

    void reorder(std::span<double> samples) const
    {
        const auto channels = static_cast<std::size_t>(format_.channels);
        std::array<double, 8> frame{};
        for (std::size_t first = 0; first < samples.size(); first += channels) {
            std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(first), channels, frame.begin());
            for (std::size_t channel = 0; channel < channels; ++channel) {
                samples[first + channel] = frame[order_->fromOgg[channel]];
            }
        }
    }

    std::optional<std::string> failure(const char* reason) const
    {
        return ioFailure_->empty() ? "libsndfile: " + std::string(reason) : *ioFailure_;
    }

    // Each block decoded once, straight into the ring's doubles.
    sf_count_t readFrames(std::span<double> samples, sf_count_t frames)
    {
        switch (format_.encoding) {
        case SampleEncoding::Float64:
            return sf_readf_double(sndfile_, samples.data(), frames);
        case SampleEncoding::Float32:
            return convert(floats_, samples, frames, 1.0, sf_readf_float);
        case SampleEncoding::Int16:
            return convert(shorts_, samples, frames, 1.0, sf_readf_short);
        default:
            // Left-justified in 32 bits: shifted down, an exact division.
            return convert(integers_, samples, frames,
                           1.0 / static_cast<double>(std::uint64_t{1} << (32 - 8 * format_.containerBytes)),
                           sf_readf_int);
        }
    }

    template <class Value, class ReadFrames>
    sf_count_t convert(std::vector<Value>& values, std::span<double> samples, sf_count_t frames, double scale,
                       ReadFrames readFrames)
    {
        values.resize(samples.size());
        const sf_count_t read = readFrames(sndfile_, values.data(), frames);
        const auto count =
            static_cast<std::size_t>(std::max<sf_count_t>(read, 0)) * static_cast<std::size_t>(format_.channels);
        std::transform(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(count), samples.begin(),
                       [scale](Value value) { return static_cast<double>(value) * scale; });
        return read;
    }

    SampleFormat format_;
    std::string container_;
    std::optional<SpeakerOrder> order_;
    VirtualFile file_;
    std::unique_ptr<VirtualStream> stream_;
    const std::string* ioFailure_ = nullptr; // the reason of the input's first failed read
    SNDFILE* sndfile_ = nullptr;
    std::uint64_t position_ = 0;
    std::vector<float> floats_;
    std::vector<short> shorts_;
    std::vector<int> integers_;
};

} // namespace

std::variant<OtherInput, BatchRefused> openOtherInput(const FileHandle& file, const std::string& fileName,
                                                      std::uint64_t fileSize, BatchRefused notWave)
{
    if (fileSize == 0) {
        return notWave;
    }
    VirtualFile probe;
    probe.file = &file;
    probe.size = fileSize;
    SF_INFO info{};
    SNDFILE* sndfile = sf_open_virtual(&VirtualFile::io, SFM_READ, &info, &probe);
    if (sndfile == nullptr) {
        return cannotRead(std::move(notWave), probe.failure.empty() ? sf_strerror(nullptr) : probe.failure);
    }
    sf_close(sndfile);
    std::array<std::uint8_t, 12> start{};
    const std::size_t startSize = readAt(file, 0, start.data(), start.size()).value_or(0);
    std::optional<SpeakerOrder> order;
    std::variant<OtherInput, BatchRefused> described =
        describeSndfileInput(info, std::span(start).first(startSize), fileName, order);
    OtherInput* input = std::get_if<OtherInput>(&described);
    if (input != nullptr && info.frames == SF_COUNT_MAX) {
        // A length the header leaves unknown (a FLAC written to a pipe) is
        // found by decoding the file through once.
        SndfileReader reader(file, fileSize, input->format, input->container, order);
        std::vector<std::uint8_t> block(4096 * sizeof(double) * static_cast<std::size_t>(info.channels));
        input->frameCount = 0;
        for (std::size_t bytes = block.size(); bytes == block.size();) {
            try {
                std::variant<std::size_t, std::string> read = reader.next(block);
                if (std::string* failure = std::get_if<std::string>(&read)) {
                    return BatchRefused{BatchRefusal::ReadError, std::move(*failure)};
                }
                bytes = std::get<std::size_t>(read);
            } catch (const DecodeFailure& failure) {
                return BatchRefused{BatchRefusal::Corrupt, failure.what()};
            }
            input->frameCount += bytes / sizeof(double) / static_cast<std::size_t>(info.channels);
        }
    }
    if (input != nullptr) {
        input->makeLoader = [&file, fileSize, format = input->format, container = input->container, order] {
            auto reader = std::make_shared<SndfileReader>(file, fileSize, format, container, order);
            return [reader](std::uint64_t firstByte, std::span<std::uint8_t> block) {
                return reader->load(firstByte, block);
            };
        };
    }
    return described;
}

std::optional<std::variant<OtherInput, BatchRefused>> openOtherStream(StreamInput& stream, const std::string& name)
{
    auto io = std::make_unique<VirtualStream>();
    io->stream = &stream;
    SF_INFO info{};
    SNDFILE* sndfile = sf_open_virtual(&VirtualStream::io, SFM_READ, &info, io.get());
    if (sndfile == nullptr) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 12> start{};
    const std::size_t startSize = stream.readAt(0, start).value_or(0);
    std::optional<SpeakerOrder> order;
    std::variant<OtherInput, BatchRefused> described =
        describeSndfileInput(info, std::span(start).first(startSize), name, order);
    OtherInput* input = std::get_if<OtherInput>(&described);
    if (input == nullptr) {
        sf_close(sndfile);
        return described;
    }
    // A count no file could hold is a pipe's writer's "unknown".
    constexpr std::uint64_t largestCount = std::uint64_t{1} << 40;
    if (input->frameCount >= largestCount) {
        input->frameCount = 0;
    }
    auto reader = std::make_shared<SndfileReader>(std::move(io), sndfile, input->format, input->container, order);
    input->stream = [reader](std::span<std::uint8_t> block) { return reader->next(block); };
    return std::move(*input);
}

} // namespace tarvelle
