// The share working folder's owner mark and the sweeps that remove what quits and crashes left:
// a folder whose lock nobody holds belongs to a process that ended, one whose lock is held is
// left alone unless it is this process's own, and anything unmarked is never touched.

#include "sharing/WorkFolder.h"

#include "common/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QUuid>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace vantel::test {
namespace {

using Whose = WorkFolder::Whose;

QString shareName() {
    return "share-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

class WorkFolderTest : public ::testing::Test {
protected:
    QString m_parent = QString::fromStdString(
        (testHome() / ("work-" + QUuid::createUuid().toString(QUuid::Id128).toStdString()))
            .string());

    void SetUp() override { ASSERT_TRUE(QDir().mkpath(m_parent)); }
    void TearDown() override {
        for (int fd : m_held)
            ::close(fd);
        QDir(m_parent).removeRecursively();
    }

    // A share folder as another process leaves it: its owner file with `pid`, locked by a
    // process that still runs (`locked`) or by none.
    QString foreignFolder(qint64 pid, bool locked) {
        const QString path = m_parent + "/" + shareName();
        EXPECT_TRUE(QDir().mkpath(path));
        const QByteArray owner = QFile::encodeName(path + "/owner.lock");
        const int fd = ::open(owner.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        const QByteArray text = QByteArray::number(pid) + "\n";
        EXPECT_EQ(::write(fd, text.constData(), text.size()), text.size());
        if (locked) {
            EXPECT_EQ(::flock(fd, LOCK_EX), 0);
            m_held.push_back(fd);
        } else {
            ::close(fd);
        }
        QFile(path + "/clip.mp4").open(QIODevice::WriteOnly);
        return path;
    }

    std::vector<int> m_held;
};

TEST_F(WorkFolderTest, AFolderCarriesItsLockedOwnerAndGoesWithItsObject) {
    QString path;
    {
        WorkFolder folder(m_parent);
        path = folder.path();
        EXPECT_TRUE(QDir(path).dirName().startsWith("share-"));
        QFile owner(folder.file("owner.lock"));
        ASSERT_TRUE(owner.open(QIODevice::ReadOnly));
        EXPECT_EQ(owner.readAll().trimmed().toLongLong(), qint64(::getpid()));
        EXPECT_NE(::flock(owner.handle(), LOCK_SH | LOCK_NB), 0) << "held while it lives";
        EXPECT_EQ(QFileInfo(path).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0)
            << "a render of the user's clip is the user's alone";
        EXPECT_EQ(QDir(path).entryList(QDir::Files | QDir::Hidden), QStringList{"owner.lock"});
    }
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST_F(WorkFolderTest, SweepsTakeEndedOwnersAlwaysOwnFoldersAtQuitAndNothingElse) {
    WorkFolder own(m_parent);
    // A process that crashed: its pid may belong to anyone by now (here: this very process).
    const QString crashed = foreignFolder(::getpid(), false);
    const QString crashedOther = foreignFolder(999'999'999, false);
    // Another live process sharing a clip.
    const QString live = foreignFolder(::getpid() + 1, true);
    const QString unmarked = m_parent + "/" + shareName();
    const QString otherName = m_parent + "/share-photos";
    ASSERT_TRUE(QDir().mkpath(unmarked));
    ASSERT_TRUE(QDir().mkpath(otherName));
    QFile::copy(crashed + "/owner.lock", otherName + "/owner.lock");

    EXPECT_EQ(WorkFolder::removeLeftovers(Whose::ended, m_parent), 2);
    EXPECT_FALSE(QFileInfo::exists(crashed));
    EXPECT_FALSE(QFileInfo::exists(crashedOther));
    EXPECT_TRUE(QFileInfo::exists(own.path())) << "a running share keeps its folder";
    EXPECT_TRUE(QFileInfo::exists(live));
    EXPECT_TRUE(QFileInfo::exists(unmarked));
    EXPECT_TRUE(QFileInfo::exists(otherName));

    EXPECT_EQ(WorkFolder::removeLeftovers(Whose::endedAndOwn, m_parent), 1);
    EXPECT_FALSE(QFileInfo::exists(own.path()));
    EXPECT_TRUE(QFileInfo::exists(live + "/clip.mp4"));
    EXPECT_TRUE(QFileInfo::exists(unmarked));
}

TEST_F(WorkFolderTest, AFolderThatCannotBeMadeIsAClearError) {
    QFile blocker(m_parent + "/file");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    try {
        WorkFolder folder(m_parent + "/file");
        FAIL() << "made a folder inside a file";
    } catch (const std::runtime_error& error) {
        EXPECT_TRUE(QString::fromUtf8(error.what()).startsWith("Couldn't make a working folder"));
    }
}

} // namespace
} // namespace vantel::test
