#include "engine/delivery.hpp"

#include "engine/job_result.hpp"

#include <gtest/gtest.h>

#include <tuple>

namespace tarvelle {
namespace {

// A house profile's text: what it sets over its base, or the line and why not.
TEST(Delivery, ProfileTextSetsOrRefusesByLine)
{
    const struct {
        const char* text;
        int errorLine;
        const char* reason;
    } cases[] = {
        {"# house\nname = house\ntarget = -20 # LUFS\r\ntolerance=1\nmax-lra = 12\nclipping = off\n", 0, ""},
        {"max-true-peak = off\n\n  \nmin-plr = 8", 0, ""},
        {"target = -20\nmax-lra 12\n", 2, "not a line of key = value"},
        {"\n\ntarget = -75\n", 3, "'target' takes LUFS from -70 to 0"},
        {"target = off\n", 1, "'target' takes LUFS from -70 to 0"},
        {"max-silence = 2s\n", 1, "'max-silence' takes seconds from 0 to 3600, or off"},
        {"opposite-phase = yes\n", 1, "'opposite-phase' takes on or off"},
        {"loudness = -23\n", 1, "'loudness' is not a key of a delivery profile"},
        {"name =\n", 1, "'name' takes a name"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text);
        const auto read = readProfileText(test.text, *builtInProfile("ebu-r128"));
        if (test.errorLine == 0) {
            ASSERT_TRUE(std::holds_alternative<DeliveryProfile>(read));
        } else {
            ASSERT_TRUE(std::holds_alternative<ProfileError>(read));
            EXPECT_EQ(std::get<ProfileError>(read).line, test.errorLine);
            EXPECT_EQ(std::get<ProfileError>(read).reason, test.reason);
        }
    }
    const DeliveryProfile house = std::get<DeliveryProfile>(readProfileText(cases[0].text, {}));
    EXPECT_EQ(std::tuple(house.name, house.targetLufs, house.toleranceLu, house.maxLraLu, house.clipping),
              std::tuple("house", std::optional(-20.0), 1.0, std::optional(12.0), false));
    const DeliveryProfile unset =
        std::get<DeliveryProfile>(readProfileText(cases[1].text, *builtInProfile("podcast")));
    EXPECT_EQ(std::tuple(unset.maxTruePeakDbtp, unset.minPlrLu, unset.targetLufs),
              std::tuple(std::optional<double>(), std::optional(8.0), std::optional(-16.0)));
}

// The loudness against a profile: at the tolerance's edge as the line shows
// it, none to measure, and the limits only a house profile sets.
TEST(Delivery, LoudnessJudgedAgainstTheLimits)
{
    DeliveryProfile profile = *builtInProfile("ebu-r128");
    profile.maxLraLu = 10.0;
    profile.minPlrLu = 8.0;
    const struct {
        std::optional<double> integrated;
        double truePeak;
        std::optional<double> range;
        std::optional<double> plr;
        const char* failures;
    } cases[] = {
        {-23.54, -2.0, 5.0, 21.5, ""},
        {-23.56, -2.0, 5.0, 21.5, "-23.6 LUFS (target -23 ±0.5)"},
        {std::nullopt, -2.0, std::nullopt, std::nullopt, "no integrated loudness (too short)"},
        {-23.0, -0.95, 12.0, 6.0, "true peak -0.9 dBTP (max -1), LRA 12.0 LU (max 10), PLR 6.0 LU (min 8)"},
    };
    for (const auto& test : cases) {
        JobResult result;
        result.loudness.emplace();
        result.loudness->integratedLufs = test.integrated;
        result.loudness->noIntegratedReason = "too short";
        result.loudness->truePeakDbtpOverall = test.truePeak;
        result.loudness->loudnessRange = test.range;
        result.loudness->peakToLoudnessRatio = test.plr;
        const DeliveryResult judged = judgeDelivery(profile, result);
        std::string failures;
        for (const DeliveryCheck& check : judged.checks) {
            failures += check.failure.empty() ? "" : (failures.empty() ? "" : ", ") + check.failure;
        }
        EXPECT_EQ(failures, test.failures);
        EXPECT_EQ(judged.pass, failures.empty());
    }
}

} // namespace
} // namespace tarvelle
