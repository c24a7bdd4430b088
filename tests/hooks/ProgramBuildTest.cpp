// What the installed program carries, read from its file: none of the test build's hooks (the
// widget map, the toast log, the stand-in portal, the copy method), and no environment variable
// that the README does not list. The test build is the control: the same scan must find each
// hook there, or a scan that finds nothing would prove nothing.

#include <QFile>
#include <QSet>
#include <gtest/gtest.h>

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

bool variableChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// `text` as the program stores it: one byte a character (C strings) or two (QStringLiteral).
QByteArray encoded(const QByteArray& text, int width) {
    if (width == 1)
        return text;
    QByteArray wide;
    for (char c : text)
        wide.append(c).append('\0');
    return wide;
}

bool holds(const QByteArray& bytes, const QByteArray& text) {
    return bytes.contains(encoded(text, 1)) || bytes.contains(encoded(text, 2));
}

// Every VANTEL_* name written in `bytes`, in either encoding.
QSet<QString> variablesIn(const QByteArray& bytes) {
    QSet<QString> names;
    for (int width : {1, 2}) {
        const QByteArray prefix = encoded("VANTEL_", width);
        for (qsizetype at = bytes.indexOf(prefix); at >= 0; at = bytes.indexOf(prefix, at + 1)) {
            QByteArray name;
            for (qsizetype i = at; i + width <= bytes.size() && variableChar(bytes[i]) &&
                                   (width == 1 || bytes[i + 1] == '\0');
                 i += width)
                name.append(bytes[i]);
            names.insert(QString::fromLatin1(name));
        }
    }
    return names;
}

// The names in the README's "Environment variables" section.
QSet<QString> listedInReadme() {
    const QByteArray readme = contents(QStringLiteral(VANTEL_SOURCE_DIR "/README.md"));
    const qsizetype start = readme.indexOf("\n## Environment variables");
    EXPECT_GE(start, 0) << "the README has no \"Environment variables\" section";
    const qsizetype end = readme.indexOf("\n## ", start + 1);
    return variablesIn(readme.mid(start, end < 0 ? -1 : end - start));
}

const QByteArray& product() {
    static const QByteArray bytes = contents(QStringLiteral(VANTEL_PRODUCT));
    return bytes;
}

const QByteArray& testBuild() {
    static const QByteArray bytes = contents(QStringLiteral(VANTEL_TEST_BUILD));
    return bytes;
}

TEST(ProgramBuild, TheInstalledProgramHasNoneOfTheTestHooks) {
    for (const char* hook : {"WidgetMap", "VANTEL_TOAST_LOG", "VANTEL_WIDGET_MAP",
                             "VANTEL_SHORTCUTS_PORTAL", "VANTEL_COPY_READ_WRITE"}) {
        EXPECT_TRUE(holds(testBuild(), hook)) << hook << " is not in the test build";
        EXPECT_FALSE(holds(product(), hook)) << hook << " is in the installed program";
    }
}

TEST(ProgramBuild, TheReadmeListsEveryVariableOfBothBuilds) {
    const QSet<QString> listed = listedInReadme();
    const QSet<QString> used = variablesIn(product()) + variablesIn(testBuild());
    EXPECT_TRUE(variablesIn(product()).contains(QStringLiteral("VANTEL_SITE_URL")));
    for (const QString& name : used)
        EXPECT_TRUE(listed.contains(name)) << name.toStdString() << " is not in the README";
    for (const QString& name : listed)
        EXPECT_TRUE(used.contains(name)) << name.toStdString() << " is listed but never read";
}

} // namespace
