// The command line's delivery options: a profile by name (--deliver), a
// house profile's file (--spec) and the limits that override either or make
// a profile of their own.
#pragma once

#include "engine/delivery.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tarvelle {

struct DeliveryRequest {
    std::string profileName;                                 // --deliver
    std::string profileFile;                                 // --spec
    std::vector<std::pair<std::string, std::string>> values; // key (the option less "--"), value
    bool any() const { return !profileName.empty() || !profileFile.empty() || !values.empty(); }
};

// The key of a delivery option with a value ("deliver", "spec", "target",
// ...), none for another argument.
std::optional<std::string_view> deliveryOptionKey(std::string_view argument);

struct DeliveryRefusal {
    std::string message;
    bool usage = true; // a wrong option, rather than a file that could not be read
};

// The profile the options make, or why none can be.
std::variant<DeliveryProfile, DeliveryRefusal> requestedProfile(const DeliveryRequest& request);

} // namespace tarvelle
