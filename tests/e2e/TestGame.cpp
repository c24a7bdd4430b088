// A stand-in game for the end-to-end tests: one window with a moving pattern and a frame counter,
// so that every captured frame differs. Its identity is set from the command line:
//   --app-id ID   the WM_CLASS instance (matched against desktop entry ids) and desktop file name
//   --class NAME  the WM_CLASS class
//   --title TEXT  the window title
//   --x, --y, --width, --height   the window's geometry
// A line "move X Y" on standard input moves the window; end of input or "quit" closes it.

#include <QApplication>
#include <QCommandLineParser>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

class Pattern : public QWidget {
public:
    Pattern() {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            ++m_frame;
            update();
        });
        m_timer.start(16);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const int w = width(), h = height();
        p.fillRect(rect(), QColor::fromHsv(int(m_frame * 3) % 360, 160, 90));
        for (int i = 0; i < 8; ++i) {
            const int x = int((m_frame * (4 + i) + i * 97) % (w + 80)) - 80;
            p.fillRect(x, i * h / 8, 80, h / 8, QColor::fromHsv(i * 45, 255, 255));
        }
        p.setPen(Qt::white);
        p.setFont(QFont("monospace", 28));
        p.drawText(rect(), Qt::AlignCenter, QString::number(m_frame));
    }

private:
    QTimer m_timer;
    quint64 m_frame = 0;
};

QString option(int argc, char** argv, const char* name) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == name)
            return QString::fromLocal8Bit(argv[i + 1]);
    return {};
}

} // namespace

int main(int argc, char** argv) {
    // The xcb platform reads WM_CLASS from these before the application object exists.
    const QString appId = option(argc, argv, "--app-id");
    const QString klass = option(argc, argv, "--class");
    if (!appId.isEmpty())
        setenv("RESOURCE_NAME", appId.toLocal8Bit().constData(), 1);
    if (!klass.isEmpty())
        QCoreApplication::setApplicationName(klass);
    QApplication app(argc, argv);
    if (!appId.isEmpty())
        QGuiApplication::setDesktopFileName(appId);

    QCommandLineParser parser;
    for (const char* name : {"app-id", "class", "title", "x", "y", "width", "height"})
        parser.addOption(QCommandLineOption(name, name, "value"));
    parser.process(app);
    auto number = [&](const char* name, int fallback) {
        bool ok = false;
        const int v = parser.value(name).toInt(&ok);
        return ok ? v : fallback;
    };

    Pattern window;
    window.setWindowTitle(parser.isSet("title") ? parser.value("title") : "Vantel Test Game");
    window.resize(number("width", 640), number("height", 480));
    window.move(number("x", 100), number("y", 100));
    window.show();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char line[128] = {};
        const ssize_t n = read(STDIN_FILENO, line, sizeof line - 1);
        int x = 0, y = 0;
        if (n <= 0 || std::string(line).rfind("quit", 0) == 0)
            app.quit();
        else if (std::sscanf(line, "move %d %d", &x, &y) == 2)
            window.move(x, y);
    });
    return app.exec();
}
