#include "AppPicker.h"

#include "SettingsStyle.h"
#include "Theme.h"

#include <QBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>

namespace vantel {

namespace {

// Name and id together, so one search matches either.
constexpr int kSearchRole = Qt::UserRole + 1;
constexpr int kIdRole = Qt::UserRole + 2;

} // namespace

AppPicker::AppPicker(AppCatalog& catalog, QWidget* parent)
    : QDialog(parent)
    , m_search(new QLineEdit(this))
    , m_list(new QListView(this))
    , m_add(new QPushButton(QStringLiteral("Add"), this))
    , m_apps(new QStandardItemModel(this))
    , m_filter(new QSortFilterProxyModel(this)) {
    setObjectName(QStringLiteral("appPicker"));
    setWindowTitle(QStringLiteral("Add an app"));
    setFixedSize(440, 520);
    Theme::styleWindow(this);
    setStyleSheet(SettingsStyle::styleSheet());
    setFont(SettingsStyle::bodyFont());

    auto* heading = new QLabel(QStringLiteral("Choose an application to record as a game."), this);
    heading->setProperty("role", QStringLiteral("secondary"));
    heading->setFont(SettingsStyle::secondaryFont());
    m_search->setPlaceholderText(QStringLiteral("Search applications"));
    m_search->setClearButtonEnabled(true);

    m_filter->setSourceModel(m_apps);
    m_filter->setFilterRole(kSearchRole);
    m_filter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_list->setObjectName(QStringLiteral("apps"));
    m_list->setModel(m_filter);
    m_list->setIconSize(QSize(32, 32));
    m_list->setUniformItemSizes(true);
    m_list->setSpacing(2);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    Accent::apply(m_add);
    m_add->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(m_add);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 16);
    layout->setSpacing(10);
    layout->addWidget(heading);
    layout->addWidget(m_search);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);

    fill(catalog);
    connect(m_search, &QLineEdit::textChanged, this, &AppPicker::search);
    connect(m_search, &QLineEdit::returnPressed, this, [this] {
        if (!selectedId().isEmpty())
            accept();
    });
    connect(m_list, &QListView::doubleClicked, this, &QDialog::accept);
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &AppPicker::updateAddButton);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_add, &QPushButton::clicked, this, &QDialog::accept);
    updateAddButton();
    m_search->setFocus();
}

QString AppPicker::selectedId() const {
    const QModelIndex current = m_list->currentIndex();
    return current.isValid() ? current.data(kIdRole).toString() : QString();
}

QString AppPicker::pick(AppCatalog& catalog, QWidget* parent) {
    AppPicker picker(catalog, parent);
    if (picker.exec() != QDialog::Accepted)
        return {};
    return picker.selectedId();
}

void AppPicker::fill(AppCatalog& catalog) {
    for (const AppInfo& app : catalog.applications()) {
        auto* item = new QStandardItem(app.icon, app.name);
        item->setData(app.id, kIdRole);
        item->setData(app.name + QLatin1Char('\n') + app.id, kSearchRole);
        item->setToolTip(app.id);
        m_apps->appendRow(item);
    }
}

void AppPicker::search(const QString& text) {
    m_filter->setFilterFixedString(text.trimmed());
    // The best match is ready to take with Return.
    if (m_filter->rowCount() > 0)
        m_list->setCurrentIndex(m_filter->index(0, 0));
    updateAddButton();
}

void AppPicker::updateAddButton() {
    m_add->setEnabled(!selectedId().isEmpty());
}

} // namespace vantel
