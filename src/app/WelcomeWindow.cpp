#include "app/WelcomeWindow.h"

#include "app/GlobalHotkey.h"
#include "platform/freedesktop/Autostart.h"
#include "settings/Settings.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaMethod>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace vantel {

namespace {

// The program's icon; until one is installed, a record mark in the theme's colours.
QPixmap appIcon(int size) {
    const QIcon icon = QApplication::windowIcon();
    if (!icon.isNull() && !icon.availableSizes().isEmpty())
        return icon.pixmap(size, size);
    QPixmap pixmap(size * 2, size * 2);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Theme::line(), 1));
    p.setBrush(Theme::panel());
    p.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size * 0.23, size * 0.23);
    p.setPen(QPen(Theme::accent(), size * 0.07));
    p.setBrush(Qt::NoBrush);
    const QPointF c(size / 2.0, size / 2.0);
    p.drawEllipse(c, size * 0.28, size * 0.28);
    p.setPen(Qt::NoPen);
    p.setBrush(Theme::accent());
    p.drawEllipse(c, size * 0.15, size * 0.15);
    return pixmap;
}

// A filled accent circle with a black check mark.
QPixmap checkCircle(int size) {
    QPixmap pixmap(size * 2, size * 2);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Theme::accent());
    p.drawEllipse(QRectF(0, 0, size, size));
    p.setPen(QPen(Qt::black, size * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF mark[] = {
        {size * 0.29, size * 0.52}, {size * 0.44, size * 0.66}, {size * 0.71, size * 0.36}};
    p.drawPolyline(mark, 3);
    return pixmap;
}

QLabel* label(const QString& text, const QFont& font, const QColor& colour) {
    auto* l = new QLabel(text);
    l->setFont(font);
    l->setTextFormat(Qt::PlainText);
    l->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::css(colour)));
    return l;
}

// A step's number on an accent disc.
QLabel* stepNumber(int n) {
    auto* number = label(QString::number(n), Theme::mono(12), Qt::black);
    number->setFixedSize(20, 20);
    number->setAlignment(Qt::AlignCenter);
    number->setStyleSheet(QStringLiteral("color: black; background: %1; border-radius: 10px;")
                              .arg(Theme::css(Theme::accent())));
    return number;
}

QWidget* divider() {
    auto* line = new QWidget;
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: %1;").arg(Theme::css(Theme::line())));
    return line;
}

} // namespace

WelcomeWindow::WelcomeWindow(Services services, QWidget* parent)
    : QWidget(parent)
    , m_settings(services.settings)
    , m_permission(std::move(services.permission))
    , m_bindingNeeded([] { return GlobalHotkey::desktopBindingNeeded(); })
    , m_request(std::move(services.requestPermission)) {
    setWindowTitle(QStringLiteral("Vantel Record"));
    setFixedSize(kWidth, kHeight);
    Theme::styleWindow(this);
    m_granted = m_permission();

    m_login = new QCheckBox(QStringLiteral("Open Vantel Record when I log in"));
    m_login->setChecked(true);
    m_login->setFont(Theme::font(13));
    m_start = new QPushButton;
    Accent::apply(m_start);
    m_start->setDefault(true);
    m_start->setAutoDefault(true);
    connect(m_start, &QPushButton::clicked, this, &WelcomeWindow::finish);
    // Default buttons work only in dialogs; Return is the window's default action here too.
    for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, m_start,
                &QPushButton::animateClick);
    }

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(m_start);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 28, 28, 24);
    layout->setSpacing(0);
    layout->addWidget(header());
    layout->addSpacing(24);
    layout->addWidget(steps());
    layout->addSpacing(20);
    layout->addWidget(divider());
    layout->addSpacing(18);
    layout->addWidget(permissionArea());
    layout->addSpacing(14);
    layout->addWidget(m_login);
    layout->addStretch();
    layout->addLayout(bottom);

    showPermission();
    showBindingHint();
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &WelcomeWindow::recheck);
    m_timer.start();
}

