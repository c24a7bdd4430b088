#include "Account.h"

#include "API.h"
#include "Keychain.h"
#include "settings/Settings.h"
#include "settings/SiteUrl.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QUrlQuery>
#include <array>

namespace vantel {

namespace {

const QString tokenAccount = QStringLiteral("token");

QString newVerifier() {
    std::array<quint32, 8> words{};
    QRandomGenerator::system()->generate(words.begin(), words.end());
    return Account::base64URL(
        QByteArray(reinterpret_cast<const char*>(words.data()), sizeof words));
}

// The text between "scheme://" and the next "/", "?" or "#", exactly as written: QUrl folds a
// host to lower case, and "AUTH" is not "auth".
QString rawHost(const QString& url) {
    qsizetype start = url.indexOf(QLatin1String("://"));
    if (start < 0)
        return {};
    start += 3;
    qsizetype end = start;
    while (end < url.size() && url[end] != u'/' && url[end] != u'?' && url[end] != u'#')
        ++end;
    return url.mid(start, end - start);
}

// The value of the first query item named exactly "code": none when there is no such item or
// it has no "=" at all; an empty string for "code=".
std::optional<QString> codeOf(const QString& url) {
    qsizetype question = url.indexOf(u'?');
    if (question < 0)
        return std::nullopt;
    QString query = url.mid(question + 1);
    query.truncate(query.indexOf(u'#') < 0 ? query.size() : query.indexOf(u'#'));
    for (const QString& item : query.split(u'&')) {
        qsizetype equals = item.indexOf(u'=');
        QString name =
            QUrl::fromPercentEncoding(item.left(equals < 0 ? item.size() : equals).toUtf8());
        if (name != QLatin1String("code"))
            continue;
        if (equals < 0)
            return std::nullopt;
        return QUrl::fromPercentEncoding(item.mid(equals + 1).toUtf8());
    }
    return std::nullopt;
}

} // namespace

Account& Account::shared() {
    static Account* account = new Account(Settings::shared().store());
    return *account;
}

Account::Account(QSettings& store, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_browser([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
    restore();
}

QCoro::Task<> Account::restore() {
    const int generation = m_generation;
    std::optional<QString> stored = co_await token();
    if (stored && generation == m_generation) {
        try {
            setUser(User::fromJson(m_store.value(settingsKey::user).toByteArray()));
        } catch (const API::BadReply&) {
        }
    }
    m_restored = true;
    emit restored();
}

QCoro::Task<std::optional<QString>> Account::token() {
    return Keychain::get(tokenAccount);
}

QString Account::base64URL(const QByteArray& bytes) {
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString Account::challengeOf(const QString& verifier) {
    return base64URL(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256));
}

QUrl Account::signInPage(const QString& challenge) {
    QUrl page = siteURL(QStringLiteral("auth/app"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("challenge"), challenge);
    page.setQuery(query);
    return page;
}

QString Account::signedInDetail() {
    return QStringLiteral("Clips you share go to ") + siteURL().host();
}

void Account::signIn() {
    m_verifier = newVerifier();
    m_browser(signInPage(challengeOf(*m_verifier)));
}

void Account::handle(const QString& url) {
    if (rawHost(url) != QLatin1String("auth"))
        return;
    std::optional<QString> code = codeOf(url);
    if (!code || !m_verifier)
        return;
    // Taken, not copied: browsers open the same link twice, and a second exchange of the one
    // code could only fail after the first succeeded.
    QString verifier = std::move(*m_verifier);
    m_verifier.reset();
    exchange(*code, std::move(verifier));
}

QCoro::Task<> Account::exchange(QString code, QString verifier) {
    try {
        const TokenReply reply = co_await requestToken(code, verifier);
        // The store is under way: a rejected token seen from now on must not clear what it
        // stores (see lost()).
        ++m_generation;
        co_await Keychain::set(tokenAccount, reply.token);
        m_store.setValue(settingsKey::user, reply.user.toJson());
        m_store.sync();
        setUser(reply.user);
        emit signedIn(signedInDetail());
    } catch (const std::exception& error) {
        // The exchange did not take: the sign-in stays pending unless a newer one replaced it.
        if (!m_verifier)
            m_verifier = verifier;
        emit signInFailed(QString::fromUtf8(error.what()));
    }
}

QCoro::Task<TokenReply> Account::requestToken(QString code, QString verifier) {
    QJsonObject body{{QStringLiteral("code"), code}, {QStringLiteral("verifier"), verifier}};
    const QString method = QStringLiteral("POST");
    const QString path = QStringLiteral("/api/app/token");
    QByteArray bytes = QJsonDocument(body).toJson(QJsonDocument::Compact);
    // Without the stored token: the exchange proves itself by its code and verifier, and its
    // refusal says nothing about the account signed in now.
    auto request = API::rawWithToken(std::nullopt, method, path, std::move(bytes));
    API::Response response = co_await std::move(request);
    co_return TokenReply::fromJson(response.body);
}

void Account::signOut() {
    // The keychain runs its jobs in order, so this read sees the token before the removal in
    // clearLocally() deletes it.
    logout();
    clearLocally();
}

QCoro::Task<> Account::logout() {
    std::optional<QString> stored = co_await token();
    if (!stored)
        co_return;
    try {
        const QString method = QStringLiteral("POST");
        const QString path = QStringLiteral("/api/app/logout");
        auto request = API::rawWithToken(std::move(stored), method, path);
        co_await std::move(request);
    } catch (const std::exception&) {
    }
}

void Account::lost(const QString& rejected) {
    QMetaObject::invokeMethod(
        this, [this, rejected] { clearIfStored(rejected); }, Qt::QueuedConnection);
}

QCoro::Task<> Account::clearIfStored(QString rejected) {
    const int generation = m_generation;
    const std::optional<QString> stored = co_await token();
    // A sign-in, sign-out or clearing since the read began decides for itself.
    if (generation == m_generation && stored == rejected)
        clearLocally();
}

void Account::clearLocally() {
    Keychain::remove(tokenAccount);
    m_store.remove(settingsKey::user);
    m_store.sync();
    setUser(std::nullopt);
}

void Account::setUser(std::optional<User> user) {
    ++m_generation;
    m_user = std::move(user);
    emit userChanged();
}

} // namespace vantel
