#pragma once

// Clip files are written under a hidden partial name in their target folder and take their final
// name only once complete, so nothing lists or plays a half-written clip, and what a killed
// process left behind is recognisable and removed later.
//
// Partial name: "." + final name + ".vantel-" + process id + "-" + counter + ".partial".
// Standard C++ and POSIX only; no state but a process-wide counter.

#include <filesystem>
#include <string>
#include <system_error>

namespace vantel::media {

// A fresh partial path for `target`, in the same folder (so the final rename is atomic).
std::filesystem::path partialPathFor(const std::filesystem::path& target);

// Gives `partial` its final name `target`. With `replace` false an existing target is never
// replaced, not even by a writer that creates it at the same moment: the result is then
// std::errc::file_exists. Returns the system's error otherwise; the partial is left as it is.
std::error_code publishPartial(const std::filesystem::path& partial,
                               const std::filesystem::path& target, bool replace);

// True for a file name made by partialPathFor.
bool isPartialName(const std::string& name);

// Removes the partial files below `folder` (hidden folders are not entered) whose process has
// ended, or which nobody has written to for an hour. Errors are ignored.
void removeAbandonedPartials(const std::filesystem::path& folder);

} // namespace vantel::media
