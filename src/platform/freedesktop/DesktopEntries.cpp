#include "platform/freedesktop/DesktopEntries.h"

#include "platform/freedesktop/KeyFile.h"

#include <algorithm>
#include <cstdlib>
#include <iomanip>
#include <sstream>

namespace fs = std::filesystem;

namespace vantel::platform {

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

bool sameText(const std::string& a, const std::string& b) {
    return !a.empty() && a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::string lastDotted(const std::string& id) {
    size_t dot = id.rfind('.');
    return dot == std::string::npos ? id : id.substr(dot + 1);
}

std::string idFor(const fs::path& folder, const fs::path& file) {
    std::string rel = file.lexically_relative(folder).replace_extension().generic_string();
    std::replace(rel.begin(), rel.end(), '/', '-');
    return rel;
}

} // namespace

std::vector<fs::path> DesktopEntries::defaultFolders() {
    std::string home = env("HOME");
    std::string dataHome = env("XDG_DATA_HOME");
    if (dataHome.empty())
        dataHome = home + "/.local/share";
    std::string dataDirs = env("XDG_DATA_DIRS");
    if (dataDirs.empty())
        dataDirs = "/usr/local/share:/usr/share";

    std::vector<fs::path> bases{dataHome, fs::path(dataHome) / "flatpak/exports/share"};
    for (const std::string& d : splitList(dataDirs + ":"))
        bases.emplace_back(d);
    bases.emplace_back("/var/lib/flatpak/exports/share");

    std::vector<fs::path> folders;
    for (const fs::path& base : bases) {
        fs::path f = (base / "applications").lexically_normal();
        if (std::find(folders.begin(), folders.end(), f) == folders.end())
            folders.push_back(f);
    }
    return folders;
}

DesktopEntries& DesktopEntries::shared() {
    static DesktopEntries instance(defaultFolders());
    return instance;
}

DesktopEntries::DesktopEntries(std::vector<fs::path> folders)
    : m_folders(std::move(folders)) {}

std::vector<std::string> DesktopEntries::splitList(const std::string& value) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : value) {
        if (c == ';' || c == ':') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

std::string DesktopEntries::execProgram(const std::string& exec) {
    std::istringstream in(exec);
    std::string word;
    bool first = true;
    while (in >> std::quoted(word)) {
        bool skip = (first && fs::path(word).filename() == "env") ||
                    (word.find('=') != std::string::npos && word[0] != '/');
        first = false;
        if (!skip)
            return fs::path(word).filename().string();
    }
    return {};
}

std::vector<fs::file_time_type> DesktopEntries::stamps() const {
    std::vector<fs::file_time_type> out;
    for (const fs::path& folder : m_folders) {
        std::error_code ec;
        out.push_back(fs::last_write_time(folder, ec));
        if (ec) {
            out.back() = fs::file_time_type::min();
            continue;
        }
        // Sub-folders (kde4/ and the like) hold entries too.
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->is_directory(ec))
                out.push_back(fs::last_write_time(it->path(), ec));
        }
    }
    return out;
}

void DesktopEntries::refreshIfChanged() {
    std::vector<fs::file_time_type> now = stamps();
    if (m_built && now == m_stamps)
        return;
    m_stamps = std::move(now);
    rebuild();
}

void DesktopEntries::rebuild() {
    m_entries.clear();
    m_order.clear();
    for (const fs::path& folder : m_folders)
        scanFolder(folder);
    m_built = true;
}

void DesktopEntries::scanFolder(const fs::path& folder) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".desktop" && it->is_regular_file(ec))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        std::string id = idFor(folder, file);
        if (m_entries.count(id))
            continue; // an earlier folder overrides this one, hidden or not
        auto key = KeyFile::load(file);
        if (!key)
            continue;
        const std::string g = "Desktop Entry";
        DesktopEntry e{id,
                       file,
                       key->value(g, "Name"),
                       key->value(g, "StartupWMClass"),
                       execProgram(key->value(g, "Exec")),
                       fs::path(key->value(g, "TryExec")).filename().string(),
                       splitList(key->value(g, "Categories")),
                       key->value(g, "Icon"),
                       key->value(g, "NoDisplay") == "true"};
        bool hidden = key->value(g, "Hidden") == "true";
        auto [it, added] = m_entries.emplace(id, std::move(e));
        if (!hidden && key->value(g, "Type") == "Application")
            m_order.push_back(&it->second);
        else
            it->second.categories.clear();
    }
}

const DesktopEntry* DesktopEntries::byId(const std::string& id) const {
    auto it = m_entries.find(id);
    if (it == m_entries.end())
        return nullptr;
    auto pos = std::find(m_order.begin(), m_order.end(), &it->second);
    return pos == m_order.end() ? nullptr : &it->second;
}

const DesktopEntry* DesktopEntries::match(const std::string& wmClass, const std::string& wmInstance,
                                          const std::string& executable) const {
    using Rule = bool (*)(const DesktopEntry&, const std::string&);
    const Rule rules[] = {
        [](const DesktopEntry& e, const std::string& w) { return sameText(e.id, w); },
        [](const DesktopEntry& e, const std::string& w) { return sameText(e.startupWMClass, w); },
        [](const DesktopEntry& e, const std::string& w) { return sameText(lastDotted(e.id), w); },
    };
    for (Rule rule : rules) {
        for (const DesktopEntry* e : m_order) {
            if (rule(*e, wmClass) || rule(*e, wmInstance))
                return e;
        }
    }
    for (const DesktopEntry* e : m_order) {
        if (!executable.empty() && (e->exec == executable || e->tryExec == executable))
            return e;
    }
    return nullptr;
}

} // namespace vantel::platform
