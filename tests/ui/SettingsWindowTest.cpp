// The settings window against the real settings store: choices and labels, the size estimate,
// write-through and live updates, the shortcut row and the clip folder row.

#include "ui/SettingsWindow.h"

#include "SettingsTestSupport.h"
#include "common/Screenshots.h"
#include "common/TestEnv.h"
#include "platform/freedesktop/Autostart.h"
#include "settings/AppPaths.h"
#include "settings/Notifications.h"
#include "settings/Settings.h"
#include "sharing/Account.h"
#include "ui/HotkeyField.h"
#include "ui/SettingsChoices.h"
#include "ui/ToggleSwitch.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

namespace vantel {
namespace {

QStringList itemsOf(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

// Picks an item as a person does (the combo reports it as activated).
void choose(QComboBox* combo, const QString& text) {
    const int index = combo->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

class Window : public ::testing::Test {
protected:
    void SetUp() override {
        m_desktop = test::systemDesktop();
        m_desktop.chooseFolder = [this](QWidget*, const QString& current) {
            m_offeredFolder = current;
            return m_nextFolder;
        };
        m_desktop.openFolder = [this](const QString& folder) {
            m_opened << folder;
        };
        m_desktop.reloadLibrary = [this] {
            ++m_reloads;
        };
    }

    template <typename T> T* find(SettingsWindow& window, const char* name) {
        T* child = window.findChild<T*>(QLatin1String(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    SettingsWindow::Desktop m_desktop;
    QString m_offeredFolder;
    QString m_nextFolder;
    QStringList m_opened;
    int m_reloads = 0;
};

TEST_F(Window, OffersTheChoicesWithTheirLabels) {
    SettingsWindow window(test::services(Account::shared()), m_desktop);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Vantel Record Settings"));
    EXPECT_EQ(window.size(), QSize(560, 680));
    EXPECT_EQ(itemsOf(find<QComboBox>(window, "replayLength")),
              QStringList({"15 seconds", "30 seconds", "1 minute", "2 minutes", "5 minutes"}));
    EXPECT_EQ(itemsOf(find<QComboBox>(window, "record")),
              QStringList({"Only while a game is open", "Always"}));
    EXPECT_EQ(itemsOf(find<QComboBox>(window, "resolution")),
              QStringList({"Native", "2160p", "1440p", "1080p", "720p"}));
    EXPECT_EQ(itemsOf(find<QComboBox>(window, "frameRate")),
              QStringList({"30 fps", "60 fps", "120 fps"}));
    EXPECT_EQ(itemsOf(find<QComboBox>(window, "quality")),
              QStringList({"Standard", "High", "Ultra"}));
    EXPECT_EQ(itemsOf(find<QComboBox>(window, "format")),
              QStringList({"H.264 (plays everywhere)", "HEVC (smaller files)"}));
    EXPECT_EQ(SettingsChoices::replayLengthLabel(90), QStringLiteral("1 minutes"));
    auto* gameSound = find<ToggleSwitch>(window, "gameSound");
    EXPECT_TRUE(gameSound->isChecked());
    EXPECT_FALSE(gameSound->isEnabled());
}

TEST_F(Window, EstimateFollowsEveryChangeAndChoicesAreStored) {
    SettingsWindow window(test::services(Account::shared()), m_desktop);
    choose(find<QComboBox>(window, "resolution"), QStringLiteral("1080p"));
    choose(find<QComboBox>(window, "frameRate"), QStringLiteral("60 fps"));
    choose(find<QComboBox>(window, "quality"), QStringLiteral("High"));
    choose(find<QComboBox>(window, "format"), QStringLiteral("H.264 (plays everywhere)"));
    auto* estimate = find<QLabel>(window, "estimate");
    EXPECT_EQ(estimate->text(), QStringLiteral("About 22 Mbps. A one minute clip is about 168 MB. "
                                               "The replay is kept on disk, not in memory."));
    choose(find<QComboBox>(window, "format"), QStringLiteral("HEVC (smaller files)"));
    EXPECT_EQ(estimate->text(), QStringLiteral("About 15 Mbps. A one minute clip is about 109 MB. "
                                               "The replay is kept on disk, not in memory."));
    choose(find<QComboBox>(window, "replayLength"), QStringLiteral("2 minutes"));
    choose(find<QComboBox>(window, "record"), QStringLiteral("Always"));

    const Settings& s = test::store();
    EXPECT_EQ(s.maxHeight(), 1080);
    EXPECT_EQ(s.codec(), Codec::hevc);
    EXPECT_EQ(s.bufferSeconds(), 120);
    EXPECT_EQ(s.mode(), CaptureMode::always);
    QSettings file(AppPaths::configFile(), QSettings::IniFormat);
    EXPECT_EQ(file.value("codec").toString(), QStringLiteral("hevc"));
    EXPECT_EQ(file.value("bufferSeconds").toInt(), 120);
}

TEST_F(Window, FollowsTheStoreLive) {
    SettingsWindow window(test::services(Account::shared()), m_desktop);
    Settings& s = test::store();
    s.setFps(120);
    s.setQuality(Quality::ultra);
    s.setBufferSeconds(45); // not offered, but stored by hand: shown as it is
    s.setPlaySound(false);
    EXPECT_EQ(find<QComboBox>(window, "frameRate")->currentText(), QStringLiteral("120 fps"));
    EXPECT_EQ(find<QComboBox>(window, "quality")->currentText(), QStringLiteral("Ultra"));
    EXPECT_EQ(find<QComboBox>(window, "replayLength")->currentText(), QStringLiteral("45 seconds"));
    EXPECT_FALSE(find<ToggleSwitch>(window, "playSound")->isChecked());
    EXPECT_EQ(find<QLabel>(window, "estimate")->text(),
              SettingsChoices::estimateText(s, SettingsChoices::mainScreenHeight()));
    s.setBufferSeconds(30);
    s.setPlaySound(true);
}

TEST_F(Window, SwitchesWriteThrough) {
    SettingsWindow window(test::services(Account::shared()), m_desktop);
    window.show();
    Settings& s = test::store();
    s.setRecordMic(false);
    s.setShowCursor(false);
    find<ToggleSwitch>(window, "recordMic")->click();
    find<ToggleSwitch>(window, "showCursor")->click();
    EXPECT_TRUE(s.recordMic());
    EXPECT_TRUE(s.showCursor());
    find<ToggleSwitch>(window, "recordMic")->click();
    EXPECT_FALSE(s.recordMic());
}

TEST_F(Window, RecordedShortcutIsStoredAndAnnouncedAtOnce) {
    test::store().setSaveHotkey(Hotkey::defaultSave());
    SettingsWindow window(test::services(Account::shared()), m_desktop);
    window.show();
    int posts = 0;
    QObject context;
    QObject::connect(&test::notifications(), &Notifications::hotkeyChanged, &context,
                     [&] { ++posts; });
    auto* field = find<HotkeyField>(window, "hotkey");
    field->setAlert([] {});
    field->click();
    test::pressKey(&window, Qt::Key_A, KEY_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(test::store().saveHotkey(), (Hotkey{0, Hotkey::kCtrl | Hotkey::kShift}));
    QSettings file(AppPaths::configFile(), QSettings::IniFormat);
    EXPECT_EQ(file.value("hkCode").toInt(), 0);
    EXPECT_EQ(file.value("hkMods").toInt(), 0x1200);

    field->click();
    test::pressKey(&window, Qt::Key_Escape, KEY_ESC);
    EXPECT_EQ(posts, 1) << "Esc must not store anything";
    test::store().setSaveHotkey(Hotkey::defaultSave());
    EXPECT_EQ(field->text(), QStringLiteral("Alt+Shift+C")) << "the field follows the store";
}

TEST_F(Window, ClipFolderRowChangesReloadsAndOpens) {
    Settings& s = test::store();
    const QString before = s.folder();
    SettingsWindow window(test::services(Account::shared()), m_desktop);
    window.show();
    m_nextFolder.clear();
    find<QPushButton>(window, "changeFolder")->click();
    EXPECT_EQ(m_offeredFolder, before);
    EXPECT_EQ(s.folder(), before) << "a cancelled chooser changes nothing";
    EXPECT_EQ(m_reloads, 0);

    m_nextFolder = QString::fromStdString((test::testHome() / "Other Clips").string());
    find<QPushButton>(window, "changeFolder")->click();
    EXPECT_EQ(s.folder(), m_nextFolder);
    EXPECT_EQ(m_reloads, 1);
    EXPECT_EQ(find<QLabel>(window, "path")->toolTip(), m_nextFolder);
    find<QPushButton>(window, "openFolder")->click();
    EXPECT_EQ(m_opened, QStringList({m_nextFolder}));
    s.setFolder(before);
}

TEST_F(Window, OpenAtLoginWritesTheAutostartEntryAndShowsWhatTheFileSays) {
    const QString entry = platform::Autostart::entryPath();
    QFile::remove(entry);
    SettingsWindow window(test::services(Account::shared()), m_desktop);
    window.show();
    auto* openAtLogin = find<ToggleSwitch>(window, "openAtLogin");
    EXPECT_FALSE(openAtLogin->isChecked());
    openAtLogin->click();
    EXPECT_TRUE(QFile::exists(entry));
    EXPECT_TRUE(openAtLogin->isChecked());
    openAtLogin->click();
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_FALSE(openAtLogin->isChecked());

    // A folder that cannot hold the entry: the switch flips back.
    const QString folder = QFileInfo(entry).path();
    QDir(folder).removeRecursively();
    test::writeFile(folder.toStdString(), "not a folder");
    openAtLogin->click();
    EXPECT_FALSE(openAtLogin->isChecked());
    QFile::remove(folder);
}

TEST_F(Window, Screenshot) {
    test::store().setExtraGames({"org.example.SkyRacer", "net.example.Dungeon", "gone.app"});
    SettingsWindow window(test::services(Account::shared()), m_desktop);
    window.show();
    QCoreApplication::processEvents();
    test::saveWidgetShot(&window, QStringLiteral("settings-window"));
    auto* scroll = window.findChild<QScrollArea*>();
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    QCoreApplication::processEvents();
    test::saveWidgetShot(&window, QStringLiteral("settings-window-bottom"));
    test::store().setExtraGames({});
}

} // namespace
} // namespace vantel
