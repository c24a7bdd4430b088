#pragma once

// The library window's share service over the program's account and the sharing client:
// signed in means the account has a user; sharing and stopping go through Sharing with the
// given library; a new title of a shared clip goes to the service as "PATCH /api/clips/<id>".
//
// Shares stop when `uploads` fires (the program quits), ending with Cancelled.
//
// Thread: main thread. Progress reports from the export's thread are moved to the main thread
// before they reach the window.

#include "ui/ShareService.h"

#include <memory>

namespace vantel {

class Account;
class Cancellation;
class Library;

class AccountShareService : public ShareService {
    Q_OBJECT
public:
    AccountShareService(Account& account, Library& library,
                        std::shared_ptr<Cancellation> uploads = {}, QObject* parent = nullptr);

    bool signedIn() const override;
    void signIn() override;
    QCoro::Task<QString> share(Clip clip, Clips::ExportOptions options, QString title,
                               Progress progress) override;
    QCoro::Task<> unshare(Clip clip) override;
    void sendTitle(const QString& shareID, const QString& title) override;

private:
    Account& m_account;
    Library& m_library;
    std::shared_ptr<Cancellation> m_uploads;
};

} // namespace vantel
