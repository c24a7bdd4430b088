#include "app/GlobalHotkey.h"

#include "settings/KeyboardLayout.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace vantel {

namespace {

struct Registry {
    std::map<std::uint32_t, std::function<void()>> actions;
    std::map<std::uint32_t, platform::KeyChord> chords;
    std::map<std::uint32_t, std::function<void()>> refusalActions;
    std::set<std::uint32_t> refused; // ids the desktop refused after accepting the grab
    std::uint32_t nextID = 1;
    // A child of the application object, so that it and its desktop connections go with the
    // application rather than after it, among the process's statics.
    QPointer<platform::HotkeyGrabber> grabber;
    bool made = false;
};

platform::HotkeyConfig& grabberConfig() {
    static platform::HotkeyConfig config;
    return config;
}

void runLater(std::uint32_t id);
void refuseLater(std::uint32_t id);

// The one grabber of the process, made with the first shortcut; its press handler is
// connected once.
Registry& registry() {
    static Registry r;
    if (!r.made) {
        r.made = true;
        r.grabber =
            platform::createHotkeyGrabber(grabberConfig(), QCoreApplication::instance()).release();
        QObject::connect(r.grabber.data(), &platform::HotkeyGrabber::pressed,
                         [](const platform::KeyChord& chord) {
                             for (const auto& [id, held] : registry().chords) {
                                 if (held == chord)
                                     runLater(id);
                             }
                         });
        QObject::connect(r.grabber.data(), &platform::HotkeyGrabber::refused,
                         [](const platform::KeyChord& chord) {
                             Registry& self = registry();
                             for (const auto& [id, held] : self.chords) {
                                 if (held == chord && self.refused.insert(id).second)
                                     refuseLater(id);
                             }
                         });
    }
    return r;
}

// The action is looked up again when it runs: a shortcut destroyed in between does nothing.
void runLater(std::uint32_t id) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [id] {
            auto& actions = registry().actions;
            if (auto it = actions.find(id); it != actions.end() && it->second)
                it->second();
        },
        Qt::QueuedConnection);
}

void refuseLater(std::uint32_t id) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [id] {
            auto& actions = registry().refusalActions;
            if (auto it = actions.find(id); it != actions.end() && it->second)
                it->second();
        },
        Qt::QueuedConnection);
}

std::optional<platform::KeyChord> chordOf(const Hotkey& hotkey) {
    const auto evdev = evdevCodeForKeyCode(hotkey.keyCode);
    if (!evdev)
        return std::nullopt;
    platform::KeyChord chord;
    chord.evdevCode = *evdev;
    chord.ctrl = hotkey.modifiers & Hotkey::kCtrl;
    chord.alt = hotkey.modifiers & Hotkey::kAlt;
    chord.shift = hotkey.modifiers & Hotkey::kShift;
    chord.super = hotkey.modifiers & Hotkey::kSuper;
    return chord;
}

} // namespace

GlobalHotkey::GlobalHotkey(const Hotkey& hotkey, std::function<void()> action)
    : m_hotkey(hotkey) {
    Registry& r = registry();
    m_id = r.nextID++;
    r.actions[m_id] = std::move(action);
    if (const auto chord = chordOf(hotkey)) {
        m_registered = r.grabber && r.grabber->grab(*chord);
        r.chords[m_id] = *chord;
    }
}

bool GlobalHotkey::registered() const {
    return m_registered && !registry().refused.count(m_id);
}

void GlobalHotkey::onRefused(std::function<void()> refused) {
    registry().refusalActions[m_id] = std::move(refused);
}

bool GlobalHotkey::desktopBindingNeeded() {
    const Registry& r = registry();
    return r.grabber && r.grabber->needsDesktopBinding();
}

void GlobalHotkey::useGrabber(platform::HotkeyConfig config) {
    grabberConfig() = std::move(config);
}

GlobalHotkey::~GlobalHotkey() {
    Registry& r = registry();
    if (auto it = r.chords.find(m_id); it != r.chords.end()) {
        if (r.grabber)
            r.grabber->release(it->second);
        r.chords.erase(it);
    }
    r.actions.erase(m_id);
    r.refusalActions.erase(m_id);
    r.refused.erase(m_id);
}

} // namespace vantel
