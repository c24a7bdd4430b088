// The extra games: the working list the window edits, the rows it shows, and the application
// picker that adds to it.

#include "SettingsTestSupport.h"
#include "common/Screenshots.h"
#include "platform/freedesktop/DesktopEntries.h"
#include "settings/Notifications.h"
#include "settings/Settings.h"
#include "sharing/Account.h"
#include "ui/AppPicker.h"
#include "ui/ExtraGamesModel.h"
#include "ui/SettingsWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace vantel {
namespace {

// The rows of the list; replaced rows are deleted later, so they are deleted first.
QList<QWidget*> currentRows(SettingsWindow& window) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return window.findChildren<QWidget*>(QStringLiteral("gameRow"));
}

QStringList shownNames(SettingsWindow& window) {
    QStringList names;
    for (const QWidget* row : currentRows(window))
        names << row->findChild<QLabel*>(QStringLiteral("gameName"))->text();
    return names;
}

QPushButton* removeButtonOf(SettingsWindow& window, const QString& name) {
    for (QWidget* row : currentRows(window)) {
        auto* label = row->findChild<QLabel*>(QStringLiteral("gameName"));
        if (label && label->text() == name)
            return row->findChild<QPushButton*>(QStringLiteral("remove"));
    }
    return nullptr;
}

class Games : public ::testing::Test {
protected:
    SettingsWindow::Desktop desktop() {
        SettingsWindow::Desktop d = test::systemDesktop();
        d.chooseApp = [this](QWidget*, AppCatalog&) {
            return m_nextChoice;
        };
        return d;
    }
    QString m_nextChoice;
};

TEST_F(Games, RowsShowNamesOrTheBareIdAndEditsAreStoredWhole) {
    test::store().setExtraGames({"org.example.SkyRacer", "gone.app", "org.example.SkyRacer"});
    SettingsWindow window(test::services(Account::shared()), desktop());
    window.show();
    EXPECT_EQ(shownNames(window), QStringList({"Sky Racer", "gone.app", "Sky Racer"}));

    int posts = 0;
    QObject context;
    QObject::connect(&test::notifications(), &Notifications::extraGamesChanged, &context,
                     [&] { ++posts; });
    m_nextChoice = QStringLiteral("net.example.Dungeon");
    window.addGame();
    window.addGame();
    EXPECT_EQ(test::store().extraGames(),
              QStringList({"org.example.SkyRacer", "gone.app", "org.example.SkyRacer",
                           "net.example.Dungeon"}));
    EXPECT_EQ(posts, 1) << "the second add of the same app must change nothing";

    m_nextChoice.clear(); // cancelled
    window.addGame();
    EXPECT_EQ(posts, 1);

    QPushButton* remove = removeButtonOf(window, QStringLiteral("Sky Racer"));
    ASSERT_NE(remove, nullptr);
    remove->click();
    EXPECT_EQ(test::store().extraGames(), QStringList({"gone.app", "net.example.Dungeon"}));
    EXPECT_EQ(shownNames(window), QStringList({"gone.app", "Dungeon Depths"}));
    EXPECT_EQ(posts, 2);
}

TEST_F(Games, ListIsReadOnceWhenTheWindowIsMade) {
    test::store().setExtraGames({"a.one"});
    AppCatalog catalog(platform::DesktopEntries::shared());
    ExtraGamesModel model(test::store(), catalog);
    test::store().setExtraGames({"b.two"});
    EXPECT_EQ(model.ids(), QStringList({"a.one"}));
    EXPECT_FALSE(model.add(QString())) << "an empty id is no application";
    model.add(QStringLiteral("c.three"));
    EXPECT_EQ(test::store().extraGames(), QStringList({"a.one", "c.three"}));
}

TEST(AppPickerTest, ListsInstalledAppsByNameAndSearchesNamesAndIds) {
    AppCatalog catalog(platform::DesktopEntries::shared());
    AppPicker picker(catalog);
    picker.show();
    QListView* list = picker.list();
    QStringList names;
    for (int i = 0; i < list->model()->rowCount(); ++i)
        names << list->model()->index(i, 0).data().toString();
    EXPECT_EQ(names, QStringList({"chess Club", "Dungeon Depths", "Image Viewer", "Notes",
                                  "Retro Emulator", "Sky Racer"}))
        << "sorted by name, NoDisplay entries left out";
    EXPECT_TRUE(picker.selectedId().isEmpty());
    QCoreApplication::processEvents();
    test::saveWidgetShot(&picker, QStringLiteral("settings-app-picker"));

    QTest::keyClicks(picker.searchField(), QStringLiteral("DUNG"));
    ASSERT_EQ(list->model()->rowCount(), 1);
    EXPECT_EQ(picker.selectedId(), QStringLiteral("net.example.Dungeon"));
    picker.searchField()->setText(QStringLiteral("skyracer"));
    EXPECT_EQ(picker.selectedId(), QStringLiteral("org.example.SkyRacer")) << "found by its id";
    picker.searchField()->setText(QStringLiteral("nothing like this"));
    EXPECT_EQ(list->model()->rowCount(), 0);
    EXPECT_TRUE(picker.selectedId().isEmpty());
}

TEST(AppPickerTest, ReturnTakesTheBestMatch) {
    AppCatalog catalog(platform::DesktopEntries::shared());
    AppPicker picker(catalog);
    picker.show();
    QSignalSpy accepted(&picker, &QDialog::accepted);
    QTest::keyClicks(picker.searchField(), QStringLiteral("retro"));
    QTest::keyClick(picker.searchField(), Qt::Key_Return);
    EXPECT_EQ(accepted.size(), 1);
    EXPECT_EQ(picker.selectedId(), QStringLiteral("org.example.Emulator"));
}

} // namespace
} // namespace vantel
