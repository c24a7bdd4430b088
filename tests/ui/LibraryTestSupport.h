#pragma once

// Shared pieces of the library window tests: a library over a fresh folder, a share service
// whose outcome the test decides, and waiting for queued work.

#include "library/LibraryTestSupport.h"
#include "ui/ShareService.h"
#include "ui/ThumbnailCache.h"

#include <QCoro/QCoroSignal>
#include <QTest>
#include <QThreadPool>
#include <stdexcept>

namespace vantel::test {

// Runs the event loop until `done` holds (at most `ms`); returns done().
inline bool eventually(const std::function<bool()>& done, int ms = 10000) {
    return QTest::qWaitFor(done, ms);
}

// A library over a folder of its own; the clips are files with the given metadata indexed.
struct TestLibrary {
    LibraryPlaces places;
    std::unique_ptr<Library> library;

    explicit TestLibrary(const QString& name)
        : places(name)
        , library(std::make_unique<Library>(places.places())) {}
    ~TestLibrary() {
        // Renames, deletes, rescans and card pictures run on thread pools and use the library.
        QThreadPool::globalInstance()->waitForDone();
        ThumbnailCache::pool().waitForDone();
    }

    Clip add(const QString& game, const QString& title, bool hasMic = false, int ageMinutes = 0,
             std::optional<QString> shareURL = std::nullopt, const QString& source = {}) {
        const QString path = places.clip(game + u'/' + title + QStringLiteral(".mp4"));
        if (!source.isEmpty()) {
            QFile::remove(path);
            QFile::copy(source, path);
        }
        ClipMeta meta;
        meta.title = title;
        meta.game = game;
        meta.created =
            ClipMeta::wholeSeconds(QDateTime::currentDateTimeUtc().addSecs(-60 * ageMinutes));
        meta.duration = 12;
        meta.width = 320;
        meta.height = 240;
        meta.hasMic = hasMic;
        if (shareURL) {
            meta.shareID = QStringLiteral("id-") + title;
            meta.shareURL = shareURL;
        }
        library->add(path, meta);
        return Clip{path, meta};
    }

    // Waits until the published list has `count` clips, with everything asked so far in it (a
    // walk may list a new file before its entry is added).
    bool published(qsizetype count) {
        return eventually([&] {
            settle(*library);
            return library->clips().size() == count;
        });
    }
};

// Something a coroutine can wait for until the test opens it.
class Gate : public QObject {
    Q_OBJECT
public:
    void open() { emit opened(); }
signals:
    void opened();
};

// A share service whose answers the test gives: signed in or not, and each share waits for
// finishShare() (a link, then stored in the library) or failShare() (an error text).
class FakeShareService : public ShareService {
    Q_OBJECT
public:
    explicit FakeShareService(Library& library)
        : m_library(library) {}

    bool signedIn() const override { return m_signedIn; }
    void signIn() override {
        ++signIns;
        setSignedIn(true);
    }
    void setSignedIn(bool on) {
        m_signedIn = on;
        emit signedInChanged();
    }

    QCoro::Task<QString> share(Clip clip, Clips::ExportOptions options, QString title,
                               Progress progress) override {
        lastOptions = options;
        lastTitle = title;
        ++shares;
        progress(QStringLiteral("Uploading"), 0.5);
        co_await qCoro(this, &FakeShareService::decided);
        if (!m_link)
            throw std::runtime_error(m_failure.toStdString());
        const QString link = *m_link;
        m_library.update(clip.url, [link, title](ClipMeta& meta) {
            meta.shareID = QStringLiteral("id-1");
            meta.shareURL = link;
            meta.title = title;
        });
        co_return link;
    }
    QCoro::Task<> unshare(Clip clip) override {
        if (unshareFailure)
            throw std::runtime_error(unshareFailure->toStdString());
        m_library.update(clip.url, [](ClipMeta& meta) {
            meta.shareID.reset();
            meta.shareURL.reset();
        });
        co_return;
    }
    void sendTitle(const QString& shareID, const QString& title) override {
        sentTitles.append({shareID, title});
    }

    void finishShare(const QString& link) {
        m_link = link;
        emit decided();
    }
    void failShare(const QString& message) {
        m_link.reset();
        m_failure = message;
        emit decided();
    }

    std::optional<QString> unshareFailure; // unshare() throws this while set
    int signIns = 0;
    int shares = 0;
    QString lastTitle;
    Clips::ExportOptions lastOptions;
    QList<std::pair<QString, QString>> sentTitles;

signals:
    void decided();

private:
    Library& m_library;
    bool m_signedIn = false;
    std::optional<QString> m_link;
    QString m_failure;
};

} // namespace vantel::test
