#include "SettingsWindow.h"

#include "AppPicker.h"
#include "ElidedLabel.h"
#include "ExtraGamesModel.h"
#include "HotkeyField.h"
#include "SettingsChoices.h"
#include "SettingsStyle.h"
#include "Theme.h"
#include "ToggleSwitch.h"
#include "library/Library.h"
#include "platform/freedesktop/Autostart.h"
#include "platform/freedesktop/DesktopEntries.h"
#include "settings/Settings.h"
#include "settings/SiteUrl.h"
#include "sharing/Account.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QUrl>

namespace vantel {

namespace {

constexpr int kRowHeight = 40;
// One width for every picker, so their left edges line up.
constexpr int kPickerWidth = 230;

QLabel* secondaryText(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setProperty("role", QStringLiteral("secondary"));
    label->setFont(SettingsStyle::secondaryFont());
    label->setWordWrap(true);
    return label;
}

// A row of a group: its title on the left, its control on the right.
QWidget* labelledRow(const QString& title, QWidget* control) {
    auto* row = new QWidget;
    row->setMinimumHeight(kRowHeight);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(14, 4, 12, 4);
    auto* label = new QLabel(title, row);
    layout->addWidget(label);
    layout->addStretch();
    layout->addWidget(control);
    return row;
}

QWidget* paddedRow(QWidget* content) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(14, 8, 14, 8);
    layout->addWidget(content);
    return row;
}

// Adds `row` to a group, with a divider before every row but the first.
void addRow(QVBoxLayout* group, QWidget* row) {
    if (group->count() > 0) {
        auto* divider = new QFrame;
        divider->setObjectName(QStringLiteral("divider"));
        group->addWidget(divider);
    }
    group->addWidget(row);
}

QComboBox* picker(const QString& name) {
    auto* combo = new QComboBox;
    combo->setObjectName(name);
    combo->setFixedWidth(kPickerWidth);
    combo->setCursor(Qt::PointingHandCursor);
    return combo;
}

template <typename T> QString labelOf(T value) {
    const std::string_view text = label(value);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A picker of `values` shown by `labelOf`; a choice the user makes goes to `store`.
template <typename T, typename Values, typename Label, typename Store>
QComboBox* choicePicker(const char* name, const Values& values, Label labelOf, Store store) {
    QComboBox* combo = picker(QLatin1String(name));
    for (T value : values)
        combo->addItem(labelOf(value), static_cast<int>(value));
    QObject::connect(combo, &QComboBox::activated, combo, [combo, store](int index) {
        store(static_cast<T>(combo->itemData(index).toInt()));
    });
    return combo;
}

ToggleSwitch* toggle(const QString& name) {
    auto* s = new ToggleSwitch;
    s->setObjectName(name);
    return s;
}

// Shows `value`; a stored value the list does not offer is added, so the picker never lies.
void select(QComboBox* combo, const QVariant& value, const QString& label) {
    int index = combo->findData(value);
    if (index < 0) {
        combo->addItem(label, value);
        index = combo->count() - 1;
    }
    const QSignalBlocker quiet(combo);
    combo->setCurrentIndex(index);
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

SettingsWindow::Desktop SettingsWindow::Desktop::system() {
    return {chooseFolderWithDialog,
            [](QWidget* parent, AppCatalog& catalog) { return AppPicker::pick(catalog, parent); },
            openFolderInFileManager,
            [] {
                Library::shared().reload();
            }};
}

SettingsWindow::SettingsWindow(QWidget* parent)
    : SettingsWindow(Desktop::system(), Account::shared(), parent) {}

SettingsWindow::SettingsWindow(Desktop desktop, Account& account, QWidget* parent)
    : QWidget(parent)
    , m_desktop(std::move(desktop))
    , m_account(account)
    , m_catalog(platform::DesktopEntries::shared())
    , m_games(std::make_unique<ExtraGamesModel>(m_catalog)) {
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
    buildRecording();
    buildAudio();
    buildClipping();
    buildGames();
    buildStorage();
    buildAccount();
    buildGeneral();
    m_page->addStretch();
    // Filled before the scroll area lays the page out, so its first layout is the real one.
    connectStore();
    refreshRecording();
    refreshSwitches();
    refreshGames();
    refreshAccount();

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

QVBoxLayout* SettingsWindow::section(const QString& title) {
    auto* header = new QLabel(title.toUpper());
    header->setObjectName(QStringLiteral("sectionHeader"));
    auto* group = new QFrame;
    group->setObjectName(QStringLiteral("group"));
    auto* rows = new QVBoxLayout(group);
    rows->setContentsMargins(0, 2, 0, 2);
    rows->setSpacing(0);
    if (m_page->count() > 0)
        m_page->addSpacing(14);
    m_page->addWidget(header);
    m_page->addWidget(group);
    return rows;
}

void SettingsWindow::buildRecording() {
    QVBoxLayout* group = section(QStringLiteral("Recording"));
    Settings& s = Settings::shared();
    using namespace SettingsChoices;
    m_mode = choicePicker<CaptureMode>("record", allCaptureModes, labelOf<CaptureMode>,
                                       [&s](CaptureMode m) { s.setMode(m); });
    m_replayLength = choicePicker<int>("replayLength", replayLengths(), replayLengthLabel,
                                       [&s](int seconds) { s.setBufferSeconds(seconds); });
    m_resolution = choicePicker<int>("resolution", resolutions(), resolutionLabel,
                                     [&s](int height) { s.setMaxHeight(height); });
    m_frameRate = choicePicker<int>("frameRate", frameRates(), frameRateLabel,
                                    [&s](int fps) { s.setFps(fps); });
    m_quality = choicePicker<Quality>("quality", allQualities, labelOf<Quality>,
                                      [&s](Quality q) { s.setQuality(q); });
    m_format =
        choicePicker<Codec>("format", allCodecs, labelOf<Codec>, [&s](Codec c) { s.setCodec(c); });
    addRow(group, labelledRow(QStringLiteral("Record"), m_mode));
    addRow(group, labelledRow(QStringLiteral("Replay length"), m_replayLength));
    addRow(group, labelledRow(QStringLiteral("Resolution"), m_resolution));
    addRow(group, labelledRow(QStringLiteral("Frame rate"), m_frameRate));
    addRow(group, labelledRow(QStringLiteral("Quality"), m_quality));
    addRow(group, labelledRow(QStringLiteral("Format"), m_format));
    m_estimate = secondaryText(estimateText(s, mainScreenHeight()), nullptr);
    m_estimate->setObjectName(QStringLiteral("estimate"));
    addRow(group, paddedRow(m_estimate));
}

void SettingsWindow::buildAudio() {
    QVBoxLayout* group = section(QStringLiteral("Audio"));
    auto* gameSound = toggle(QStringLiteral("gameSound"));
    gameSound->setChecked(true);
    gameSound->setEnabled(false);
    m_recordMic = toggle(QStringLiteral("recordMic"));
    addRow(group, labelledRow(QStringLiteral("Record game and computer sound"), gameSound));
    addRow(group, labelledRow(QStringLiteral("Record my microphone (own track, mute it later)"),
                              m_recordMic));
    connect(m_recordMic, &ToggleSwitch::clicked, this,
            [](bool on) { Settings::shared().setRecordMic(on); });
}

void SettingsWindow::buildClipping() {
    QVBoxLayout* group = section(QStringLiteral("Clipping"));
    m_hotkey = new HotkeyField;
    m_hotkey->setObjectName(QStringLiteral("hotkey"));
    m_playSound = toggle(QStringLiteral("playSound"));
    m_showCursor = toggle(QStringLiteral("showCursor"));
    m_autoShare = toggle(QStringLiteral("autoShare"));
    addRow(group, labelledRow(QStringLiteral("Save clip shortcut"), m_hotkey));
    addRow(group, labelledRow(QStringLiteral("Play a sound when a clip is saved"), m_playSound));
    addRow(group, labelledRow(QStringLiteral("Show the mouse pointer in clips"), m_showCursor));
    addRow(group,
           labelledRow(QStringLiteral("Upload and copy a link after every clip"), m_autoShare));
    connect(m_hotkey, &HotkeyField::hotkeyRecorded, this,
            [](Hotkey hotkey) { Settings::shared().setSaveHotkey(hotkey); });
    connect(m_playSound, &ToggleSwitch::clicked, this,
            [](bool on) { Settings::shared().setPlaySound(on); });
    connect(m_showCursor, &ToggleSwitch::clicked, this,
            [](bool on) { Settings::shared().setShowCursor(on); });
    connect(m_autoShare, &ToggleSwitch::clicked, this,
            [](bool on) { Settings::shared().setCopyLinkAfterClip(on); });
}

void SettingsWindow::buildGames() {
    QVBoxLayout* group = section(QStringLiteral("Games"));
    addRow(group, paddedRow(secondaryText(
                      QStringLiteral("Minecraft, Steam, Heroic and Lutris games and anything your "
                                     "desktop lists as a game start the recorder by themselves. "
                                     "Add anything else here."),
                      nullptr)));
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
    QVBoxLayout* group = section(QStringLiteral("Storage"));
    auto* row = new QWidget;
    row->setMinimumHeight(kRowHeight);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(14, 4, 12, 4);
    layout->setSpacing(8);
    m_folder = new ElidedLabel;
    m_folder->setObjectName(QStringLiteral("path"));
    auto* change = new QPushButton(QStringLiteral("Change…"));
    change->setObjectName(QStringLiteral("changeFolder"));
    auto* open = new QPushButton(QStringLiteral("Open"));
    open->setObjectName(QStringLiteral("openFolder"));
    layout->addWidget(new QLabel(QStringLiteral("Clip folder")));
    layout->addSpacing(8);
    layout->addWidget(m_folder, 1);
    layout->addWidget(change);
    layout->addWidget(open);
    addRow(group, row);
    connect(change, &QPushButton::clicked, this, &SettingsWindow::pickFolder);
    connect(open, &QPushButton::clicked, this,
            [this] { m_desktop.openFolder(Settings::shared().folder()); });
}

void SettingsWindow::buildAccount() {
    m_accountRows = section(QStringLiteral("Account"));
    connect(&m_account, &Account::userChanged, this, &SettingsWindow::refreshAccount);
}

QWidget* SettingsWindow::signedOutForm() {
    auto* signIn = new QPushButton(QStringLiteral("Sign in with Discord"));
    signIn->setObjectName(QStringLiteral("signIn"));
    Accent::apply(signIn);
    QWidget* form = labelledRow(QStringLiteral("Share clips as links on ") + siteHost(), signIn);
    form->setObjectName(QStringLiteral("signedOut"));
    connect(signIn, &QPushButton::clicked, &m_account, &Account::signIn);
    return form;
}

QWidget* SettingsWindow::signedInForm(const QString& name) {
    auto* form = new QWidget;
    form->setObjectName(QStringLiteral("signedIn"));
    auto* rows = new QVBoxLayout(form);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    auto* signOut = new QPushButton(QStringLiteral("Sign out"));
    signOut->setObjectName(QStringLiteral("signOut"));
    QWidget* userRow = labelledRow(QStringLiteral("Signed in as ") + name, signOut);
    userRow->findChild<QLabel*>()->setObjectName(QStringLiteral("userName"));
    auto* link = new QPushButton(QStringLiteral("Your shared clips"));
    link->setObjectName(QStringLiteral("sharedClips"));
    link->setFlat(true);
    link->setCursor(Qt::PointingHandCursor);
    auto* linkRow = new QWidget;
    auto* linkLayout = new QHBoxLayout(linkRow);
    linkLayout->setContentsMargins(8, 0, 14, 8);
    linkLayout->addWidget(link);
    linkLayout->addStretch();
    // Which service this is: a self-hosted one is set in the settings file, not here.
    QLabel* host = secondaryText(QStringLiteral("on ") + siteHost(), linkRow);
    host->setObjectName(QStringLiteral("serviceHost"));
    host->setWordWrap(false);
    linkLayout->addWidget(host);
    rows->addWidget(userRow);
    rows->addWidget(linkRow);
    connect(signOut, &QPushButton::clicked, &m_account, &Account::signOut);
    connect(link, &QPushButton::clicked, this,
            [this] { m_desktop.openUrl(siteURL(QStringLiteral("me"))); });
    return form;
}

void SettingsWindow::refreshAccount() {
    // Later, not now: the button that signed in or out may be the one being clicked.
    while (QLayoutItem* item = m_accountRows->takeAt(0)) {
        item->widget()->hide();
        item->widget()->deleteLater();
        delete item;
    }
    const std::optional<Account::User>& user = m_account.user();
    m_accountRows->addWidget(user ? signedInForm(user->name) : signedOutForm());
    m_autoShare->setEnabled(user.has_value());
}

void SettingsWindow::buildGeneral() {
    QVBoxLayout* group = section(QStringLiteral("General"));
    m_openAtLogin = toggle(QStringLiteral("openAtLogin"));
    setChecked(m_openAtLogin, platform::Autostart::enabled());
    addRow(group, labelledRow(QStringLiteral("Open at login"), m_openAtLogin));
    connect(m_openAtLogin, &ToggleSwitch::clicked, this, [this](bool on) {
        // A failed write is not reported: the switch shows what the file now says.
        platform::Autostart::setEnabled(on);
        setChecked(m_openAtLogin, platform::Autostart::enabled());
    });
}

void SettingsWindow::connectStore() {
    Settings& s = Settings::shared();
    for (auto signal :
         {&Settings::bufferSecondsChanged, &Settings::maxHeightChanged, &Settings::fpsChanged})
        connect(&s, signal, this, [this] { refreshRecording(); });
    connect(&s, &Settings::qualityChanged, this, [this] { refreshRecording(); });
    connect(&s, &Settings::codecChanged, this, [this] { refreshRecording(); });
    connect(&s, &Settings::modeChanged, this, [this] { refreshRecording(); });
    for (auto signal : {&Settings::recordMicChanged, &Settings::showCursorChanged,
                        &Settings::playSoundChanged, &Settings::copyLinkAfterClipChanged})
        connect(&s, signal, this, [this] { refreshSwitches(); });
    connect(&s, &Settings::saveHotkeyChanged, m_hotkey, &HotkeyField::setHotkey);
    connect(&s, &Settings::folderChanged, m_folder, &ElidedLabel::setFullText);
}

void SettingsWindow::refreshRecording() {
    const Settings& s = Settings::shared();
    select(m_mode, static_cast<int>(s.mode()), labelOf(s.mode()));
    select(m_replayLength, s.bufferSeconds(),
           SettingsChoices::replayLengthLabel(s.bufferSeconds()));
    select(m_resolution, s.maxHeight(), SettingsChoices::resolutionLabel(s.maxHeight()));
    select(m_frameRate, s.fps(), SettingsChoices::frameRateLabel(s.fps()));
    select(m_quality, static_cast<int>(s.quality()), labelOf(s.quality()));
    select(m_format, static_cast<int>(s.codec()), labelOf(s.codec()));
    refreshEstimate();
}

void SettingsWindow::refreshSwitches() {
    const Settings& s = Settings::shared();
    setChecked(m_recordMic, s.recordMic());
    setChecked(m_playSound, s.playSound());
    setChecked(m_showCursor, s.showCursor());
    setChecked(m_autoShare, s.copyLinkAfterClip());
    m_hotkey->setHotkey(s.saveHotkey());
    m_folder->setFullText(QDir::toNativeSeparators(s.folder()));
}

void SettingsWindow::refreshEstimate() {
    m_estimate->setText(
        SettingsChoices::estimateText(Settings::shared(), SettingsChoices::mainScreenHeight()));
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
        auto* divider = new QFrame;
        divider->setObjectName(QStringLiteral("divider"));
        rows->addWidget(divider);
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
    const QString chosen = m_desktop.chooseFolder(this, Settings::shared().folder());
    if (chosen.isEmpty())
        return;
    Settings::shared().setFolder(chosen);
    m_desktop.reloadLibrary();
}

} // namespace vantel
