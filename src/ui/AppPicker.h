#pragma once

// "Add an app…": a searchable list of the installed applications with their names and icons.
// The search matches names and ids, ignoring letter case; Return or a double click takes the
// selected application.
//
// Thread: main thread.

#include "AppCatalog.h"

#include <QDialog>

class QLineEdit;
class QListView;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;

namespace vantel {

class AppPicker : public QDialog {
    Q_OBJECT
public:
    explicit AppPicker(AppCatalog& catalog, QWidget* parent = nullptr);

    // The id of the selected application; empty when none is selected.
    QString selectedId() const;

    QLineEdit* searchField() const { return m_search; }
    QListView* list() const { return m_list; }

    // Runs the picker modally; the chosen id, or empty when the user cancelled.
    static QString pick(AppCatalog& catalog, QWidget* parent);

private:
    void fill(AppCatalog& catalog);
    void search(const QString& text);
    void updateAddButton();

    QLineEdit* m_search;
    QListView* m_list;
    QPushButton* m_add;
    QStandardItemModel* m_apps;
    QSortFilterProxyModel* m_filter;
};

} // namespace vantel
