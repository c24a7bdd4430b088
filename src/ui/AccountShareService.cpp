#include "ui/AccountShareService.h"

#include "sharing/API.h"
#include "sharing/Account.h"
#include "sharing/Sharing.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

namespace vantel {

namespace {

QCoro::Task<> patchTitle(QString shareID, QString title) {
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("title"), title}}).toJson(QJsonDocument::Compact);
    try {
        auto sent =
            API::raw(QStringLiteral("PATCH"), QStringLiteral("/api/clips/") + shareID, body);
        co_await std::move(sent);
    } catch (...) {
        // The local title is what counts; the service's copy catches up with the next change.
    }
}

} // namespace

AccountShareService::AccountShareService(Account& account, Library& library,
                                         std::shared_ptr<Cancellation> uploads, QObject* parent)
    : ShareService(parent)
    , m_account(account)
    , m_library(library)
    , m_uploads(std::move(uploads)) {
    connect(&m_account, &Account::userChanged, this, &ShareService::signedInChanged);
}

bool AccountShareService::signedIn() const {
    return m_account.user().has_value();
}

void AccountShareService::signIn() {
    m_account.signIn();
}

QCoro::Task<QString> AccountShareService::share(Clip clip, Clips::ExportOptions options,
                                                QString title, Progress progress) {
    QPointer<AccountShareService> self(this);
    Sharing::Progress onMain = [self, progress](const QString& label, double fraction) {
        if (!self || !progress)
            return;
        QMetaObject::invokeMethod(
            self, [progress, label, fraction] { progress(label, fraction); }, Qt::QueuedConnection);
    };
    Sharing::Services services = Sharing::Services::standard(m_library);
    services.cancellation = m_uploads;
    auto running = Sharing::share(std::move(clip), options, std::move(title), onMain, services);
    co_return co_await std::move(running);
}

QCoro::Task<> AccountShareService::unshare(Clip clip) {
    auto running = Sharing::unshare(std::move(clip), m_library);
    co_await std::move(running);
}

void AccountShareService::sendTitle(const QString& shareID, const QString& title) {
    patchTitle(shareID, title);
}

} // namespace vantel
