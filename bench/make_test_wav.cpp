// make_test_wav: writes a music-like 16-bit stereo WAV file, the same bytes for
// the same seed, length and rate. Makes the long benchmark inputs and the
// demo recording.
#include "app/plain_text.hpp"
#include "bench/music_signal.hpp"
#include "wav/clipped_wav.hpp"
#include "wav/wave_header.hpp"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

using tarvelle::printText;

constexpr std::string_view usageText =
    "Usage: make_test_wav [--seconds S | --minutes M] [--rate 44100|88200|176400]\n"
    "                     [--seed N] OUTPUT.wav\n"
    "\n"
    "Writes a music-like 16-bit stereo WAV file: chords, bass and drums, the\n"
    "peak near full scale on the drum hits. The same seed, length and rate give\n"
    "the same bytes. Defaults: 10 minutes at 176400 Hz, seed 1.\n";

constexpr std::int32_t bytesPerFrame = 4;
// The data chunk's size is read as a signed 32-bit number.
constexpr std::int64_t largestDataSizeInBytes = 2147483647;
constexpr std::int64_t largestFrameCount = largestDataSizeInBytes / bytesPerFrame;
// 1 MiB per write keeps the system calls few without a large buffer.
constexpr std::int64_t framesPerWrite = 1 << 18;

struct Options {
    double seconds = 600.0;
    std::int32_t sampleRate = 176400;
    std::uint64_t seed = 1;
    std::string outputFileName;
};

std::optional<double> parseLength(std::string_view text)
{
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value) || value < 0.0) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint64_t> parseSeed(std::string_view text)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int32_t> parseRate(std::string_view text)
{
    for (const std::int32_t rate : {44100, 88200, 176400}) {
        if (text == std::to_string(rate)) {
            return rate;
        }
    }
    return std::nullopt;
}

// nullopt after printing why; the caller exits with status 2.
std::optional<Options> parseOptions(int argumentCount, char** arguments)
{
    Options options;
    bool lengthGiven = false;
    for (int index = 1; index < argumentCount; ++index) {
        const std::string_view argument = arguments[index];
        const bool hasValue = index + 1 < argumentCount;
        if (argument == "--seconds" || argument == "--minutes") {
            const std::optional<double> length = hasValue ? parseLength(arguments[++index]) : std::nullopt;
            if (!length || lengthGiven) {
                std::fprintf(stderr,
                             "make_test_wav: give one length, a number of seconds or minutes, 0 or more\n");
                return std::nullopt;
            }
            options.seconds = argument == "--minutes" ? *length * 60.0 : *length;
            lengthGiven = true;
        } else if (argument == "--rate") {
            const std::optional<std::int32_t> rate = hasValue ? parseRate(arguments[++index]) : std::nullopt;
            if (!rate) {
                std::fprintf(stderr, "make_test_wav: --rate takes 44100, 88200 or 176400\n");
                return std::nullopt;
            }
            options.sampleRate = *rate;
        } else if (argument == "--seed") {
            const std::optional<std::uint64_t> seed = hasValue ? parseSeed(arguments[++index]) : std::nullopt;
            if (!seed) {
                std::fprintf(stderr, "make_test_wav: --seed takes a whole number from 0 to 2^64-1\n");
                return std::nullopt;
            }
            options.seed = *seed;
        } else if (argument.starts_with("-") && argument.size() > 1) {
            std::fprintf(stderr, "make_test_wav: unknown option %s\n", arguments[index]);
            return std::nullopt;
        } else if (!options.outputFileName.empty()) {
            std::fprintf(stderr, "make_test_wav: one output file only\n");
            return std::nullopt;
        } else {
            options.outputFileName = argument;
        }
    }
    if (options.outputFileName.empty()) {
        printText(stderr, usageText);
        return std::nullopt;
    }
    return options;
}

