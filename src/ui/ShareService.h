#pragma once

// What the library window needs of the sign-in and sharing services: whether someone is signed
// in (and when that changes), starting the sign-in, sharing a clip, stopping a share and telling
// the service a new title. The program gives the window the implementation over the account and
// the sharing client; the window never talks to the network itself.
//
// Thread: main thread. The awaitables resume on the main thread; share() calls `progress` on
// the main thread.
//
// Errors: share() and unshare() throw; the exception's text is what the user reads.

#include "library/Clip.h"
#include "library/Clips.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>
#include <exception>
#include <functional>

namespace vantel {

class ShareService : public QObject {
    Q_OBJECT
public:
    using Progress = std::function<void(const QString& stage, double fraction)>;

    using QObject::QObject;

    virtual bool signedIn() const = 0;
    virtual void signIn() = 0;
    // Uploads the clip rendered with `options` under `title`; returns the link, which the
    // library has stored in the clip's metadata by then.
    virtual QCoro::Task<QString> share(Clip clip, Clips::ExportOptions options, QString title,
                                       Progress progress) = 0;
    virtual QCoro::Task<> unshare(Clip clip) = 0;
    // Sends the new title of the shared clip `shareID`; failures are ignored.
    virtual void sendTitle(const QString& shareID, const QString& title) = 0;

signals:
    void signedInChanged();
};

// The text of a caught failure, for the window's red error line.
QString failureText(std::exception_ptr error);

} // namespace vantel
