#include "app/delivery_options.hpp"

#include "app/plain_text.hpp"
#include "platform/file_access.hpp"

#include <array>

namespace tarvelle {

namespace {

constexpr std::array<std::string_view, 10> keys{"deliver",       "spec",           "target",  "tolerance",
                                                "max-true-peak", "max-short-term", "max-lra", "min-plr",
                                                "max-silence",   "max-dc-offset"};

// A house profile is a few lines: anything larger is not one.
constexpr std::uint64_t maxProfileFileBytes = 64 * 1024;

std::variant<std::string, DeliveryRefusal> readProfileFile(const std::string& fileName)
{
    const std::string shown = terminalSafeName(fileName);
    const auto failed = [&shown](const std::string& reason) {
        return DeliveryRefusal{shown + ": " + reason, false};
    };
    const std::optional<FileHandle> file = openInputFile(fileName);
    if (!file) {
        return failed(lastFileErrorText());
    }
    const std::optional<std::uint64_t> size = fileSize(*file);
    if (!size) {
        return failed(lastFileErrorText());
    }
    if (*size > maxProfileFileBytes) {
        return failed("too large for a delivery profile (64 KiB at most)");
    }
    std::string text(static_cast<std::size_t>(*size), '\0');
    const std::optional<std::size_t> read = readAt(*file, 0, text.data(), text.size());
    if (!read || *read != text.size()) {
        return failed(read ? "it ended early" : lastFileErrorText());
    }
    return text;
}

std::string knownNames()
{
    std::string names;
    for (const DeliveryProfile& known : builtInProfiles()) {
        names += (names.empty() ? "" : ", ") + known.name;
    }
    return names;
}

} // namespace

std::optional<std::string_view> deliveryOptionKey(std::string_view argument)
{
    for (const std::string_view key : keys) {
        if (argument.starts_with("--") && argument.substr(2).starts_with(key) &&
            (argument.size() == key.size() + 2 || argument[key.size() + 2] == '=')) {
            return key;
        }
    }
    return std::nullopt;
}

std::variant<DeliveryProfile, DeliveryRefusal> requestedProfile(const DeliveryRequest& request)
{
    DeliveryProfile profile;
    profile.name = "custom";
    if (!request.profileName.empty()) {
        std::optional<DeliveryProfile> known = builtInProfile(request.profileName);
        if (!known) {
            return DeliveryRefusal{"no delivery profile named '" + terminalSafeName(request.profileName) +
                                   "' (there are " + knownNames() + ")"};
        }
        profile = std::move(*known);
    }
    if (!request.profileFile.empty()) {
        std::variant<std::string, DeliveryRefusal> text = readProfileFile(request.profileFile);
        if (DeliveryRefusal* refusal = std::get_if<DeliveryRefusal>(&text)) {
            return std::move(*refusal);
        }
        if (request.profileName.empty()) {
            profile.name = "house";
        }
        std::variant<DeliveryProfile, ProfileError> read = readProfileText(std::get<std::string>(text), profile);
        if (const ProfileError* error = std::get_if<ProfileError>(&read)) {
            return DeliveryRefusal{terminalSafeName(request.profileFile) + ": line " +
                                       std::to_string(error->line) + ": " + terminalSafeName(error->reason),
                                   false};
        }
        profile = std::get<DeliveryProfile>(std::move(read));
    }
    bool toleranceGiven = false;
    for (const auto& [key, value] : request.values) {
        if (std::optional<std::string> reason = setProfileValue(profile, key, value)) {
            return DeliveryRefusal{"option '--" + key + "' " + *reason};
        }
        toleranceGiven = toleranceGiven || key == "tolerance";
    }
    if (toleranceGiven && !profile.targetLufs) {
        return DeliveryRefusal{"option '--tolerance' goes with a target: --target, --deliver or --spec"};
    }
    return profile;
}

} // namespace tarvelle