// The canonical header of a PCM file, as the program itself writes one.
std::array<std::uint8_t, tarvelle::waveHeaderSizeInBytes> canonicalHeader(std::int32_t sampleRate,
                                                                          std::uint32_t dataSizeInBytes)
{
    tarvelle::WaveHeaderInfo header;
    header.formatTag = 1; // PCM
    header.channels = 2;
    header.sampleRate = sampleRate;
    header.byteRate = sampleRate * static_cast<std::int32_t>(bytesPerFrame);
    header.blockAlign = static_cast<std::int16_t>(bytesPerFrame);
    header.bitsPerSample = 16;
    header.dataSize = static_cast<std::int32_t>(dataSizeInBytes);
    return tarvelle::clippedWavHeader(tarvelle::acceptWaveHeader(header));
}

void samplesToBytes(const std::vector<std::int16_t>& samples, std::size_t sampleCount,
                    std::vector<std::uint8_t>& bytes)
{
    for (std::size_t index = 0; index < sampleCount; ++index) {
        const auto sample = static_cast<std::uint16_t>(samples[index]);
        bytes[2 * index] = static_cast<std::uint8_t>(sample & 0xFF);
        bytes[2 * index + 1] = static_cast<std::uint8_t>(sample >> 8);
    }
}

// False, with the file left partly written, when any write fails.
bool writeMusic(std::FILE* file, const Options& options, std::int64_t frameCount)
{
    const auto header =
        canonicalHeader(options.sampleRate, static_cast<std::uint32_t>(frameCount * bytesPerFrame));
    if (std::fwrite(header.data(), 1, header.size(), file) != header.size()) {
        return false;
    }
    tarvelle::bench::MusicGenerator generator =
        tarvelle::bench::makeMusicGenerator(options.seed, options.sampleRate);
    std::vector<std::int16_t> samples(2 * framesPerWrite);
    std::vector<std::uint8_t> bytes(2 * samples.size());
    for (std::int64_t framesDone = 0; framesDone < frameCount;) {
        const std::int64_t frames = std::min(framesPerWrite, frameCount - framesDone);
        const auto sampleCount = static_cast<std::size_t>(2 * frames);
        tarvelle::bench::generateFrames(generator, std::span<std::int16_t>(samples.data(), sampleCount));
        samplesToBytes(samples, sampleCount, bytes);
        if (std::fwrite(bytes.data(), 1, 2 * sampleCount, file) != 2 * sampleCount) {
            return false;
        }
        framesDone += frames;
    }
    return std::fflush(file) == 0;
}

} // namespace

int main(int argumentCount, char** arguments)
{
    for (int index = 1; index < argumentCount; ++index) {
        if (std::string_view(arguments[index]) == "--help") {
            printText(stdout, usageText);
            return 0;
        }
    }
    const std::optional<Options> options = parseOptions(argumentCount, arguments);
    if (!options) {
        return 2;
    }
    // Compared before rounding, so an absurd length cannot overflow.
    const double exactFrameCount = options->seconds * options->sampleRate;
    if (exactFrameCount > static_cast<double>(largestFrameCount)) {
        std::fprintf(stderr,
                     "make_test_wav: too long: a WAV file's data may hold at most %lld bytes, "
                     "%.1f minutes at %d Hz\n",
                     static_cast<long long>(largestDataSizeInBytes),
                     static_cast<double>(largestFrameCount) / options->sampleRate / 60.0, options->sampleRate);
        return 2;
    }
    const std::int64_t frameCount = std::llround(exactFrameCount);

    const char* fileName = options->outputFileName.c_str();
    std::FILE* file = std::fopen(fileName, "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "make_test_wav: cannot create %s: %s\n", fileName, std::strerror(errno));
        return 1;
    }
    // Large writes go straight to the system; a stdio buffer would only copy them.
    std::setvbuf(file, nullptr, _IONBF, 0);
    const bool written = writeMusic(file, *options, frameCount);
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "make_test_wav: cannot write %s: %s\n", fileName,
                     std::strerror(written ? errno : writeError));
        // A partial file would pass for a short but complete one; a device
        // such as /dev/full is of course left alone.
        std::error_code statusError;
        if (std::filesystem::is_regular_file(options->outputFileName, statusError)) {
            std::remove(fileName);
        }
        return 1;
    }
    std::printf("%s: %lld frames, %d Hz, 16-bit stereo, %lld bytes\n", fileName,
                static_cast<long long>(frameCount), options->sampleRate,
                static_cast<long long>(frameCount * bytesPerFrame + tarvelle::waveHeaderSizeInBytes));
    return 0;
}
