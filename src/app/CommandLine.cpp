#include "CommandLine.h"

#include <QFileInfo>
#include <cmath>

namespace vantel {

namespace {
Invocation invalid(const QString& error) {
    Invocation invocation;
    invocation.kind = Invocation::Kind::invalid;
    invocation.error = error;
    return invocation;
}

Invocation parseSave(const QStringList& arguments) {
    Invocation invocation;
    invocation.kind = Invocation::Kind::save;
    if (arguments.size() > 2)
        return invalid(QStringLiteral("save takes at most one length in seconds"));
    if (arguments.size() == 2) {
        bool ok = false;
        const double seconds = arguments[1].toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds <= 0)
            return invalid(
                QStringLiteral("the length must be a number of seconds above 0, not \"") +
                arguments[1] + QLatin1Char('"'));
        invocation.seconds = seconds;
    }
    return invocation;
}

bool isSchemeUrl(const QString& argument) {
    return argument.startsWith(QLatin1String("vantelrecord:"), Qt::CaseInsensitive);
}
} // namespace

Invocation parseCommandLine(const QStringList& arguments) {
    if (arguments.isEmpty())
        return {};
    const QString& first = arguments.first();
    if (first == QLatin1String("--version") || first == QLatin1String("-v"))
        return {Invocation::Kind::version, {}, {}, {}};
    if (first == QLatin1String("--help") || first == QLatin1String("-h"))
        return {Invocation::Kind::help, {}, {}, {}};
    if (first == QLatin1String("save"))
        return parseSave(arguments);
    if (first == QLatin1String("status") && arguments.size() == 1)
        return {Invocation::Kind::status, {}, {}, {}};
    if (first == QLatin1String("sign-in") && arguments.size() == 1)
        return {Invocation::Kind::signIn, {}, {}, {}};
    if (first == QLatin1String("sign-out") && arguments.size() == 1)
        return {Invocation::Kind::signOut, {}, {}, {}};
    if (first == QLatin1String("share")) {
        if (arguments.size() != 2)
            return invalid(QStringLiteral("share takes one clip file"));
        Invocation share{Invocation::Kind::share, {}, {}, {}};
        share.file = QFileInfo(arguments[1]).absoluteFilePath();
        return share;
    }
    if (isSchemeUrl(first) && arguments.size() == 1)
        return {Invocation::Kind::url, {}, first, {}};
    return invalid(QStringLiteral("unknown arguments: ") + arguments.join(QLatin1Char(' ')));
}

QString usageText() {
    return QStringLiteral(
        "Usage: vantel-record [COMMAND]\n"
        "Instant replay for your PC: records the last seconds of your game in the background.\n"
        "\n"
        "Without a command, starts the tray program, or opens the clips window of the one that\n"
        "runs.\n"
        "\n"
        "Commands (they talk to the running program):\n"
        "  save [SECONDS]  save the last SECONDS (default: the whole buffer) as a clip and print\n"
        "                  its path; bind a key to this under Wayland or a window manager\n"
        "  status          print what is being recorded and how much is ready\n"
        "  vantelrecord:…  hand a sign-in link to the program\n"
        "  sign-in         sign in to the sharing service in your browser\n"
        "  sign-out        sign out of the sharing service\n"
        "  share FILE      upload a clip of your library and print its link\n"
        "\n"
        "  --version       print the version\n"
        "  --help          print this help\n");
}

} // namespace vantel
