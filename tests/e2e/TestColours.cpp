// A still window for the Wayland capture tests: its left half red (#d03030), its right half
// green (#30b050), nothing moving, so the compositor sends a new picture only when something
// else changes. "--title TEXT" sets its title; a line on standard input flips the halves (a
// change of the screen); end of input closes it.

#include <QApplication>
#include <QPainter>
#include <QSocketNotifier>
#include <QWidget>
#include <cstring>
#include <unistd.h>

namespace {

class Card : public QWidget {
public:
    void flip() {
        m_flipped = !m_flipped;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QColor red(0xd0, 0x30, 0x30), green(0x30, 0xb0, 0x50);
        const int half = width() / 2;
        p.fillRect(0, 0, half, height(), m_flipped ? green : red);
        p.fillRect(half, 0, width() - half, height(), m_flipped ? red : green);
    }

private:
    bool m_flipped = false;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Card card;
    card.setWindowTitle(QStringLiteral("Vantel colours"));
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--title") == 0)
            card.setWindowTitle(QString::fromLocal8Bit(argv[i + 1]));
    card.resize(1280, 720);
    card.show();
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
        else
            card.flip();
    });
    return app.exec();
}
