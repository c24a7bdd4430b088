#pragma once

// The backends a user can force for one run, read from the environment in this one place when
// the program starts and handed to the code that makes each backend:
//
//   VANTEL_CAPTURE=x11|wayland|null        screen capture
//   VANTEL_WORKSPACE=x11|wayland|null      applications, windows and monitors (game detection)
//   VANTEL_HOTKEYS=x11|portal|null         the global save shortcut
//   VANTEL_TOAST=panel|notification        toasts as a panel or as desktop notifications
//   VANTEL_KEYCHAIN=file|secret-service    where the sign-in token is kept
//   VANTEL_KEYBOARD_LAYOUT=x11|names|none  where the shortcut's key names come from
//   VANTEL_SITE_URL=<address>              the sharing service, in place of the settings file's
//
// An unset or empty variable leaves the choice to the session. A value outside its list is
// named on standard error and left out, so a typo does not go unseen. The members without a
// variable (the portal's bus name, the copy method) are set only by a test build of the program
// (ProgramHooks).
//
// Thread: main thread.

#include "Toast.h"
#include "media/FileCopy.h"
#include "platform/capture/CaptureBackend.h"
#include "platform/hotkeys/HotkeyGrabber.h"
#include "platform/workspace/Workspace.h"
#include "settings/KeyboardLayout.h"
#include "settings/SiteUrl.h"
#include "sharing/Keychain.h"

#include <QProcessEnvironment>
#include <QStringList>
#include <optional>

namespace vantel {

struct BackendOverrides {
    platform::CaptureChoice capture = platform::CaptureChoice::automatic;
    platform::WorkspaceChoice workspace = platform::WorkspaceChoice::automatic;
    platform::HotkeyConfig hotkeys;
    std::optional<Toast::Presentation> toast;
    std::optional<Keychain::Backend> keychain;
    KeyboardLayout::Source keyboardLayout = KeyboardLayout::Source::automatic;
    SiteOverride site; // an empty value leaves the address to the settings file
    media::CopyMethod copy = media::CopyMethod::kernel;

    // The overrides `environment` asks for; one line per refused value in `complaints`.
    static BackendOverrides read(const QProcessEnvironment& environment, QStringList& complaints);
    // read() of this process's environment, its complaints on standard error.
    static BackendOverrides fromEnvironment();

    // Hands the choices that hold for the whole process to their owners: the keychain, the
    // keyboard layout, the site address and the global shortcut's grabber. Before any of them is
    // first used.
    void applyProcessWide() const;
};

} // namespace vantel
