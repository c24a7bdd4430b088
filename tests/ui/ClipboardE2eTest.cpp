// Copying a text under a real X server: another program reads exactly that text from the
// clipboard while this process runs, and a second copy replaces the first.

#include "ui/Theme.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <gtest/gtest.h>

namespace vantel {
namespace {

// xclip asks this process for the clipboard, so the event loop must run while it waits.
QString readClipboardFromOutside() {
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {"-o", "-selection", "clipboard"});
    QElapsedTimer clock;
    clock.start();
    while (xclip.state() != QProcess::NotRunning && clock.elapsed() < 20000)
        QEventLoop().processEvents(QEventLoop::AllEvents, 50);
    return QString::fromUtf8(xclip.readAllStandardOutput());
}

TEST(CopyText, AnotherProgramReadsTheCopiedTextAndASecondCopyReplacesIt) {
    copyText(QStringLiteral("https://vantel.example/c/ä1b2 ✓"));
    EXPECT_EQ(readClipboardFromOutside(), QStringLiteral("https://vantel.example/c/ä1b2 ✓"));
    copyText(QStringLiteral("second"));
    EXPECT_EQ(readClipboardFromOutside(), QStringLiteral("second"));
}

} // namespace
} // namespace vantel