QWidget* WelcomeWindow::header() {
    auto* icon = new QLabel;
    icon->setPixmap(appIcon(52));
    icon->setFixedSize(52, 52);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addStretch();
    texts->addWidget(
        label(QStringLiteral("Vantel Record"), Theme::font(22, QFont::Bold), Theme::ink()));
    texts->addWidget(
        label(QStringLiteral("Instant replay for your PC"), Theme::font(13), Theme::muted()));
    texts->addStretch();
    auto* box = new QWidget;
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(14);
    row->addWidget(icon);
    row->addLayout(texts, 1);
    return box;
}

QWidget* WelcomeWindow::steps() {
    const Settings& settings = m_settings;
    const QString texts[] = {
        QStringLiteral("It records quietly while you play, keeping only the last ") +
            QString::number(settings.bufferSeconds()) + QStringLiteral(" seconds."),
        QStringLiteral("Press ") + settings.saveHotkey().display() +
            QStringLiteral(" and that moment is saved as a clip."),
        QStringLiteral("Trim it, then get a link that plays right inside Discord."),
    };
    auto* box = new QWidget;
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    int n = 0;
    for (const QString& text : texts) {
        auto* row = new QHBoxLayout;
        row->setSpacing(10);
        row->addWidget(stepNumber(++n), 0, Qt::AlignTop);
        auto* words = label(text, Theme::font(13), Theme::ink());
        words->setWordWrap(true);
        words->setObjectName(QStringLiteral("step%1").arg(n));
        if (n == 2) {
            m_bindingHint = label({}, Theme::font(12), Theme::muted());
            m_bindingHint->setObjectName(QStringLiteral("bindingHint"));
            m_bindingHint->setWordWrap(true);
            m_bindingHint->setTextInteractionFlags(Qt::TextSelectableByMouse);
            m_bindingHint->hide();
            auto* stack = new QVBoxLayout;
            stack->setSpacing(4);
            stack->addWidget(words);
            stack->addWidget(m_bindingHint);
            row->addLayout(stack, 1);
        } else {
            row->addWidget(words, 1);
        }
        column->addLayout(row);
    }
    return box;
}

QString WelcomeWindow::bindingSteps(const QString& desktop, const QString& shortcut) {
    const QString command = QStringLiteral("vantel-record save");
    const QString intro = QStringLiteral("Your desktop gives apps no global shortcuts, so bind "
                                         "it yourself: ");
    const QStringList names = desktop.toLower().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (names.contains(QLatin1String("gnome")))
        return intro + QStringLiteral("Settings › Keyboard › View and Customize Shortcuts › "
                                      "Custom Shortcuts › +, command \"%1\", shortcut %2.")
                           .arg(command, shortcut);
    if (names.contains(QLatin1String("kde")))
        return intro + QStringLiteral("System Settings › Keyboard › Shortcuts › Add New › "
                                      "Command or Script, command \"%1\", shortcut %2.")
                           .arg(command, shortcut);
    if (names.contains(QLatin1String("sway"))) {
        // sway names letter keys by their lower-case symbol.
        QStringList keys = shortcut.split(QLatin1Char('+'));
        if (keys.last().size() == 1)
            keys.last() = keys.last().toLower();
        return intro + QStringLiteral("add \"bindsym %1 exec %2\" to ~/.config/sway/config "
                                      "and reload sway.")
                           .arg(keys.join(QLatin1Char('+')), command);
    }
    return intro + QStringLiteral("in your desktop's keyboard settings, run \"%1\" on %2.")
                       .arg(command, shortcut);
}

void WelcomeWindow::setBindingNeededSource(std::function<bool()> source) {
    m_bindingNeeded = std::move(source);
    showBindingHint();
}

