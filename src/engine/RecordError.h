#pragma once

// The errors of recording and of the clip operations, each with the text the user sees.
// Platform and library failures that are not ours travel as std::runtime_error (or
// std::system_error for the file system) and their what() is shown as it is.

#include <stdexcept>
#include <string>

namespace vantel {

class RecordError : public std::runtime_error {
public:
    enum class Kind { exportFailed, nothingBuffered, noDisplay, permission, stale };

    static RecordError exportFailed(const std::string& message) {
        return RecordError(Kind::exportFailed, message);
    }
    static RecordError nothingBuffered() {
        return RecordError(Kind::nothingBuffered, "Nothing recorded yet. Give it a second.");
    }
    // The newest buffered media ended `age` seconds before the save was asked for: the
    // recording had stopped, and a clip of older seconds is not what the player asked for.
    static RecordError stale(double age) {
        const long whole = age > 0 && age < 1e9 ? long(age) : 0;
        return RecordError(Kind::stale, "Nothing was recorded in the last " +
                                            std::to_string(whole) + " seconds.");
    }
    static RecordError noDisplay() { return RecordError(Kind::noDisplay, "No display to record."); }
    static RecordError permission() {
        return RecordError(Kind::permission, "Vantel Record needs Screen Recording permission.");
    }

    Kind kind() const { return m_kind; }
    // The user-facing text; never empty for the fixed cases.
    std::string errorDescription() const { return what(); }

private:
    RecordError(Kind kind, const std::string& text)
        : std::runtime_error(text)
        , m_kind(kind) {}

    Kind m_kind;
};

} // namespace vantel
