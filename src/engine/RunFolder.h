#pragma once

// The private folder of one capture run: "vantel-record-<UUID>" under the run root. The folder
// holds a lock file that stays locked (flock) for the life of the RunFolder object, so a folder
// whose lock nobody holds belongs to a process that is gone (crashed, killed) and can be
// removed by the next run. The folder appears under its final name already locked: it is built
// under a hidden name and renamed once locked, so a concurrent cleanup never sees it unlocked.
//
// Thread: a RunFolder is used by its owner only; removeStale() may run anywhere.

#include <filesystem>
#include <string>
#include <string_view>

namespace vantel {

class RunFolder {
public:
    static constexpr std::string_view namePrefix = "vantel-record-";
    static constexpr std::string_view lockName = ".lock";

    // Creates the folder (and `root` if needed) and takes its lock. Throws
    // std::filesystem::filesystem_error when either is not possible.
    explicit RunFolder(const std::filesystem::path& root);
    // Releases the lock. The folder itself stays until remove() or a later removeStale().
    ~RunFolder();

    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }

    // Deletes the folder with everything in it; errors are ignored. The lock is kept (on the
    // now unlinked file) until destruction.
    void remove() noexcept;

    // Removes every "vantel-record-*" folder under `root` whose lock nobody holds, including one
    // without a lock file. Folders that cannot be examined are left alone. Never throws.
    static void removeStale(const std::filesystem::path& root) noexcept;

    // Where run folders live: $XDG_CACHE_HOME/vantel-record, else ~/.cache/vantel-record. The
    // buffer must stay on disk, and /tmp is often kept in memory.
    static std::filesystem::path defaultRoot();

private:
    std::filesystem::path m_path;
    int m_lockFd = -1;
};

// A fresh random (version 4) UUID in its canonical upper-case form,
// e.g. "1B4E28BA-2FA1-41D2-883F-0016D3CCA427".
std::string makeUuidString();

} // namespace vantel