QWidget* WelcomeWindow::permissionArea() {
    auto* allowed = new QWidget;
    auto* allowedRow = new QHBoxLayout(allowed);
    allowedRow->setContentsMargins(0, 0, 0, 0);
    allowedRow->setSpacing(8);
    auto* check = new QLabel;
    check->setPixmap(checkCircle(16));
    allowedRow->addWidget(check);
    allowedRow->addWidget(label(QStringLiteral("Screen Recording is allowed"),
                                Theme::font(13, QFont::DemiBold), Theme::accent()));
    allowedRow->addStretch();

    auto* missing = new QWidget;
    auto* column = new QVBoxLayout(missing);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    auto* explanation = label(
        QStringLiteral("Your desktop needs your OK before any app can record the screen. Allow "
                       "Vantel Record in the dialog that opens, then come back here."),
        Theme::font(12.5), Theme::muted());
    explanation->setWordWrap(true);
    auto* allow = new QPushButton(QStringLiteral("Allow Screen Recording"));
    Accent::apply(allow);
    allow->setAutoDefault(false);
    m_allow = allow;
    auto* turnedOn = new QPushButton(QStringLiteral("I turned it on"));
    turnedOn->setAutoDefault(false);
    turnedOn->setFont(Theme::font(13));
    connect(allow, &QPushButton::clicked, this, [this] { askPermission(); });
    connect(turnedOn, &QPushButton::clicked, this, &WelcomeWindow::relaunch);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addWidget(allow);
    buttons->addWidget(turnedOn);
    buttons->addStretch();
    column->addWidget(explanation);
    column->addLayout(buttons);

    m_permissionPages = new QStackedWidget;
    m_permissionPages->addWidget(allowed);
    m_permissionPages->addWidget(missing);
    return m_permissionPages;
}

bool WelcomeWindow::openAtLogin() const {
    return m_login->isChecked();
}

void WelcomeWindow::setOpenAtLogin(bool on) {
    m_login->setChecked(on);
}

void WelcomeWindow::showBindingHint() {
    const bool needed = m_bindingNeeded && m_bindingNeeded();
    if (needed == !m_bindingHint->isHidden())
        return;
    m_bindingHint->setText(bindingSteps(qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
                                        m_settings.saveHotkey().display()));
    m_bindingHint->setVisible(needed);
}

void WelcomeWindow::recheck() {
    showBindingHint();
    const bool granted = m_permission();
    if (granted == m_granted)
        return;
    m_granted = granted;
    showPermission();
}

// The desktop's dialog may take the user a while; the button waits with it, so that one click
// opens one dialog.
QCoro::Task<> WelcomeWindow::askPermission() {
    QPointer<WelcomeWindow> self(this);
    m_allow->setEnabled(false);
    if (m_request)
        co_await m_request();
    if (!self)
        co_return;
    m_allow->setEnabled(true);
    recheck();
}

void WelcomeWindow::showPermission() {
    m_permissionPages->setCurrentIndex(m_granted ? 0 : 1);
    // Allowing is the next step while it is missing: Space takes it, Return still starts.
    if (!m_granted)
        m_allow->setFocus();
    m_permissionPages->setFixedHeight(m_permissionPages->currentWidget()->sizeHint().height());
    m_start->setText(m_granted ? QStringLiteral("Start") : QStringLiteral("Later"));
}

void WelcomeWindow::storeOnboarded() {
    QSettings& store = m_settings.store();
    store.setValue(QLatin1String(settingsKey::onboarded), true);
    store.sync();
    // Opening at login is a convenience: a failure to write the entry is not worth a message.
    if (m_login->isChecked())
        platform::Autostart::setEnabled(true);
}

void WelcomeWindow::finish() {
    storeOnboarded();
    emit started();
}

QStringList WelcomeWindow::relaunchArguments(qint64 pid, const QString& program) {
    // The single-instance guard would hand a start over to the ending process: wait for it.
    return {QStringLiteral("-c"),
            QStringLiteral("sleep 1; while kill -0 \"$1\" 2>/dev/null; do sleep 0.2; done; "
                           "exec \"$2\""),
            QStringLiteral("vantel-record-relaunch"), QString::number(pid), program};
}

void WelcomeWindow::relaunch() {
    storeOnboarded();
    QProcess::startDetached(QStringLiteral("/bin/sh"),
                            relaunchArguments(QCoreApplication::applicationPid(),
                                              QCoreApplication::applicationFilePath()));
    if (isSignalConnected(QMetaMethod::fromSignal(&WelcomeWindow::relaunching)))
        emit relaunching();
    else
        QCoreApplication::quit();
}

} // namespace vantel
