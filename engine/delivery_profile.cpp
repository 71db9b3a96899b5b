#include "engine/delivery.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tarvelle {

namespace {

DeliveryProfile profile(std::string name, double target, double tolerance, double maxTruePeak)
{
    DeliveryProfile made;
    made.name = std::move(name);
    made.targetLufs = target;
    made.toleranceLu = tolerance;
    made.maxTruePeakDbtp = maxTruePeak;
    return made;
}

std::vector<DeliveryProfile> makeBuiltInProfiles()
{
    std::vector<DeliveryProfile> profiles{
        profile("ebu-r128", -23.0, 0.5, -1.0), profile("ebu-r128-s1", -23.0, 0.5, -1.0),
        profile("atsc-a85", -24.0, 2.0, -2.0), profile("streaming", -14.0, 1.0, -1.0),
        profile("podcast", -16.0, 1.0, -1.0)};
    profiles[1].maxShortTermLufs = -18.0;
    return profiles;
}

std::string_view trimmed(std::string_view text)
{
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<double> number(std::string_view text)
{
    const std::string value(text);
    char* end = nullptr;
    const double parsed = value.empty() ? 0.0 : std::strtod(value.c_str(), &end);
    if (value.empty() || end != value.c_str() + value.size() || !std::isfinite(parsed)) {
        return std::nullopt;
    }
    return parsed;
}

struct NumberKey {
    std::string_view key;
    std::optional<double> DeliveryProfile::*limit;
    double least;
    double most;
    std::string_view unit;
};

constexpr NumberKey numberKeys[] = {
    {"target", &DeliveryProfile::targetLufs, -70.0, 0.0, "LUFS"},
    {"max-true-peak", &DeliveryProfile::maxTruePeakDbtp, -70.0, 20.0, "dBTP"},
    {"max-short-term", &DeliveryProfile::maxShortTermLufs, -70.0, 20.0, "LUFS"},
    {"max-lra", &DeliveryProfile::maxLraLu, 0.0, 100.0, "LU"},
    {"min-plr", &DeliveryProfile::minPlrLu, 0.0, 100.0, "LU"},
    {"max-silence", &DeliveryProfile::maxSilenceSeconds, 0.0, 3600.0, "seconds"},
    {"max-dc-offset", &DeliveryProfile::maxDcOffsetDbfs, -200.0, 0.0, "dBFS"},
};

struct SwitchKey {
    std::string_view key;
    bool DeliveryProfile::*on;
};

constexpr SwitchKey switchKeys[] = {{"clipping", &DeliveryProfile::clipping},
                                    {"empty-channel", &DeliveryProfile::emptyChannel},
                                    {"copied-channel", &DeliveryProfile::copiedChannel},
                                    {"opposite-phase", &DeliveryProfile::oppositePhase}};

} // namespace

std::string limitText(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

const std::vector<DeliveryProfile>& builtInProfiles()
{
    static const std::vector<DeliveryProfile> profiles = makeBuiltInProfiles();
    return profiles;
}

std::optional<DeliveryProfile> builtInProfile(std::string_view name)
{
    for (const DeliveryProfile& known : builtInProfiles()) {
        if (known.name == name) {
            return known;
        }
    }
    return std::nullopt;
}

std::optional<std::string> setProfileValue(DeliveryProfile& profile, std::string_view key, std::string_view value)
{
    if (key == "name") {
        if (value.empty()) {
            return "takes a name";
        }
        profile.name = value;
        return std::nullopt;
    }
    if (key == "tolerance") {
        const std::optional<double> tolerance = number(value);
        if (!tolerance || *tolerance < 0.0 || *tolerance > 20.0) {
            return "takes LU from 0 to 20";
        }
        profile.toleranceLu = *tolerance;
        return std::nullopt;
    }
    for (const SwitchKey& entry : switchKeys) {
        if (entry.key == key) {
            if (value != "on" && value != "off") {
                return "takes on or off";
            }
            profile.*entry.on = value == "on";
            return std::nullopt;
        }
    }
    for (const NumberKey& entry : numberKeys) {
        if (entry.key == key) {
            if (value == "off" && entry.limit != &DeliveryProfile::targetLufs) {
                profile.*entry.limit = std::nullopt;
                return std::nullopt;
            }
            const std::optional<double> limit = number(value);
            if (!limit || *limit < entry.least || *limit > entry.most) {
                return "takes " + std::string(entry.unit) + " from " + limitText(entry.least) + " to " +
                       limitText(entry.most) + (entry.limit == &DeliveryProfile::targetLufs ? "" : ", or off");
            }
            profile.*entry.limit = *limit;
            return std::nullopt;
        }
    }
    return "is not a key of a delivery profile";
}

std::variant<DeliveryProfile, ProfileError> readProfileText(std::string_view text, DeliveryProfile base)
{
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        line = trimmed(line.substr(0, std::min(line.find('#'), line.size())));
        if (line.empty()) {
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            return ProfileError{lineNumber, "not a line of key = value"};
        }
        const std::string_view key = trimmed(line.substr(0, equals));
        if (std::optional<std::string> reason = setProfileValue(base, key, trimmed(line.substr(equals + 1)))) {
            std::string said(1, '\'');
            said.append(key).append("' ").append(*reason);
            return ProfileError{lineNumber, std::move(said)};
        }
    }
    return base;
}

} // namespace tarvelle
