#include "BackendOverrides.h"

#include "GlobalHotkey.h"

#include <QTextStream>
#include <utility>

namespace vantel {

namespace {

// The choice the variable's value names: nothing when unset, empty or not one of `values`, the
// last said so in `complaints`.
template <typename Choice>
std::optional<Choice> readChoice(const QProcessEnvironment& environment, const char* variable,
                                 std::initializer_list<std::pair<const char*, Choice>> values,
                                 QStringList& complaints) {
    const QString value = environment.value(QLatin1String(variable));
    if (value.isEmpty())
        return std::nullopt;
    QStringList names;
    for (const auto& [name, choice] : values) {
        if (value == QLatin1String(name))
            return choice;
        names << QLatin1String(name);
    }
    complaints << QStringLiteral("%1 is \"%2\", which is not one of %3; choosing as if unset.")
                      .arg(QLatin1String(variable), value, names.join(QStringLiteral(", ")));
    return std::nullopt;
}

} // namespace

BackendOverrides BackendOverrides::read(const QProcessEnvironment& environment,
                                        QStringList& complaints) {
    using platform::CaptureChoice;
    using platform::WorkspaceChoice;
    using Hotkeys = platform::HotkeyConfig::Choice;
    using Layout = KeyboardLayout::Source;
    using Presentation = Toast::Presentation;
    const auto& env = environment;
    BackendOverrides o;
    o.capture = readChoice<CaptureChoice>(env, "VANTEL_CAPTURE",
                                          {{"x11", CaptureChoice::x11},
                                           {"wayland", CaptureChoice::wayland},
                                           {"null", CaptureChoice::null}},
                                          complaints)
                    .value_or(o.capture);
    o.workspace = readChoice<WorkspaceChoice>(env, "VANTEL_WORKSPACE",
                                              {{"x11", WorkspaceChoice::x11},
                                               {"wayland", WorkspaceChoice::wayland},
                                               {"null", WorkspaceChoice::null}},
                                              complaints)
                      .value_or(o.workspace);
    o.hotkeys.choice =
        readChoice<Hotkeys>(
            env, "VANTEL_HOTKEYS",
            {{"x11", Hotkeys::x11}, {"portal", Hotkeys::portal}, {"null", Hotkeys::null}},
            complaints)
            .value_or(o.hotkeys.choice);
    o.toast = readChoice<Presentation>(
        env, "VANTEL_TOAST",
        {{"panel", Presentation::panel}, {"notification", Presentation::notification}}, complaints);
    o.keychain = readChoice<Keychain::Backend>(
        env, "VANTEL_KEYCHAIN",
        {{"file", Keychain::Backend::file}, {"secret-service", Keychain::Backend::secretService}},
        complaints);
    o.keyboardLayout =
        readChoice<Layout>(env, "VANTEL_KEYBOARD_LAYOUT",
                           {{"x11", Layout::x11}, {"names", Layout::names}, {"none", Layout::none}},
                           complaints)
            .value_or(o.keyboardLayout);
    o.site = {env.value(QStringLiteral("VANTEL_SITE_URL")), QStringLiteral("VANTEL_SITE_URL")};
    return o;
}

BackendOverrides BackendOverrides::fromEnvironment() {
    QStringList complaints;
    BackendOverrides overrides = read(QProcessEnvironment::systemEnvironment(), complaints);
    QTextStream err(stderr);
    for (const QString& line : complaints)
        err << "vantel-record: " << line << '\n';
    return overrides;
}

void BackendOverrides::applyProcessWide() const {
    if (keychain)
        Keychain::force(*keychain);
    KeyboardLayout::forceSource(keyboardLayout);
    overrideSiteURL(site);
    GlobalHotkey::useGrabber(hotkeys);
}

} // namespace vantel
