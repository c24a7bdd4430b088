#include "SettingsRows.h"

#include "SettingsStyle.h"
#include "ToggleSwitch.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QFrame>
#include <QLabel>

namespace vantel::SettingsRows {

namespace {
constexpr int kPickerWidth = 230;
} // namespace

QVBoxLayout* section(QVBoxLayout* page, const QString& title) {
    auto* header = new QLabel(title.toUpper());
    header->setObjectName(QStringLiteral("sectionHeader"));
    auto* group = new QFrame;
    group->setObjectName(QStringLiteral("group"));
    auto* rows = new QVBoxLayout(group);
    rows->setContentsMargins(0, 2, 0, 2);
    rows->setSpacing(0);
    if (page->count() > 0)
        page->addSpacing(14);
    page->addWidget(header);
    page->addWidget(group);
    return rows;
}

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

QWidget* divider() {
    auto* line = new QFrame;
    line->setObjectName(QStringLiteral("divider"));
    return line;
}

void addRow(QVBoxLayout* group, QWidget* row) {
    if (group->count() > 0)
        group->addWidget(divider());
    group->addWidget(row);
}

QLabel* secondaryText(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setProperty("role", QStringLiteral("secondary"));
    label->setFont(SettingsStyle::secondaryFont());
    label->setWordWrap(true);
    return label;
}

QComboBox* picker(const QString& name) {
    auto* combo = new QComboBox;
    combo->setObjectName(name);
    combo->setFixedWidth(kPickerWidth);
    combo->setCursor(Qt::PointingHandCursor);
    return combo;
}

ToggleSwitch* toggle(const QString& name) {
    auto* s = new ToggleSwitch;
    s->setObjectName(name);
    return s;
}

} // namespace vantel::SettingsRows
