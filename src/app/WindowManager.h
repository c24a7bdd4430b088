#pragma once

// The program's open windows by id. Opening an id that is open brings its window to the front
// and changes nothing else; otherwise a new window is made by the factory, titled, sized (fixed
// when not resizable), drawn dark, placed where the window of that id was last closed (else
// centred on the primary screen) and shown. A closed window is deleted and leaves the map; its
// geometry is kept in the store under "windows/<id>" for the next time.
//
// Threads: main thread. The map owns its windows.

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QSize>
#include <QString>
#include <QWidget>
#include <functional>

namespace vantel {

struct WindowSpec {
    QString id;
    QString title;
    QSize size;
    bool resizable = false;
};

class WindowManager : public QObject {
    Q_OBJECT
public:
    using Factory = std::function<QWidget*(const QString& id)>;

    // `store` must outlive the manager.
    WindowManager(QSettings& store, Factory factory, QObject* parent = nullptr);
    ~WindowManager() override;

    // Returns the window, new or raised.
    QWidget* open(const WindowSpec& spec);
    // Closes the window of `id` if it is open, keeping its geometry.
    void close(const QString& id);
    QWidget* window(const QString& id) const;
    bool isOpen(const QString& id) const { return window(id) != nullptr; }

signals:
    void opened(const QString& id);
    void closed(const QString& id);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place(QWidget* window, const QString& id);
    // Drops `id` once its window `gone` is destroyed (unless a newer window took the id).
    void forget(const QString& id, QObject* gone);
    static void raise(QWidget* window);

    QSettings& m_store;
    Factory m_factory;
    QHash<QString, QPointer<QWidget>> m_windows;
};

} // namespace vantel
