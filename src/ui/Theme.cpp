#include "ui/Theme.h"

#include "ui/DarkStyle.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QWidget>
#include <cmath>
#include <cstdlib>

namespace vantel {

namespace {

// Fonts are sized in points; at the reference density of 96 dots per inch a point is 4/3 pixel.
constexpr qreal kPointsPerPixel = 72.0 / 96.0;

QColor rgb(int r, int g, int b, qreal alpha = 1.0) {
    QColor colour(r, g, b);
    colour.setAlphaF(alpha);
    return colour;
}

QFont sized(QFont font, qreal pixelSize) {
    font.setPointSizeF(pixelSize * kPointsPerPixel);
    return font;
}

QString blend(const QColor& colour, qreal opacity) {
    QColor c = colour;
    c.setAlphaF(colour.alphaF() * opacity);
    return Theme::css(c);
}

} // namespace

const QColor& Theme::bg() {
    static const QColor c = rgb(11, 11, 12);
    return c;
}
const QColor& Theme::panel() {
    static const QColor c = rgb(19, 19, 21);
    return c;
}
const QColor& Theme::ink() {
    static const QColor c = rgb(237, 237, 239);
    return c;
}
const QColor& Theme::muted() {
    static const QColor c = rgb(138, 138, 144);
    return c;
}
const QColor& Theme::line() {
    static const QColor c = rgb(255, 255, 255, 0.08);
    return c;
}
const QColor& Theme::accent() {
    static const QColor c = rgb(212, 255, 63);
    return c;
}

QFont Theme::mono(qreal pixelSize) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    return sized(font, pixelSize);
}

QFont Theme::font(qreal pixelSize, QFont::Weight weight) {
    QFont font = QGuiApplication::font();
    font.setWeight(weight);
    return sized(font, pixelSize);
}

QString Theme::css(const QColor& colour) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue())
        .arg(colour.alpha());
}

QPalette Theme::palette() {
    // Opaque stand-ins for the translucent line colour, for the roles that cannot blend.
    const QColor border = rgb(40, 40, 43);
    const QColor raised = rgb(30, 30, 33);
    QPalette p;
    p.setColor(QPalette::Window, bg());
    p.setColor(QPalette::WindowText, ink());
    p.setColor(QPalette::Base, panel());
    p.setColor(QPalette::AlternateBase, raised);
    p.setColor(QPalette::Text, ink());
    p.setColor(QPalette::PlaceholderText, muted());
    p.setColor(QPalette::Button, panel());
    p.setColor(QPalette::ButtonText, ink());
    p.setColor(QPalette::BrightText, accent());
    p.setColor(QPalette::ToolTipBase, panel());
    p.setColor(QPalette::ToolTipText, ink());
    p.setColor(QPalette::Highlight, accent());
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::Link, accent());
    p.setColor(QPalette::LinkVisited, accent().darker(120));
    p.setColor(QPalette::Light, raised);
    p.setColor(QPalette::Midlight, raised);
    p.setColor(QPalette::Mid, border);
    p.setColor(QPalette::Dark, rgb(5, 5, 6));
    p.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, muted().darker(130));
    return p;
}

