// vantel-test-sign-in-browser: a stand-in web browser for signing in to the real service,
// installed as the desktop's handler for http and https. Like a person at a browser it opens
// the page it is given, follows redirects (keeping cookies), presses "Sign in with Discord" on
// the sign-in page, lets the (stand-in) Discord approve, and hands the final
// "vantelrecord://" address to the desktop (xdg-open), which starts the program with it. Every
// address it sees is appended to the file named by VANTEL_TEST_BROWSER_LOG.

#include <QCoreApplication>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>

namespace {

void note(const QByteArray& line) {
    QFile log(qEnvironmentVariable("VANTEL_TEST_BROWSER_LOG"));
    if (!log.fileName().isEmpty() && log.open(QIODevice::Append))
        log.write(line + '\n');
}

struct Page {
    int status = 0;
    QByteArray location;
    QByteArray body;
};

Page fetch(QNetworkAccessManager& network, const QUrl& url) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = network.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    Page page{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
              reply->rawHeader("location"), reply->readAll()};
    reply->deleteLater();
    return page;
}

// The address of the page's "Sign in with Discord" button.
QUrl discordButton(const QUrl& page, const QByteArray& html) {
    const QRegularExpression button(R"re(<a [^>]*id="discord" href="([^"]+)")re");
    QString href = button.match(QString::fromUtf8(html)).captured(1);
    href.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return href.isEmpty() ? QUrl() : page.resolved(QUrl(href));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QNetworkAccessManager network;
    network.setCookieJar(new QNetworkCookieJar(&network));
    QUrl url(QString::fromLocal8Bit(argv[1]));
    for (int hop = 0; hop < 12; ++hop) {
        note("open " + url.toEncoded());
        const Page page = fetch(network, url);
        if (page.status >= 300 && page.status < 400 && !page.location.isEmpty()) {
            const QUrl target = url.resolved(QUrl::fromEncoded(page.location));
            if (target.scheme() != QLatin1String("http") &&
                target.scheme() != QLatin1String("https")) {
                note("hand over " + page.location);
                return QProcess::execute(QStringLiteral("xdg-open"),
                                         {QString::fromUtf8(page.location)});
            }
            url = target;
            continue;
        }
        const QUrl button = page.status == 200 ? discordButton(url, page.body) : QUrl();
        if (button.isEmpty()) {
            note("stuck at " + QByteArray::number(page.status) + " " + page.body.left(300));
            return 1;
        }
        url = button;
    }
    note("too many hops");
    return 1;
}
