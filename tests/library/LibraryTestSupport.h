#pragma once

// Shared helpers of the library tests: a fresh clip folder and support folder per test, and a
// way to wait for the library's own thread and its publications.

#include "common/FileSizeLimit.h"
#include "common/TestEnv.h"
#include "library/Library.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <exception>
#include <memory>
#include <optional>

namespace vantel::test {

struct LibraryPlaces {
    QString root;
    QString folder;
    QString appSupport;
    std::shared_ptr<QString> currentFolder;

    explicit LibraryPlaces(const QString& name) {
        static std::atomic<int> counter{0};
        root = QString::fromStdString(testHome().string()) +
               QStringLiteral("/lib-%1-%2").arg(name).arg(counter++);
        folder = root + QStringLiteral("/Clips");
        appSupport = root + QStringLiteral("/support");
        QDir().mkpath(folder);
        currentFolder = std::make_shared<QString>(folder);
    }

    Library::Places places() const {
        return {[f = currentFolder] { return *f; }, appSupport};
    }
    QString clip(const QString& relative, const QByteArray& bytes = {}) const {
        QString path = folder + u'/' + relative;
        writeFile(path.toStdString(), bytes.toStdString());
        return path;
    }
    QString index() const { return appSupport + QStringLiteral("/library.json"); }
};

inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QJsonObject indexObject(const QString& path) {
    return QJsonDocument::fromJson(readAll(path)).object();
}

// Runs an awaitable to its end on this thread's event loop; rethrows its exception.
template <typename T> T await(QCoro::Task<T> task) {
    QEventLoop loop;
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
    auto runner = [&](QCoro::Task<T> inner) -> QCoro::Task<> {
        try {
            value.emplace(co_await std::move(inner));
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
        loop.quit();
    };
    auto running = runner(std::move(task));
    if (!done)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}

inline void await(QCoro::Task<> task) {
    auto finished = [](QCoro::Task<> inner) -> QCoro::Task<bool> {
        co_await std::move(inner);
        co_return true;
    };
    await(finished(std::move(task)));
}

// Waits until everything asked of the library so far is written and published.
inline void settle(Library& library) {
    await(library.settled());
}

// The list once everything asked of the library so far is published.
inline QList<Clip> published(Library& library) {
    settle(library);
    return library.clips();
}

} // namespace vantel::test
