#pragma once

// The "key file" format of desktop entries and of Flatpak's .flatpak-info: [Group] headers
// followed by Key=Value lines. Localised keys ("Name[de]") are kept under their full name;
// comments and blank lines are skipped. Values are unescaped for \s \n \t \r \\.

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace vantel::platform {

class KeyFile {
public:
    // Larger files are not key files anyone wrote by hand or tool; they are refused.
    static constexpr size_t kMaxFileBytes = 1 << 20;

    // Reads and parses a file; absent when it cannot be read, is not a regular file (a FIFO or
    // a device) or is larger than kMaxFileBytes. Never blocks on the file.
    static std::optional<KeyFile> load(const std::filesystem::path& path);
    static KeyFile parse(const std::string& text);

    // The value, or an empty string when the group or key is missing.
    std::string value(const std::string& group, const std::string& key) const;
    bool has(const std::string& group, const std::string& key) const;

private:
    std::map<std::string, std::map<std::string, std::string>> m_groups;
};

} // namespace vantel::platform
