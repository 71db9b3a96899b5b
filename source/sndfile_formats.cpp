#include "source/sndfile_formats.hpp"

#include "app/output_names.hpp"
#include "source/sndfile_output.hpp"

#include <algorithm>
#include <cctype>
#include <set>

namespace tarvelle {

namespace {

constexpr int maxChannels = 64;
constexpr int minSampleRate = 8000;
constexpr int maxSampleRate = 768000;

// How a subtype is read: integers as the integers they are, float as float,
// and every lossy or companded code decoded to 32-bit float.
struct Reading {
    SampleEncoding encoding = SampleEncoding::Float32;
    int containerBytes = 4;
    bool lossy = true;
};

Reading readingOf(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return {SampleEncoding::UInt8, 1, false};
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ALAC_16:
        return {SampleEncoding::Int16, 2, false};
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_ALAC_20:
    case SF_FORMAT_ALAC_24:
        return {SampleEncoding::Int24, 3, false};
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_ALAC_32:
        return {SampleEncoding::Int32, 4, false};
    case SF_FORMAT_FLOAT:
        return {SampleEncoding::Float32, 4, false};
    case SF_FORMAT_DOUBLE:
        return {SampleEncoding::Float64, 8, false};
    default:
        return {};
    }
}

SF_FORMAT_INFO majorInfo(int major)
{
    SF_FORMAT_INFO info{};
    info.format = major;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info)) != 0 || info.name == nullptr) {
        info.name = "sound";
        info.extension = "wav";
    }
    return info;
}

// The container's name as engineers say it; libsndfile's for the rarer ones.
std::string_view containerName(int sfFormat, std::span<const std::uint8_t> start)
{
    const int subtype = sfFormat & SF_FORMAT_SUBMASK;
    switch (sfFormat & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_AIFF:
        return start.size() >= 12 && std::equal(start.begin() + 8, start.begin() + 12, "AIFC") ? "AIFC" : "AIFF";
    case SF_FORMAT_CAF:
        return "CAF";
    case SF_FORMAT_W64:
        return "W64";
    case SF_FORMAT_FLAC:
        return "FLAC";
    case SF_FORMAT_OGG:
        return subtype == SF_FORMAT_OPUS ? "Opus" : subtype == SF_FORMAT_VORBIS ? "Ogg Vorbis" : "Ogg";
    case SF_FORMAT_MPEG:
        return subtype == SF_FORMAT_MPEG_LAYER_III ? "MP3" : "MPEG";
    default:
        return majorInfo(sfFormat & SF_FORMAT_TYPEMASK).name;
    }
}

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](char letter) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    });
    return text;
}

// The input's own extension where it is one of its container's, else libsndfile's.
std::string clippedExtension(const std::string& fileName, int major)
{
    const std::string own = lowerCase(extensionOf(fileName));
    const bool aiff = own == ".aif" || own == ".aiff" || own == ".aifc";
    const bool ownFits = (major == SF_FORMAT_AIFF && aiff) || (major == SF_FORMAT_FLAC && own == ".flac") ||
                         (major == SF_FORMAT_CAF && own == ".caf") || (major == SF_FORMAT_W64 && own == ".w64");
    if (ownFits) {
        return extensionOf(fileName);
    }
    std::string extension(".");
    extension.append(majorInfo(major).extension);
    return extension;
}

std::optional<SpeakerOrder> oggSpeakerOrder(int channels)
{
    switch (channels) {
    case 3:
        return SpeakerOrder{{0, 2, 1}, 0x7};
    case 4:
        return SpeakerOrder{{0, 1, 2, 3}, 0x33};
    case 5:
        return SpeakerOrder{{0, 2, 1, 3, 4}, 0x37};
    case 6:
        return SpeakerOrder{{0, 2, 1, 5, 3, 4}, 0x3F};
    case 7:
        return SpeakerOrder{{0, 2, 1, 6, 5, 3, 4}, 0x70F};
    case 8:
        return SpeakerOrder{{0, 2, 1, 7, 5, 6, 3, 4}, 0x63F};
    default:
        return std::nullopt;
    }
}

} // namespace

