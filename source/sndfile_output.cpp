#include "source/sndfile_output.hpp"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace tarvelle {

namespace {

VirtualFile& virtualFile(void* user)
{
    return *static_cast<VirtualFile*>(user);
}

sf_count_t fileLength(void* user)
{
    return static_cast<sf_count_t>(virtualFile(user).size);
}

sf_count_t seek(sf_count_t offset, int whence, void* user)
{
    VirtualFile& file = virtualFile(user);
    const auto base = static_cast<sf_count_t>(whence == SEEK_CUR   ? file.position
                                              : whence == SEEK_END ? file.size
                                                                   : 0);
    if (base + offset < 0) {
        return -1;
    }
    file.position = static_cast<std::uint64_t>(base + offset);
    return static_cast<sf_count_t>(file.position);
}

sf_count_t read(void* bytes, sf_count_t count, void* user)
{
    VirtualFile& file = virtualFile(user);
    const std::optional<std::size_t> read =
        readAt(*file.file, file.position, bytes, static_cast<std::size_t>(count));
    if (!read) {
        if (file.failure.empty()) {
            file.failure = lastFileErrorText();
        }
        return 0;
    }
    file.position += *read;
    return static_cast<sf_count_t>(*read);
}

sf_count_t write(const void* bytes, sf_count_t count, void* user)
{
    VirtualFile& file = virtualFile(user);
    if (!file.failure.empty()) {
        return 0;
    }
    if (!writeAt(*file.file, file.position, bytes, static_cast<std::size_t>(count))) {
        file.failure = lastFileErrorText();
        return 0;
    }
    file.position += static_cast<std::uint64_t>(count);
    file.size = std::max(file.size, file.position);
    return count;
}

sf_count_t tell(void* user)
{
    return static_cast<sf_count_t>(virtualFile(user).position);
}

class SndfileEncoder : public OutputEncoder {
public:
    SndfileEncoder(const FileHandle& file, int sfFormat, const SampleFormat& format) : format_(format)
    {
        file_.file = &file;
        SF_INFO info{};
        info.samplerate = format.sampleRate;
        info.channels = format.channels;
        info.format = sfFormat;
        sndfile_ = sf_open_virtual(&VirtualFile::io, SFM_WRITE, &info, &file_);
        if (sndfile_ == nullptr) {
            failure_ = std::string("libsndfile: ") + sf_strerror(nullptr);
            return;
        }
        if ((sfFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC) {
            double level = flacCompressionLevel;
            sf_command(sndfile_, SFC_SET_COMPRESSION_LEVEL, &level, sizeof(level));
        }
    }
    SndfileEncoder(const SndfileEncoder&) = delete;
    SndfileEncoder& operator=(const SndfileEncoder&) = delete;
    ~SndfileEncoder() override
    {
        if (sndfile_ != nullptr) {
            sf_close(sndfile_);
        }
    }

    std::optional<std::string> append(std::span<const std::uint8_t> bytes) override
    {
        if (!failure_.empty()) {
            return failure_;
        }
        const std::size_t sampleCount = bytes.size() / static_cast<std::size_t>(format_.containerBytes);
        const auto frames = static_cast<sf_count_t>(sampleCount / static_cast<std::size_t>(format_.channels));
        samples_.resize(sampleCount);
        decodeSamples(format_, bytes, samples_);
        sf_count_t written = 0;
        if (isFloat(format_.encoding)) {
            written = sf_writef_double(sndfile_, samples_.data(), frames);
        } else {
            // Left-justified in 32 bits, as libsndfile takes integers of any width.
            const double shift = static_cast<double>(std::uint64_t{1} << (32 - 8 * format_.containerBytes));
            integers_.resize(sampleCount);
            std::transform(samples_.begin(), samples_.end(), integers_.begin(),
                           [shift](double sample) { return static_cast<int>(sample * shift); });
            written = sf_writef_int(sndfile_, integers_.data(), frames);
        }
        if (written != frames && failure_.empty()) {
            failure_ = file_.failure.empty() ? std::string("libsndfile: ") + sf_strerror(sndfile_) : file_.failure;
        }
        return failure_.empty() ? std::nullopt : std::optional<std::string>(failure_);
    }

    std::optional<std::string> finish() override
    {
        if (sndfile_ != nullptr) {
            const int closed = sf_close(sndfile_);
            sndfile_ = nullptr;
            if (closed != 0 && failure_.empty()) {
                failure_ = std::string("libsndfile: ") + sf_error_number(closed);
            }
        }
        if (failure_.empty() && !file_.failure.empty()) {
            failure_ = file_.failure;
        }
        return failure_.empty() ? std::nullopt : std::optional<std::string>(failure_);
    }

private:
    SampleFormat format_;
    VirtualFile file_;
    SNDFILE* sndfile_ = nullptr;
    std::string failure_;
    std::vector<double> samples_;
    std::vector<int> integers_;
};

} // namespace

SF_VIRTUAL_IO VirtualFile::io{fileLength, seek, read, write, tell};

MakeOutputEncoder sndfileEncoder(int sfFormat, const SampleFormat& format)
{
    return [sfFormat, format](const FileHandle& file) -> std::unique_ptr<OutputEncoder> {
        return std::make_unique<SndfileEncoder>(file, sfFormat, format);
    };
}

} // namespace tarvelle
