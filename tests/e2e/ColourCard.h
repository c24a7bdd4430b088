#pragma once

// What the Wayland tests look for on screen: the halves of vantel-test-colours (red left, green
// right; "flip" swaps them), compared with the tolerance of a scaled, encoded picture, and how
// many screen-cast dialogs the session's chooser has shown so far.

#include <cstdlib>
#include <fstream>
#include <string>

namespace vantel::e2e {

struct Rgb {
    int r = 0, g = 0, b = 0;
};

inline const Rgb kCardRed{0xd0, 0x30, 0x30};
inline const Rgb kCardGreen{0x30, 0xb0, 0x50};

inline bool near(Rgb got, Rgb want) {
    return std::abs(got.r - want.r) <= 24 && std::abs(got.g - want.g) <= 24 &&
           std::abs(got.b - want.b) <= 24;
}

inline std::string show(Rgb c) {
    return "rgb(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) +
           ")";
}

// Dialogs the portal has shown in this session (other tests ran in it before).
inline int dialogsShown() {
    std::ifstream log(std::string(std::getenv("VANTEL_SESSION_DIR")) + "/chooser.log");
    int lines = 0;
    for (std::string line; std::getline(log, line);)
        ++lines;
    return lines;
}

} // namespace vantel::e2e