std::variant<OtherInput, BatchRefused> describeSndfileInput(const SF_INFO& info,
                                                            std::span<const std::uint8_t> start,
                                                            const std::string& fileName,
                                                            std::optional<SpeakerOrder>& order)
{
    OtherInput input;
    SampleFormat& format = input.format;
    input.container = containerName(info.format, start);
    const std::string name(input.container);
    if (info.channels < 1 || info.channels > maxChannels) {
        return BatchRefused{BatchRefusal::UnsupportedSamples,
                            formatted("This %s file has %d channels; 1 to %d are supported", name.c_str(),
                                      info.channels, maxChannels)};
    }
    if (info.samplerate < minSampleRate || info.samplerate > maxSampleRate) {
        return BatchRefused{BatchRefusal::UnsupportedSamples,
                            formatted("This %s file's sample rate is %d Hz; %d to %d Hz are supported",
                                      name.c_str(), info.samplerate, minSampleRate, maxSampleRate)};
    }
    const Reading reading = readingOf(info.format & SF_FORMAT_SUBMASK);
    format.encoding = reading.encoding;
    format.containerBytes = reading.containerBytes;
    format.validBits = 8 * reading.containerBytes;
    format.channels = info.channels;
    format.sampleRate = info.samplerate;
    input.frameCount = static_cast<std::uint64_t>(std::max<sf_count_t>(info.frames, 0));
    const int major = info.format & SF_FORMAT_TYPEMASK;
    order = major == SF_FORMAT_OGG ? oggSpeakerOrder(info.channels) : std::nullopt;
    format.channelMask = order ? order->channelMask : 0;
    // Lossy files, and containers libsndfile cannot write, give float or
    // integer WAV: a lossy encoder would clip on its own.
    SF_INFO written{};
    written.samplerate = info.samplerate;
    written.channels = info.channels;
    written.format = info.format;
    if (reading.lossy || sf_format_check(&written) == SF_FALSE) {
        input.clippedExtension = ".wav";
    } else {
        input.clippedExtension = clippedExtension(fileName, major);
        input.makeEncoder = sndfileEncoder(info.format, format);
    }
    return input;
}

BatchRefused cannotRead(BatchRefused notWave, const std::string& reason)
{
    const std::string wavEnd = ", not a Wave file";
    std::string& message = notWave.message;
    if (message.size() > wavEnd.size() && message.ends_with(wavEnd)) {
        message = message.substr(0, message.size() - wavEnd.size()) +
                  ", which this build cannot read (libsndfile: " + reason + ")";
    }
    return notWave;
}

std::string otherInputsLine()
{
    const auto available = [](int command, int countCommand) {
        std::set<int> formats;
        int count = 0;
        sf_command(nullptr, countCommand, &count, sizeof(count));
        for (int index = 0; index < count; ++index) {
            SF_FORMAT_INFO info{};
            info.format = index;
            sf_command(nullptr, command, &info, sizeof(info));
            formats.insert(info.format);
        }
        return formats;
    };
    const std::set<int> majors = available(SFC_GET_FORMAT_MAJOR, SFC_GET_FORMAT_MAJOR_COUNT);
    const std::set<int> subtypes = available(SFC_GET_FORMAT_SUBTYPE, SFC_GET_FORMAT_SUBTYPE_COUNT);
    std::string version = sf_version_string();
    std::replace(version.begin(), version.end(), '-', ' ');
    std::string line = version + ": reads AIFF, AIFC, CAF, W64";
    const auto add = [&](bool present, const char* name) {
        if (present) {
            line += std::string(", ") + name;
        }
    };
    add(majors.contains(SF_FORMAT_FLAC), "FLAC");
    add(majors.contains(SF_FORMAT_OGG) && subtypes.contains(SF_FORMAT_VORBIS), "Ogg");
    add(majors.contains(SF_FORMAT_OGG) && subtypes.contains(SF_FORMAT_OPUS), "Opus");
    add(majors.contains(SF_FORMAT_MPEG) && subtypes.contains(SF_FORMAT_MPEG_LAYER_III), "MP3");
    return line;
}

} // namespace tarvelle
