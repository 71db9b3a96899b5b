// Delivery: a file measured against a loudness and clipping profile, such
// as a broadcaster's or a streaming service's, and passed or failed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarvelle {

struct JobResult;

// The levels the checks besides loudness measure against.
constexpr double nearSilenceDbfs = -60.0;   // head and tail: every channel below it
constexpr double emptyChannelDbfs = -90.0;  // every sample of the channel below it
constexpr double copiedChannelDbfs = -90.0; // the most two copied channels may differ by
constexpr double oppositePhaseCorrelation = -0.5;
constexpr double defaultMaxDcOffsetDbfs = -40.0;
constexpr double defaultMaxSilenceSeconds = 2.0;

// What a profile asks; a limit not set is not checked.
struct DeliveryProfile {
    std::string name;
    std::optional<double> targetLufs;
    double toleranceLu = 1.0;
    std::optional<double> maxTruePeakDbtp;
    std::optional<double> maxShortTermLufs;
    std::optional<double> maxLraLu;
    std::optional<double> minPlrLu;
    std::optional<double> maxSilenceSeconds = defaultMaxSilenceSeconds;
    std::optional<double> maxDcOffsetDbfs = defaultMaxDcOffsetDbfs;
    bool clipping = true;
    bool emptyChannel = true;
    bool copiedChannel = true;
    bool oppositePhase = true;
};

// The profiles known by name, in the order the help lists them.
const std::vector<DeliveryProfile>& builtInProfiles();
std::optional<DeliveryProfile> builtInProfile(std::string_view name);

struct ProfileError {
    int line = 0;
    std::string reason;
};

// A house profile's text: "key = value" a line, "#" to the end of a line a
// comment; keys as the overriding options are named (target, tolerance,
// max-true-peak, ...). Its keys change base. A wrong key or value is refused
// with its line.
std::variant<DeliveryProfile, ProfileError> readProfileText(std::string_view text, DeliveryProfile base);

// Sets a limit by its key (the option's name without "--"); a limit's value
// "off" unsets it. When the key or value is wrong, the reason, to follow the
// key: "takes LU from 0 to 20".
std::optional<std::string> setProfileValue(DeliveryProfile& profile, std::string_view key, std::string_view value);

// A limit as it was most likely written: "-23", "0.5".
std::string limitText(double value);

// What the channel analysis measured, in one pass over the file.
struct ChannelPair {
    int first = 0;
    int second = 1;
    double correlation = 0.0; // 0 where either channel is silent throughout
    bool copied = false;      // the samples the same throughout, within copiedChannelDbfs
};

struct ChannelStats {
    std::vector<double> peakDbfs;     // per channel; -inf for zeros
    std::vector<double> dcOffsetDbfs; // per channel, the mean's magnitude; -inf for none
    double headSilenceSeconds = 0.0;  // every channel below nearSilenceDbfs
    double tailSilenceSeconds = 0.0;
    std::vector<ChannelPair> pairs;
};

struct DeliveryCheck {
    std::string name;                // as in the JSON: "integrated", "true-peak", ...
    std::optional<double> value;     // none where there is no figure (too short to measure)
    std::optional<double> limit;     // the target, for the integrated loudness
    std::optional<double> tolerance; // the integrated loudness's
    std::vector<int> channels;       // the channels that failed, for the per-channel checks
    bool pass = true;
    std::string failure; // the words for the line, when failed
};

struct DeliveryResult {
    DeliveryProfile profile;
    bool pass = true;
    std::vector<DeliveryCheck> checks;
};

// The verdict, from the check's runs, the loudness and the channel stats the
// job measured.
DeliveryResult judgeDelivery(const DeliveryProfile& profile, const JobResult& result);

// The label track's lines of the problems found, "start TAB end TAB what",
// times in seconds: the silent head and tail, the stretches whose
// short-term loudness is above the maximum, and the whole file for what
// has no place of its own (the loudness, a channel). The clipped runs are
// the check's labels.
std::string deliveryLabels(const DeliveryResult& delivery, const JobResult& result);

// "take1.wav: PASS  -23.1 LUFS, -1.8 dBTP, LRA 6.2 LU", or FAIL and each
// failed check with its figure and limit. shownName as it is printed.
std::string deliveryLine(std::string_view shownName, const DeliveryResult& delivery, const JobResult& result);

} // namespace tarvelle
