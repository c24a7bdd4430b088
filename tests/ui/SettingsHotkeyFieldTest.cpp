// The shortcut recorder on its own and inside the settings window: which keys it takes, the
// alert on a refused key, Esc, and that keys never reach other controls while it listens.

#include "SettingsTestSupport.h"
#include "settings/Notifications.h"
#include "settings/Settings.h"
#include "ui/HotkeyField.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

namespace vantel {
namespace {

// A recorder beside a text field, in one window, with the alerts counted.
class Recorder : public ::testing::Test {
protected:
    void SetUp() override {
        auto* layout = new QVBoxLayout(&m_window);
        m_field = new HotkeyField;
        m_text = new QLineEdit;
        layout->addWidget(m_field);
        layout->addWidget(m_text);
        m_field->setHotkey(Hotkey::defaultSave());
        m_field->setAlert([this] { ++m_alerts; });
        m_window.show();
        m_text->setFocus();
    }

    void listen() {
        m_field->click();
        ASSERT_TRUE(m_field->isListening());
        ASSERT_EQ(m_field->text(), QStringLiteral("Press a shortcut…"));
    }

    QWidget m_window;
    HotkeyField* m_field = nullptr;
    QLineEdit* m_text = nullptr;
    int m_alerts = 0;
};

TEST_F(Recorder, ShowsTheShortcutAndTakesAModifiedLetter) {
    EXPECT_EQ(m_field->text(), QStringLiteral("Alt+Shift+C"));
    QSignalSpy recorded(m_field, &HotkeyField::hotkeyRecorded);
    listen();
    test::pressKey(m_text, Qt::Key_A, KEY_A, Qt::ControlModifier | Qt::ShiftModifier,
                   QStringLiteral("A"));
    ASSERT_EQ(recorded.size(), 1);
    const Hotkey expected{0, Hotkey::kCtrl | Hotkey::kShift};
    EXPECT_EQ(recorded[0][0].value<Hotkey>(), expected);
    EXPECT_EQ(m_field->hotkey(), expected);
    EXPECT_FALSE(m_field->isListening());
    EXPECT_EQ(m_field->text(), QStringLiteral("Ctrl+Shift+A"));
    EXPECT_EQ(m_alerts, 0);
    EXPECT_TRUE(m_text->text().isEmpty()) << "the key reached the text field";
}

TEST_F(Recorder, TakesAFunctionKeyAlone) {
    QSignalSpy recorded(m_field, &HotkeyField::hotkeyRecorded);
    listen();
    test::pressKey(m_text, Qt::Key_F5, KEY_F5);
    ASSERT_EQ(recorded.size(), 1);
    EXPECT_EQ(m_field->hotkey(), (Hotkey{96, 0}));
    EXPECT_EQ(m_field->text(), QStringLiteral("F5"));
    EXPECT_EQ(m_alerts, 0);
}

TEST_F(Recorder, RefusesALetterOrAnArrowAloneWithTheAlertAndListensOn) {
    QSignalSpy recorded(m_field, &HotkeyField::hotkeyRecorded);
    QSignalSpy refused(m_field, &HotkeyField::keyRefused);
    listen();
    test::pressKey(m_text, Qt::Key_A, KEY_A, Qt::NoModifier, QStringLiteral("a"));
    EXPECT_EQ(m_alerts, 1);
    EXPECT_TRUE(m_field->isListening());
    test::pressKey(m_text, Qt::Key_Left, KEY_LEFT);
    EXPECT_EQ(m_alerts, 2);
    EXPECT_EQ(refused.size(), 2);
    EXPECT_TRUE(m_field->isListening());
    EXPECT_EQ(recorded.size(), 0);
    EXPECT_EQ(m_field->hotkey(), Hotkey::defaultSave());
    EXPECT_TRUE(m_text->text().isEmpty()) << "a refused key reached the text field";
    // Still listening: a good key is taken after the refused ones.
    test::pressKey(m_text, Qt::Key_Left, KEY_LEFT, Qt::AltModifier);
    EXPECT_EQ(m_field->hotkey(), (Hotkey{123, Hotkey::kAlt}));
}

TEST_F(Recorder, ModifierKeysAloneNeitherCountNorAlert) {
    listen();
    test::pressKey(m_text, Qt::Key_Control, KEY_LEFTCTRL, Qt::ControlModifier);
    test::pressKey(m_text, Qt::Key_Shift, KEY_LEFTSHIFT, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(m_field->isListening());
    EXPECT_EQ(m_alerts, 0);
    EXPECT_EQ(m_field->hotkey(), Hotkey::defaultSave());
}

TEST_F(Recorder, EscapeOrASecondClickKeepsTheOldShortcut) {
    QSignalSpy recorded(m_field, &HotkeyField::hotkeyRecorded);
    listen();
    test::pressKey(m_text, Qt::Key_Escape, KEY_ESC);
    EXPECT_FALSE(m_field->isListening());
    EXPECT_EQ(m_field->text(), QStringLiteral("Alt+Shift+C"));
    listen();
    m_field->click();
    EXPECT_FALSE(m_field->isListening());
    EXPECT_EQ(recorded.size(), 0);
    EXPECT_EQ(m_alerts, 0);
    // Idle again: typing reaches the text field.
    test::pressKey(m_text, Qt::Key_A, KEY_A, Qt::NoModifier, QStringLiteral("a"));
    EXPECT_EQ(m_text->text(), QStringLiteral("a"));
}

TEST_F(Recorder, TakesPositionsFromTheScanCodeAndQtKeysWithoutOne) {
    // A French layout types Q where a US one types A: the stored key is the position.
    QKeyEvent azerty(QEvent::KeyPress, Qt::Key_Q, Qt::ControlModifier, KEY_A + 8, 0, 0);
    EXPECT_EQ(HotkeyField::keyCodeOf(azerty), 0u);
    QKeyEvent noScanCode(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
    EXPECT_EQ(HotkeyField::keyCodeOf(noScanCode), 96u);
    QKeyEvent unknown(QEvent::KeyPress, Qt::Key_LaunchMail, Qt::NoModifier);
    EXPECT_FALSE(HotkeyField::keyCodeOf(unknown).has_value());
}

TEST(RecorderRule, FunctionBlockAloneOtherKeysOnlyWithModifiers) {
    EXPECT_TRUE(HotkeyField::accepts(96, 0));  // F5
    EXPECT_TRUE(HotkeyField::accepts(122, 0)); // F1
    EXPECT_TRUE(HotkeyField::accepts(115, 0)); // Home
    EXPECT_FALSE(HotkeyField::accepts(95, 0));
    EXPECT_FALSE(HotkeyField::accepts(123, 0)); // Left
    EXPECT_FALSE(HotkeyField::accepts(0, 0));
    EXPECT_TRUE(HotkeyField::accepts(0, Hotkey::kSuper));
    EXPECT_TRUE(HotkeyField::accepts(123, Hotkey::kShift));
    EXPECT_FALSE(HotkeyField::accepts(0, 0x0001)) << "a bit no modifier uses counts as none";
}

} // namespace
} // namespace vantel
