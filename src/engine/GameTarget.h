#pragma once

// What a capture run records: a game with the display that shows it, or the desktop.

#include <cstdint>
#include <optional>
#include <string>

namespace vantel {

struct GameTarget {
    std::string name;
    int32_t pid = 0;
    std::optional<uint32_t> displayID; // a RandR output id; absent when not determined

    // Equality includes whether displayID is present.
    bool operator==(const GameTarget&) const = default;

    static GameTarget desktop() { return {"Desktop", 0, std::nullopt}; }
};

} // namespace vantel
