#include "SettingsWindow.h"

#include "AppPicker.h"
#include "ElidedLabel.h"
#include "ExtraGamesModel.h"
#include "HotkeyField.h"
#include "SettingBinding.h"
#include "SettingsAccountRows.h"
#include "SettingsChoices.h"
#include "SettingsRows.h"
#include "SettingsStyle.h"
#include "Theme.h"
#include "ToggleSwitch.h"
#include "library/Library.h"
#include "platform/freedesktop/Autostart.h"
#include "settings/Settings.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QUrl>

namespace vantel {

using namespace SettingsRows;

namespace {

template <typename T> QString labelOf(T value) {
    const std::string_view text = label(value);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void setChecked(ToggleSwitch* s, bool on) {
    const QSignalBlocker quiet(s);
    s->setChecked(on);
}

QString chooseFolderWithDialog(QWidget* parent, const QString& current) {
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("Choose the clip folder"),
                                             current, QFileDialog::ShowDirsOnly);
}

void openFolderInFileManager(const QString& folder) {
    // The folder is made with the first clip; asked to show it before that, make it now.
    QDir().mkpath(folder);
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

} // namespace

SettingsWindow::Desktop SettingsWindow::Desktop::system(Library& library) {
    return {chooseFolderWithDialog,
            [](QWidget* parent, AppCatalog& catalog) { return AppPicker::pick(catalog, parent); },
            openFolderInFileManager, [&library] { library.reload(); },
            [](const QUrl& url) {
                QDesktopServices::openUrl(url);
            }};
}

SettingsWindow::SettingsWindow(const Services& services, Desktop desktop, QWidget* parent)
    : QWidget(parent)
    , m_settings(services.settings)
    , m_account(services.account)
    , m_desktop(std::move(desktop))
    , m_catalog(services.entries)
    , m_games(std::make_unique<ExtraGamesModel>(m_settings, m_catalog)) {
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(QStringLiteral("Vantel Record Settings"));
    setFixedSize(560, 680);
    Theme::styleWindow(this);
    setStyleSheet(SettingsStyle::styleSheet());
    setFont(SettingsStyle::bodyFont());

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("settingsContent"));
    m_page = new QVBoxLayout(content);
    m_page->setContentsMargins(22, 18, 22, 22);
    m_page->setSpacing(6);
    // Every control shows the store as it is once built, before the scroll area lays the page
    // out, so its first layout is the real one.
    buildRecording();
    buildAudio();
    buildClipping();
    buildGames();
    buildStorage();
    buildAccount();
    buildGeneral();
    m_page->addStretch();
    refreshGames();

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("settingsScroll"));
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::buildRecording() {
    QVBoxLayout* group = section(m_page, QStringLiteral("Recording"));
    using namespace SettingsChoices;
    using SettingBinding::bindPicker;
    QComboBox* mode = picker(QStringLiteral("record"));
    QComboBox* replayLength = picker(QStringLiteral("replayLength"));
    QComboBox* resolution = picker(QStringLiteral("resolution"));
    QComboBox* frameRate = picker(QStringLiteral("frameRate"));
    QComboBox* quality = picker(QStringLiteral("quality"));
    QComboBox* format = picker(QStringLiteral("format"));
    bindPicker(mode, m_settings, setting::mode, allCaptureModes, labelOf<CaptureMode>);
    bindPicker(replayLength, m_settings, setting::bufferSeconds, replayLengths(),
               replayLengthLabel);
    bindPicker(resolution, m_settings, setting::maxHeight, resolutions(), resolutionLabel);
    bindPicker(frameRate, m_settings, setting::fps, frameRates(), frameRateLabel);
    bindPicker(quality, m_settings, setting::quality, allQualities, labelOf<Quality>);
    bindPicker(format, m_settings, setting::codec, allCodecs, labelOf<Codec>);
    addRow(group, labelledRow(QStringLiteral("Record"), mode));
    addRow(group, labelledRow(QStringLiteral("Replay length"), replayLength));
    addRow(group, labelledRow(QStringLiteral("Resolution"), resolution));
    addRow(group, labelledRow(QStringLiteral("Frame rate"), frameRate));
    addRow(group, labelledRow(QStringLiteral("Quality"), quality));
    addRow(group, labelledRow(QStringLiteral("Format"), format));
    m_estimate = secondaryText(QString());
    m_estimate->setObjectName(QStringLiteral("estimate"));
    addRow(group, paddedRow(m_estimate));
    refreshEstimate();
    for (auto changed :
         {&Settings::bufferSecondsChanged, &Settings::maxHeightChanged, &Settings::fpsChanged})
        connect(&m_settings, changed, this, &SettingsWindow::refreshEstimate);
    connect(&m_settings, &Settings::qualityChanged, this, &SettingsWindow::refreshEstimate);
    connect(&m_settings, &Settings::codecChanged, this, &SettingsWindow::refreshEstimate);
    connect(&m_settings, &Settings::modeChanged, this, &SettingsWindow::refreshEstimate);
}

void SettingsWindow::buildAudio() {
    QVBoxLayout* group = section(m_page, QStringLiteral("Audio"));
    auto* gameSound = toggle(QStringLiteral("gameSound"));
    gameSound->setChecked(true);
    gameSound->setEnabled(false);
    auto* recordMic = toggle(QStringLiteral("recordMic"));
    addRow(group, labelledRow(QStringLiteral("Record game and computer sound"), gameSound));
    addRow(group, labelledRow(QStringLiteral("Record my microphone (own track, mute it later)"),
                              recordMic));
    SettingBinding::bindSwitch(recordMic, m_settings, setting::recordMic);
}

void SettingsWindow::buildClipping() {
    QVBoxLayout* group = section(m_page, QStringLiteral("Clipping"));
    auto* hotkey = new HotkeyField;
    hotkey->setObjectName(QStringLiteral("hotkey"));
    auto* playSound = toggle(QStringLiteral("playSound"));
    auto* showCursor = toggle(QStringLiteral("showCursor"));
    m_autoShare = toggle(QStringLiteral("autoShare"));
    addRow(group, labelledRow(QStringLiteral("Save clip shortcut"), hotkey));
    addRow(group, labelledRow(QStringLiteral("Play a sound when a clip is saved"), playSound));
    addRow(group, labelledRow(QStringLiteral("Show the mouse pointer in clips"), showCursor));
    addRow(group,
           labelledRow(QStringLiteral("Upload and copy a link after every clip"), m_autoShare));
    connect(hotkey, &HotkeyField::hotkeyRecorded, &m_settings, &Settings::setSaveHotkey);
    SettingBinding::follow(m_settings, setting::saveHotkey, hotkey,
                           [hotkey](Hotkey value) { hotkey->setHotkey(value); });
    SettingBinding::bindSwitch(playSound, m_settings, setting::playSound);
    SettingBinding::bindSwitch(showCursor, m_settings, setting::showCursor);
    SettingBinding::bindSwitch(m_autoShare, m_settings, setting::copyLinkAfterClip);
}

void SettingsWindow::buildGames() {
    QVBoxLayout* group = section(m_page, QStringLiteral("Games"));
    addRow(group, paddedRow(secondaryText(
                      QStringLiteral("Minecraft, Steam, Heroic and Lutris games and anything your "
                                     "desktop lists as a game start the recorder by themselves. "
                                     "Add anything else here."))));
    m_gameRows = new QWidget;
    m_gameRows->setObjectName(QStringLiteral("gameRows"));
    auto* rows = new QVBoxLayout(m_gameRows);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    group->addWidget(m_gameRows);
    auto* add = new QPushButton(QStringLiteral("Add an app…"));
    add->setObjectName(QStringLiteral("addApp"));
    auto* addRowWidget = new QWidget;
    auto* addLayout = new QHBoxLayout(addRowWidget);
    addLayout->setContentsMargins(14, 8, 14, 10);
    addLayout->addWidget(add);
    addLayout->addStretch();
    addRow(group, addRowWidget);
    connect(add, &QPushButton::clicked, this, &SettingsWindow::addGame);
    connect(m_games.get(), &QAbstractItemModel::rowsInserted, this, &SettingsWindow::refreshGames);
    connect(m_games.get(), &QAbstractItemModel::rowsRemoved, this, &SettingsWindow::refreshGames);
}

void SettingsWindow::buildStorage() {
    QVBoxLayout* group = section(m_page, QStringLiteral("Storage"));
    auto* row = new QWidget;
    row->setMinimumHeight(kRowHeight);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(14, 4, 12, 4);
    layout->setSpacing(8);
    auto* folder = new ElidedLabel;
    folder->setObjectName(QStringLiteral("path"));
    auto* change = new QPushButton(QStringLiteral("Change…"));
    change->setObjectName(QStringLiteral("changeFolder"));
    auto* open = new QPushButton(QStringLiteral("Open"));
    open->setObjectName(QStringLiteral("openFolder"));
    layout->addWidget(new QLabel(QStringLiteral("Clip folder")));
    layout->addSpacing(8);
    layout->addWidget(folder, 1);
    layout->addWidget(change);
    layout->addWidget(open);
    addRow(group, row);
    SettingBinding::follow(m_settings, setting::folder, folder, [folder](const QString& path) {
        folder->setFullText(QDir::toNativeSeparators(path));
    });
    connect(change, &QPushButton::clicked, this, &SettingsWindow::pickFolder);
    connect(open, &QPushButton::clicked, this,
            [this] { m_desktop.openFolder(m_settings.folder()); });
}

void SettingsWindow::buildAccount() {
    QVBoxLayout* group = section(m_page, QStringLiteral("Account"));
    group->addWidget(new SettingsAccountRows(m_account, m_desktop.openUrl, m_autoShare));
}

void SettingsWindow::buildGeneral() {
    QVBoxLayout* group = section(m_page, QStringLiteral("General"));
    m_openAtLogin = toggle(QStringLiteral("openAtLogin"));
    setChecked(m_openAtLogin, platform::Autostart::enabled());
    addRow(group, labelledRow(QStringLiteral("Open at login"), m_openAtLogin));
    connect(m_openAtLogin, &ToggleSwitch::clicked, this, [this](bool on) {
        // A failed write is not reported: the switch shows what the file now says.
        platform::Autostart::setEnabled(on);
        setChecked(m_openAtLogin, platform::Autostart::enabled());
    });
}

void SettingsWindow::refreshEstimate() {
    m_estimate->setText(
        SettingsChoices::estimateText(m_settings, SettingsChoices::mainScreenHeight()));
}

void SettingsWindow::refreshGames() {
    QLayout* rows = m_gameRows->layout();
    // Later, not now: a row's own "Remove" button may be the one being clicked.
    while (QLayoutItem* item = rows->takeAt(0)) {
        item->widget()->hide();
        item->widget()->deleteLater();
        delete item;
    }
    for (int i = 0; i < m_games->rowCount(); ++i) {
        rows->addWidget(divider());
        rows->addWidget(gameRow(m_games->index(i)));
    }
}

QWidget* SettingsWindow::gameRow(const QModelIndex& index) {
    const QString id = index.data(ExtraGamesModel::IdRole).toString();
    auto* row = new QWidget;
    row->setObjectName(QStringLiteral("gameRow"));
    row->setMinimumHeight(kRowHeight);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(14, 4, 12, 4);
    auto* icon = new QLabel;
    icon->setPixmap(index.data(Qt::DecorationRole).value<QIcon>().pixmap(20, 20));
    auto* name = new QLabel(index.data(Qt::DisplayRole).toString());
    name->setObjectName(QStringLiteral("gameName"));
    name->setToolTip(id);
    auto* remove = new QPushButton(QStringLiteral("Remove"));
    remove->setObjectName(QStringLiteral("remove"));
    layout->addWidget(icon);
    layout->addWidget(name);
    layout->addStretch();
    layout->addWidget(remove);
    connect(remove, &QPushButton::clicked, this, [this, id] { m_games->remove(id); });
    return row;
}

void SettingsWindow::addGame() {
    const QString id = m_desktop.chooseApp(this, m_catalog);
    m_games->add(id);
}

void SettingsWindow::pickFolder() {
    const QString chosen = m_desktop.chooseFolder(this, m_settings.folder());
    if (chosen.isEmpty())
        return;
    m_settings.setFolder(chosen);
    m_desktop.reloadLibrary();
}

} // namespace vantel
