// Desktop entries as installed: real .desktop files in folders of the test home, read through
// the same index the workspace uses.

#include "platform/freedesktop/DesktopEntries.h"

#include "common/TestEnv.h"
#include "platform/freedesktop/KeyFile.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace fs = std::filesystem;
using vantel::platform::DesktopEntries;
using vantel::platform::KeyFile;
using vantel::test::testHome;
using vantel::test::writeFile;

namespace {

std::string entry(const std::string& body) {
    return "[Desktop Entry]\nType=Application\n" + body;
}

struct Folders {
    fs::path user = testHome() / "entries/user/applications";
    fs::path system = testHome() / "entries/system/applications";

    Folders() {
        writeFile(system / "org.example.Racer.desktop",
                  entry("Name=Racer\nStartupWMClass=racer-bin\nCategories=Game;ActionGame;\n"
                        "Exec=env FOO=1 /opt/racer/racer --fullscreen %U\n"));
        writeFile(system / "kde/editor.desktop",
                  entry("Name=Editor\nExec=\"/usr/lib/my tools/edit\" %f\nCategories=Office;\n"));
        writeFile(system / "net.example.Chess.desktop",
                  entry("Name=Chess\nExec=chess-run\nTryExec=chessd\n"));
        writeFile(system / "org.example.Gone.desktop", entry("Name=Gone\nExec=gone\n"));
        writeFile(system / "notes.desktop", entry("Name=Notes\nExec=notes\nCategories=Utility;"));
        // The user's copies take precedence, hidden ones hide the system entry.
        writeFile(user / "notes.desktop", entry("Name=My Notes\nExec=notes\n"));
        writeFile(user / "org.example.Gone.desktop", entry("Name=Gone\nHidden=true\n"));
        writeFile(user / "readme.txt", "not an entry");
    }
};

} // namespace

TEST(KeyFile, ParsesGroupsEscapesAndKeepsTheFirstValue) {
    KeyFile f = KeyFile::parse("# comment\nTop=ignored\n[A]\nKey = one\\stwo\\\\\nKey=second\n"
                               "Name[de]=Rennen\n\n[Instance]\napp-path=/x/files\r\n");
    EXPECT_EQ(f.value("A", "Key"), "one two\\");
    EXPECT_EQ(f.value("A", "Name[de]"), "Rennen");
    EXPECT_EQ(f.value("Instance", "app-path"), "/x/files");
    EXPECT_FALSE(f.has("A", "Top"));
    EXPECT_EQ(f.value("B", "Key"), "");
    EXPECT_FALSE(KeyFile::load(testHome() / "no-such-file").has_value());
}

TEST(DesktopEntries, IndexesIdsWithPrecedenceAndHiddenEntries) {
    Folders f;
    DesktopEntries entries({f.user, f.system});
    entries.refreshIfChanged();

    const auto* racer = entries.byId("org.example.Racer");
    ASSERT_NE(racer, nullptr);
    EXPECT_EQ(racer->name, "Racer");
    EXPECT_EQ(racer->path, f.system / "org.example.Racer.desktop");
    EXPECT_EQ(racer->categories, (std::vector<std::string>{"Game", "ActionGame"}));
    EXPECT_EQ(racer->exec, "racer");

    const auto* editor = entries.byId("kde-editor");
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->exec, "edit");

    ASSERT_NE(entries.byId("notes"), nullptr);
    EXPECT_EQ(entries.byId("notes")->name, "My Notes");
    EXPECT_TRUE(entries.byId("notes")->categories.empty());
    EXPECT_EQ(entries.byId("org.example.Gone"), nullptr);
    EXPECT_EQ(entries.match("", "", "gone"), nullptr);
}

TEST(DesktopEntries, MatchesWindowClassThenExecutableIgnoringCase) {
    Folders f;
    DesktopEntries entries({f.user, f.system});
    entries.refreshIfChanged();
    auto id = [&](const std::string& klass, const std::string& instance, const std::string& exe) {
        const auto* e = entries.match(klass, instance, exe);
        return e ? e->id : std::string("(none)");
    };
    EXPECT_EQ(id("org.example.racer", "", ""), "org.example.Racer"); // the id itself
    EXPECT_EQ(id("Whatever", "RACER-BIN", ""), "org.example.Racer"); // StartupWMClass
    EXPECT_EQ(id("Chess", "chess", ""), "net.example.Chess");        // last dotted part
    EXPECT_EQ(id("", "", "racer"), "org.example.Racer");             // Exec after env
    EXPECT_EQ(id("", "", "chessd"), "net.example.Chess");            // TryExec
    EXPECT_EQ(id("Unknown", "unknown", "unknown"), "(none)");
    // A class match wins over a different program's executable name.
    EXPECT_EQ(id("racer-bin", "", "chessd"), "org.example.Racer");
}

TEST(DesktopEntries, RefreshPicksUpNewEntriesOnlyWhenAFolderChanged) {
    Folders f;
    DesktopEntries entries({f.user, f.system, testHome() / "entries/missing/applications"});
    entries.refreshIfChanged();
    EXPECT_EQ(entries.byId("org.example.New"), nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    writeFile(f.user / "org.example.New.desktop", entry("Name=New\nCategories=Game;\n"));
    entries.refreshIfChanged();
    ASSERT_NE(entries.byId("org.example.New"), nullptr);
    EXPECT_EQ(entries.byId("org.example.New")->categories, std::vector<std::string>{"Game"});
}

TEST(DesktopEntries, DefaultFoldersFollowXdgAndFlatpakExports) {
    const std::string data = (testHome() / "data").string();
    setenv("XDG_DATA_DIRS", "/opt/share:/usr/share/:/var/lib/flatpak/exports/share", 1);
    std::vector<fs::path> folders = DesktopEntries::defaultFolders();
    std::vector<fs::path> expected{data + "/applications",
                                   data + "/flatpak/exports/share/applications",
                                   "/opt/share/applications", "/usr/share/applications",
                                   "/var/lib/flatpak/exports/share/applications"};
    EXPECT_EQ(folders, expected);
    unsetenv("XDG_DATA_DIRS");
    folders = DesktopEntries::defaultFolders();
    EXPECT_EQ(folders[2], fs::path("/usr/local/share/applications"));
    EXPECT_EQ(folders.back(), fs::path("/var/lib/flatpak/exports/share/applications"));
}
