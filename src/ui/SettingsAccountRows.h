#pragma once

// The rows of the settings window's Account section: "Sign in with Discord" while nobody is
// signed in; otherwise who is, "Sign out", and "Your shared clips" with the service's host. The
// rows follow the account live, and `signedInOnly` (a control that needs an account) is enabled
// only while someone is signed in; its value is left as it is.
//
// Thread: main thread.

#include <QWidget>
#include <functional>

class QUrl;
class QVBoxLayout;

namespace vantel {

class Account;

class SettingsAccountRows : public QWidget {
    Q_OBJECT
public:
    // `account` must outlive the rows; `openUrl` opens a web page in the browser.
    SettingsAccountRows(Account& account, std::function<void(const QUrl&)> openUrl,
                        QWidget* signedInOnly, QWidget* parent = nullptr);

private:
    void refresh();
    QWidget* signedOutForm();
    QWidget* signedInForm(const QString& name);

    Account& m_account;
    std::function<void(const QUrl&)> m_openUrl;
    QWidget* m_signedInOnly;
    QVBoxLayout* m_rows;
};

} // namespace vantel
