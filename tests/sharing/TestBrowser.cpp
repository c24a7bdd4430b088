// vantel-test-browser: a stand-in web browser for the sign-in test, installed as the desktop's
// handler for http and https. It fetches the page it is given without following redirects and
// opens the redirect's target with the desktop's handler (xdg-open), as a browser hands a custom
// scheme to the program registered for it. Every address it sees is appended to the file named
// by VANTEL_TEST_BROWSER_LOG.

#include <QCoreApplication>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>

namespace {
void note(const QByteArray& line) {
    QFile log(qEnvironmentVariable("VANTEL_TEST_BROWSER_LOG"));
    if (!log.fileName().isEmpty() && log.open(QIODevice::Append))
        log.write(line + '\n');
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QUrl page(QString::fromLocal8Bit(argv[1]));
    note("open " + page.toEncoded());
    QNetworkAccessManager network;
    QNetworkRequest request(page);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = network.get(request);
    QObject::connect(reply, &QNetworkReply::finished, &app, &QCoreApplication::quit);
    app.exec();
    const QByteArray target = reply->rawHeader("location");
    note("redirect " + target);
    if (target.isEmpty())
        return 1;
    return QProcess::execute(QStringLiteral("xdg-open"), {QString::fromUtf8(target)});
}
