#pragma once

// The clip detail view's title field: the title in large type, borderless until hovered or
// focused. What counts as the typed title is the text without spaces and tabs at either end.
//
// Thread: main thread.

#include <QLineEdit>

namespace vantel {

class ClipTitleField : public QLineEdit {
    Q_OBJECT
public:
    explicit ClipTitleField(const QString& title, QWidget* parent = nullptr);

    // The text without leading and trailing spaces and tabs (other white space stays).
    QString cleanText() const;
};

} // namespace vantel
