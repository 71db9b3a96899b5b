// Any bytes as an input file: the header readers must neither crash nor read
// outside the file, and what they accept must lead to sane derived values.
#include "app/input_checks.hpp"
#include "wav/batch_input.hpp"
#include "wav/wave_header.hpp"
#include "wav/wave_writer.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

namespace {

// Batch mode's reading: whole frames inside the file, which decode, and a
// clipped file's header for them that reads back as the same format.
void checkBatchInput(std::span<const std::uint8_t> bytes)
{
    const auto read = tarvelle::readBatchInput(tarvelle::MemoryByteSource(bytes));
    const auto* input = std::get_if<tarvelle::BatchInput>(&read);
    if (input == nullptr) {
        return;
    }
    const auto frameBytes = static_cast<std::uint64_t>(tarvelle::bytesPerFrame(input->format));
    if (frameBytes == 0 || input->dataOffset > bytes.size() ||
        input->frameCount > (bytes.size() - input->dataOffset) / frameBytes) {
        __builtin_trap();
    }
    const std::size_t sampleCount = static_cast<std::size_t>(input->frameCount) * input->format.channels;
    std::vector<double> samples(sampleCount);
    tarvelle::decodeSamples(input->format,
                            bytes.subspan(input->dataOffset, sampleCount * input->format.containerBytes), samples);

    std::vector<std::uint8_t> written = tarvelle::clippedWavHeaderFor(input->format, input->frameCount);
    const std::size_t headerSize = written.size();
    written.resize(headerSize + static_cast<std::size_t>(input->frameCount * frameBytes));
    tarvelle::encodeSamples(input->format, samples, std::span(written).subspan(headerSize));
    const auto reread = tarvelle::readBatchInput(tarvelle::MemoryByteSource(written));
    const auto* again = std::get_if<tarvelle::BatchInput>(&reread);
    if (again == nullptr || again->frameCount != input->frameCount || again->dataOffset != headerSize ||
        again->format.encoding != input->format.encoding || again->format.channels != input->format.channels) {
        __builtin_trap();
    }
    std::vector<double> decodedAgain(sampleCount);
    tarvelle::decodeSamples(again->format, std::span(written).subspan(headerSize), decodedAgain);
    const auto same = [](double first, double second) {
        return first == second || (first != first && second != second);
    };
    if (!std::equal(samples.begin(), samples.end(), decodedAgain.begin(), same)) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    const std::optional<tarvelle::WaveHeaderInfo> header =
        tarvelle::readWaveHeader(tarvelle::MemoryByteSource(bytes));
    if (!header) {
        __builtin_trap(); // memory never fails to read
    }
    // Audio found by walking the chunks starts inside the file.
    if (header->dataOffset != tarvelle::waveHeaderSizeInBytes && header->dataOffset > size) {
        __builtin_trap();
    }
    if (!tarvelle::checkWaveHeader(*header)) {
        const tarvelle::AcceptedHeader accepted = tarvelle::acceptWaveHeader(*header);
        if (accepted.samplesPerChannel < 0 || accepted.rateFactor < 1 || accepted.rateFactor > 4) {
            __builtin_trap();
        }
    }
    checkBatchInput(bytes);
    return 0;
}
