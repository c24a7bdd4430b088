// The backend choices the program reads from its environment: each variable's words name their
// backend, anything else is refused aloud and leaves the session to decide, and the choices that
// hold for the whole process reach the keychain, the keyboard layout and the site address.

#include "app/BackendOverrides.h"

#include <gtest/gtest.h>

namespace vantel {
namespace {

using platform::CaptureChoice;
using platform::WorkspaceChoice;
using Hotkeys = platform::HotkeyConfig::Choice;

BackendOverrides readFrom(const QStringList& assignments, QStringList& complaints) {
    QProcessEnvironment environment;
    for (const QString& assignment : assignments)
        environment.insert(assignment.section(u'=', 0, 0), assignment.section(u'=', 1));
    return BackendOverrides::read(environment, complaints);
}

TEST(BackendOverrides, EachVariableNamesItsBackend) {
    QStringList complaints;
    const BackendOverrides none = readFrom({"VANTEL_CAPTURE=", "OTHER=x11"}, complaints);
    EXPECT_EQ(none.capture, CaptureChoice::automatic);
    EXPECT_EQ(none.workspace, WorkspaceChoice::automatic);
    EXPECT_EQ(none.hotkeys.choice, Hotkeys::automatic);
    EXPECT_EQ(none.hotkeys.portalService, "org.freedesktop.portal.Desktop");
    EXPECT_FALSE(none.toast || none.keychain);
    EXPECT_EQ(none.keyboardLayout, KeyboardLayout::Source::automatic);
    EXPECT_TRUE(none.site.value.isEmpty());
    EXPECT_EQ(none.copy, media::CopyMethod::kernel);

    const BackendOverrides forced =
        readFrom({"VANTEL_CAPTURE=wayland", "VANTEL_WORKSPACE=null", "VANTEL_HOTKEYS=portal",
                  "VANTEL_TOAST=notification", "VANTEL_KEYCHAIN=secret-service",
                  "VANTEL_KEYBOARD_LAYOUT=names", "VANTEL_SITE_URL=http://127.0.0.1:8080/"},
                 complaints);
    EXPECT_EQ(forced.capture, CaptureChoice::wayland);
    EXPECT_EQ(forced.workspace, WorkspaceChoice::null);
    EXPECT_EQ(forced.hotkeys.choice, Hotkeys::portal);
    EXPECT_EQ(forced.toast, Toast::Presentation::notification);
    EXPECT_EQ(forced.keychain, Keychain::Backend::secretService);
    EXPECT_EQ(forced.keyboardLayout, KeyboardLayout::Source::names);
    EXPECT_EQ(forced.site.value, "http://127.0.0.1:8080/");
    EXPECT_EQ(forced.site.origin, "VANTEL_SITE_URL");
    EXPECT_TRUE(complaints.isEmpty()) << complaints.join('\n').toStdString();

    const BackendOverrides other =
        readFrom({"VANTEL_CAPTURE=x11", "VANTEL_HOTKEYS=null", "VANTEL_TOAST=panel",
                  "VANTEL_KEYCHAIN=file", "VANTEL_KEYBOARD_LAYOUT=none"},
                 complaints);
    EXPECT_EQ(other.capture, CaptureChoice::x11);
    EXPECT_EQ(other.hotkeys.choice, Hotkeys::null);
    EXPECT_EQ(other.toast, Toast::Presentation::panel);
    EXPECT_EQ(other.keychain, Keychain::Backend::file);
    EXPECT_EQ(other.keyboardLayout, KeyboardLayout::Source::none);
    EXPECT_TRUE(complaints.isEmpty());
}

TEST(BackendOverrides, AnUnknownValueIsNamedAndLeavesTheChoiceToTheSession) {
    QStringList complaints;
    const BackendOverrides typo = readFrom(
        {"VANTEL_CAPTURE=X11", "VANTEL_KEYCHAIN=keyring", "VANTEL_WORKSPACE=wayland"}, complaints);
    EXPECT_EQ(typo.capture, CaptureChoice::automatic);
    EXPECT_FALSE(typo.keychain);
    EXPECT_EQ(typo.workspace, WorkspaceChoice::wayland) << "the good one still counts";
    ASSERT_EQ(complaints.size(), 2);
    EXPECT_EQ(complaints[0], "VANTEL_CAPTURE is \"X11\", which is not one of x11, wayland, null; "
                             "choosing as if unset.");
    EXPECT_TRUE(complaints[1].startsWith("VANTEL_KEYCHAIN is \"keyring\""));
}

TEST(BackendOverrides, TheProcessWideChoicesReachTheirOwners) {
    BackendOverrides overrides;
    overrides.keychain = Keychain::Backend::file;
    overrides.keyboardLayout = KeyboardLayout::Source::none;
    overrides.site = {QStringLiteral("http://127.0.0.1:9/self/"),
                      QStringLiteral("VANTEL_SITE_URL")};
    overrides.applyProcessWide();
    EXPECT_EQ(Keychain::backend(), Keychain::Backend::file);
    EXPECT_EQ(KeyboardLayout::current(), nullptr);
    EXPECT_EQ(siteURL().toString(), "http://127.0.0.1:9/self/");
    KeyboardLayout::forceSource(KeyboardLayout::Source::automatic);
}

} // namespace
} // namespace vantel
