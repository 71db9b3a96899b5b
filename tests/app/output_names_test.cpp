#include "app/output_names.hpp"

#include <gtest/gtest.h>

namespace tarvelle {
namespace {

TEST(OutputNames, DropTheLastFourBytesAndAddTheSuffix)
{
    const struct {
        std::string inputName;
        std::string outputFolder;
        int clipLevel;
        std::string report;
        std::string clippedWav;
        StemRule rule = StemRule::LastFourBytes;
    } cases[] = {
        {"take1.wav", "", 0, "take1 3dB clipping.txt", "take1 3dB clipping.wav"},
        {"take1.wav", "", 1, "take1 6dB clipping.txt", "take1 6dB clipping.wav"},
        {"take1.wav", "", 2, "take1 9dB clipping.txt", "take1 9dB clipping.wav"},
        {"take1.wav", "", 3, "take1 12dB clipping.txt", "take1 12dB clipping.wav"},
        {"take1.wav", "", 4, "take1 15dB clipping.txt", "take1 15dB clipping.wav"},
        {"take1.wav", "", 5, "take1 18dB clipping.txt", "take1 18dB clipping.wav"},
        {"C:\\Audio\\take1.wav", "", 5, "C:\\Audio\\take1 18dB clipping.txt",
         "C:\\Audio\\take1 18dB clipping.wav"},
        {"take1.wave", "", 0, "take1. 3dB clipping.txt", "take1. 3dB clipping.wav"},
        {"song", "", 0, " 3dB clipping.txt", " 3dB clipping.wav"},
        {"abc", "", 0, "abc 3dB clipping.txt", "abc 3dB clipping.wav"},
        {"", "", 4, " 15dB clipping.txt", " 15dB clipping.wav"},
        // Bytes, not characters: a UTF-8 name loses four bytes.
        {"\xC3\xA9t\xC3\xA9.wav", "", 1, "\xC3\xA9t\xC3\xA9 6dB clipping.txt",
         "\xC3\xA9t\xC3\xA9 6dB clipping.wav"},
        {std::string(300, 'a') + ".wav", "", 3, std::string(300, 'a') + " 12dB clipping.txt",
         std::string(300, 'a') + " 12dB clipping.wav"},
        // An output folder takes the place of the input's folders.
        {"rec/day 1/take1.wav", "out", 0, "out/take1 3dB clipping.txt", "out/take1 3dB clipping.wav"},
        {"take1.wav", "/tmp/out/", 1, "/tmp/out/take1 6dB clipping.txt", "/tmp/out/take1 6dB clipping.wav"},
        {"rec/abc", "out", 0, "out/abc 3dB clipping.txt", "out/abc 3dB clipping.wav"},
        // Batch mode drops a sound file's extension whole, and names the clipped file by it.
        {"take1.flac", "", 0, "take1. 3dB clipping.txt", "take1. 3dB clipping.flac"},
        {"take1.flac", "", 0, "take1 3dB clipping.txt", "take1 3dB clipping.flac", StemRule::SoundFileExtension},
        {"take1.opus", "", 0, "take1 3dB clipping.txt", "take1 3dB clipping.wav", StemRule::SoundFileExtension},
        {"take1.wave", "", 0, "take1. 3dB clipping.txt", "take1. 3dB clipping.wav", StemRule::SoundFileExtension},
    };
    for (const auto& nameCase : cases) {
        const OutputNames names =
            outputNames(nameCase.inputName, nameCase.clipLevel, nameCase.outputFolder, {}, nameCase.rule);
        EXPECT_EQ(names.report, nameCase.report);
        EXPECT_EQ(names.clippedWav, nameCase.clippedWav);
    }
}

} // namespace
} // namespace tarvelle
