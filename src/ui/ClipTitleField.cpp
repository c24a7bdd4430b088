#include "ClipTitleField.h"

#include "Theme.h"

namespace vantel {

ClipTitleField::ClipTitleField(const QString& title, QWidget* parent)
    : QLineEdit(title, parent) {
    setObjectName(QStringLiteral("titleField"));
    setPlaceholderText(QStringLiteral("Title"));
    setFont(Theme::font(18, QFont::DemiBold));
    setStyleSheet(
        QStringLiteral(
            "QLineEdit#titleField { background: transparent; border: 1px solid transparent; "
            "padding: 2px 6px; margin-left: -7px; } QLineEdit#titleField:hover { border-color: %1; "
            "} "
            "QLineEdit#titleField:focus { border-color: %2; background: %3; }")
            .arg(Theme::css(QColor(255, 255, 255, 36)), Theme::css(Theme::accent()),
                 Theme::css(Theme::panel())));
}

QString ClipTitleField::cleanText() const {
    const QString raw = text();
    qsizetype start = 0;
    qsizetype end = raw.size();
    auto blank = [](QChar c) {
        return c == u' ' || c == u'\t';
    };
    while (start < end && blank(raw[start]))
        ++start;
    while (end > start && blank(raw[end - 1]))
        --end;
    return raw.mid(start, end - start);
}

} // namespace vantel
