#include "ExtraGamesModel.h"

#include "settings/Settings.h"

namespace vantel {

ExtraGamesModel::ExtraGamesModel(Settings& settings, AppCatalog& catalog, QObject* parent)
    : QAbstractListModel(parent)
    , m_settings(settings)
    , m_catalog(catalog)
    , m_ids(settings.extraGames()) {
    for (const QString& id : m_ids)
        m_rows.push_back(describe(id));
}

bool ExtraGamesModel::add(const QString& id) {
    if (id.isEmpty() || m_ids.contains(id))
        return false;
    const int row = static_cast<int>(m_ids.size());
    beginInsertRows({}, row, row);
    m_ids.append(id);
    m_rows.push_back(describe(id));
    endInsertRows();
    store();
    return true;
}

void ExtraGamesModel::remove(const QString& id) {
    for (int row = static_cast<int>(m_ids.size()) - 1; row >= 0; --row) {
        if (m_ids[row] != id)
            continue;
        beginRemoveRows({}, row, row);
        m_ids.removeAt(row);
        m_rows.erase(m_rows.begin() + row);
        endRemoveRows();
    }
    store();
}

int ExtraGamesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_ids.size());
}

QVariant ExtraGamesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const AppInfo& row = m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return row.name;
    case Qt::DecorationRole:
        return row.icon;
    case Qt::ToolTipRole:
    case IdRole:
        return row.id;
    default:
        return {};
    }
}

void ExtraGamesModel::store() {
    m_settings.setExtraGames(m_ids);
}

AppInfo ExtraGamesModel::describe(const QString& id) const {
    if (std::optional<AppInfo> app = m_catalog.find(id))
        return *app;
    return {id, id, AppCatalog::iconFor({}, id)};
}

} // namespace vantel