QString Theme::styleSheet() {
    QString sheet = QStringLiteral(R"(
QWidget { color: @ink; }
QToolTip { background: @panel; color: @ink; border: 1px solid @line; padding: 4px 6px; }
QLabel[muted="true"] { color: @muted; }
QFrame[frameShape="4"], QFrame[frameShape="5"] { color: @line; background: @line; border: none; max-height: 1px; }
QPushButton, QToolButton {
    background: @panel; color: @ink; border: 1px solid @lineStrong; border-radius: 7px;
    padding: 6px 12px;
}
QPushButton:hover, QToolButton:hover { background: @raised; }
QPushButton:pressed, QToolButton:pressed { background: @bg; }
QPushButton:disabled, QToolButton:disabled { color: @disabled; border-color: @line; }
QPushButton:focus, QToolButton:focus { border-color: @accentSoft; }
QLineEdit, QSpinBox, QDoubleSpinBox, QComboBox, QPlainTextEdit, QTextEdit {
    background: @panel; color: @ink; border: 1px solid @lineStrong; border-radius: 6px;
    padding: 4px 8px; selection-background-color: @accent; selection-color: black;
}
QLineEdit:focus, QSpinBox:focus, QDoubleSpinBox:focus, QComboBox:focus,
QPlainTextEdit:focus, QTextEdit:focus { border-color: @accent; }
QComboBox QAbstractItemView {
    background: @panel; color: @ink; border: 1px solid @lineStrong;
    selection-background-color: @raised; selection-color: @ink; outline: none;
}
QComboBox::drop-down { border: none; width: 24px; }
QComboBox::down-arrow { image: url(:/vantel/ui/chevron-down.png); width: 10px; height: 10px; }
QComboBox::down-arrow:disabled { image: url(:/vantel/ui/chevron-down-disabled.png); }
QAbstractItemView { background: @bg; color: @ink; border: none; outline: none;
    selection-background-color: @raised; selection-color: @ink; }
QCheckBox, QRadioButton { spacing: 8px; color: @ink; }
QSlider::groove:horizontal { height: 4px; background: @raised; border-radius: 2px; }
QSlider::sub-page:horizontal { background: @accent; border-radius: 2px; }
QSlider::handle:horizontal {
    width: 14px; height: 14px; margin: -5px 0; border-radius: 7px; background: @ink;
}
QProgressBar {
    background: @raised; border: none; border-radius: 3px; max-height: 6px; min-height: 6px;
    text-align: center; color: transparent;
}
QProgressBar::chunk { background: @accent; border-radius: 3px; }
QScrollBar:vertical { background: transparent; width: 10px; margin: 0; }
QScrollBar:horizontal { background: transparent; height: 10px; margin: 0; }
QScrollBar::handle { background: @lineStrong; border-radius: 4px; margin: 2px; }
QScrollBar::handle:vertical { min-height: 28px; }
QScrollBar::handle:horizontal { min-width: 28px; }
QScrollBar::handle:hover { background: @muted; }
QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }
QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }
QMenu {
    background: @panel; color: @ink; border: 1px solid @lineStrong; border-radius: 8px;
    padding: 5px 0;
}
QMenu::item { padding: 5px 28px 5px 14px; background: transparent; }
QMenu::item:selected { background: @raised; }
QMenu::item:disabled { color: @muted; }
QMenu::separator { height: 1px; background: @lineStrong; margin: 5px 10px; }
QMenu::right-arrow { width: 10px; height: 10px; right: 8px; }
QTabBar::tab { background: transparent; color: @muted; padding: 6px 12px; border: none; }
QTabBar::tab:selected { color: @ink; border-bottom: 2px solid @accent; }
)");
    const std::pair<const char*, QString> names[] = {
        {"@lineStrong", css(rgb(255, 255, 255, 0.14))},
        {"@accentSoft", blend(accent(), 0.6)},
        {"@disabled", css(muted().darker(130))},
        {"@raised", css(rgb(30, 30, 33))},
        {"@accent", css(accent())},
        {"@panel", css(panel())},
        {"@muted", css(muted())},
        {"@line", css(line())},
        {"@ink", css(ink())},
        {"@bg", css(bg())},
    };
    for (const auto& [name, value] : names)
        sheet.replace(QLatin1String(name), value);
    return sheet;
}

void Theme::installLook() {
    static bool installed = false;
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (installed || app == nullptr)
        return;
    installed = true;
    QApplication::setStyle(new DarkStyle);
    QApplication::setPalette(palette());
    app->setStyleSheet(styleSheet());
}

void Theme::styleWindow(QWidget* window) {
    installLook();
    window->setPalette(palette());
    window->setAutoFillBackground(true);
    window->setBackgroundRole(QPalette::Window);
}

void Accent::apply(QAbstractButton* button) {
    const QColor a = Theme::accent();
    QColor pressed = a;
    pressed.setAlphaF(0.75);
    QColor pressedText(0, 0, 0);
    pressedText.setAlphaF(0.75);
    button->setProperty(property, true);
    button->setFont(Theme::font(13, QFont::DemiBold));
    button->setStyleSheet(
        QStringLiteral("QAbstractButton { background: %1; color: black; border: none; "
                       "border-radius: 7px; padding: 6px 12px; }"
                       "QAbstractButton:hover { background: %2; }"
                       "QAbstractButton:pressed { background: %3; color: %4; }"
                       "QAbstractButton:focus { border: 1px solid %5; }"
                       "QAbstractButton:disabled { background: %6; color: %7; }")
            .arg(Theme::css(a), Theme::css(a.lighter(108)), Theme::css(pressed),
                 Theme::css(pressedText), Theme::css(a.darker(140)),
                 Theme::css(QColor(212, 255, 63, 70)), Theme::css(QColor(0, 0, 0, 160))));
    button->setCursor(Qt::PointingHandCursor);
}

QString fmtDuration(double seconds) {
    // llround rounds halves away from zero; values it cannot represent are refused first.
    if (!std::isfinite(seconds) || std::fabs(seconds) >= 9.2e18)
        return QStringLiteral("--:--");
    const long long rounded = std::llround(seconds);
    const long long n = std::llabs(rounded);
    const QString sign = rounded < 0 ? QStringLiteral("-") : QString();
    if (n < 3600)
        return sign + QString::asprintf("%lld:%02lld", n / 60, n % 60);
    return sign + QString::asprintf("%lld:%02lld:%02lld", n / 3600, (n / 60) % 60, n % 60);
}

void copyText(const QString& text) {
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

} // namespace vantel
