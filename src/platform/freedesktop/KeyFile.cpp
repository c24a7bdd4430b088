#include "KeyFile.h"

#include <fstream>
#include <sstream>

namespace vantel::platform {

namespace {

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    return out;
}

} // namespace

std::optional<KeyFile> KeyFile::load(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return parse(text.str());
}

KeyFile KeyFile::parse(const std::string& text) {
    KeyFile file;
    std::istringstream in(text);
    std::string line;
    std::map<std::string, std::string>* group = nullptr;
    while (std::getline(in, line)) {
        std::string t = trim(line);
        if (t.empty() || t[0] == '#')
            continue;
        if (t.front() == '[' && t.back() == ']') {
            group = &file.m_groups[t.substr(1, t.size() - 2)];
            continue;
        }
        size_t eq = t.find('=');
        if (!group || eq == std::string::npos)
            continue;
        // The first occurrence of a key wins, as desktop-entry readers do.
        group->emplace(trim(t.substr(0, eq)), unescape(trim(t.substr(eq + 1))));
    }
    return file;
}

std::string KeyFile::value(const std::string& group, const std::string& key) const {
    auto g = m_groups.find(group);
    if (g == m_groups.end())
        return {};
    auto k = g->second.find(key);
    return k == g->second.end() ? std::string() : k->second;
}

bool KeyFile::has(const std::string& group, const std::string& key) const {
    auto g = m_groups.find(group);
    return g != m_groups.end() && g->second.count(key) > 0;
}

} // namespace vantel::platform
