#include "SettingsAccountRows.h"

#include "SettingsRows.h"
#include "Theme.h"
#include "settings/SiteUrl.h"
#include "sharing/Account.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

namespace vantel {

SettingsAccountRows::SettingsAccountRows(Account& account, std::function<void(const QUrl&)> openUrl,
                                         QWidget* signedInOnly, QWidget* parent)
    : QWidget(parent)
    , m_account(account)
    , m_openUrl(std::move(openUrl))
    , m_signedInOnly(signedInOnly)
    , m_rows(new QVBoxLayout(this)) {
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(0);
    connect(&m_account, &Account::userChanged, this, &SettingsAccountRows::refresh);
    refresh();
}

QWidget* SettingsAccountRows::signedOutForm() {
    auto* signIn = new QPushButton(QStringLiteral("Sign in with Discord"));
    signIn->setObjectName(QStringLiteral("signIn"));
    Accent::apply(signIn);
    QWidget* form =
        SettingsRows::labelledRow(QStringLiteral("Share clips as links on ") + siteHost(), signIn);
    form->setObjectName(QStringLiteral("signedOut"));
    connect(signIn, &QPushButton::clicked, &m_account, &Account::signIn);
    return form;
}

QWidget* SettingsAccountRows::signedInForm(const QString& name) {
    auto* form = new QWidget;
    form->setObjectName(QStringLiteral("signedIn"));
    auto* rows = new QVBoxLayout(form);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    auto* signOut = new QPushButton(QStringLiteral("Sign out"));
    signOut->setObjectName(QStringLiteral("signOut"));
    QWidget* userRow = SettingsRows::labelledRow(QStringLiteral("Signed in as ") + name, signOut);
    userRow->findChild<QLabel*>()->setObjectName(QStringLiteral("userName"));
    auto* link = new QPushButton(QStringLiteral("Your shared clips"));
    link->setObjectName(QStringLiteral("sharedClips"));
    link->setFlat(true);
    link->setCursor(Qt::PointingHandCursor);
    auto* linkRow = new QWidget;
    auto* linkLayout = new QHBoxLayout(linkRow);
    linkLayout->setContentsMargins(8, 0, 14, 8);
    linkLayout->addWidget(link);
    linkLayout->addStretch();
    // Which service this is: a self-hosted one is set in the settings file, not here.
    QLabel* host = SettingsRows::secondaryText(QStringLiteral("on ") + siteHost(), linkRow);
    host->setObjectName(QStringLiteral("serviceHost"));
    host->setWordWrap(false);
    linkLayout->addWidget(host);
    rows->addWidget(userRow);
    rows->addWidget(linkRow);
    connect(signOut, &QPushButton::clicked, &m_account, &Account::signOut);
    connect(link, &QPushButton::clicked, this,
            [this] { m_openUrl(siteURL(QStringLiteral("me"))); });
    return form;
}

void SettingsAccountRows::refresh() {
    // Later, not now: the button that signed in or out may be the one being clicked.
    while (QLayoutItem* item = m_rows->takeAt(0)) {
        item->widget()->hide();
        item->widget()->deleteLater();
        delete item;
    }
    const std::optional<Account::User>& user = m_account.user();
    m_rows->addWidget(user ? signedInForm(user->name) : signedOutForm());
    m_signedInOnly->setEnabled(user.has_value());
}

} // namespace vantel
