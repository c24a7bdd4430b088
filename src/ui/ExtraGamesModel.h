#pragma once

// The user's extra games as the settings window lists them: a working copy of the stored list,
// read once when the model is made, and written back whole after every change, which makes the
// game detector rescan at once. Rows show the application's name and icon, or the bare id when
// no installed application has it.
//
// Thread: main thread.

#include "AppCatalog.h"

#include <QAbstractListModel>
#include <QStringList>
#include <vector>

namespace vantel {

class Settings;

class ExtraGamesModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { IdRole = Qt::UserRole + 1 };

    // Over the extra games of `settings`, named through `catalog`; both must outlive it.
    ExtraGamesModel(Settings& settings, AppCatalog& catalog, QObject* parent = nullptr);

    QStringList ids() const { return m_ids; }

    // Appends `id` and stores the list; false (and nothing stored) when `id` is empty or
    // already listed.
    bool add(const QString& id);
    // Removes every entry equal to `id`, then stores the list.
    void remove(const QString& id);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    void store();
    AppInfo describe(const QString& id) const;

    Settings& m_settings;
    AppCatalog& m_catalog;
    QStringList m_ids;
    std::vector<AppInfo> m_rows; // parallel to m_ids
};

} // namespace vantel
