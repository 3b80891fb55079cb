#include "support/DesktopSession.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const QString ExecutablePath = QStringLiteral(QV58_BIN_DIR "/qv58link-upgrade");
const QByteArray ActivationLine = "asked to come forward";
// Only how long a failing test waits: every wait ends as soon as its condition holds.
constexpr int WaitMs = 30000;

// Starts of the real executable, each test in a desktop session of its own.
class StartTest : public ::testing::Test
{
protected:
    StartTest() { session.env.insert(QStringLiteral("QV58LINK_TRACE_ACTIVATION"), QStringLiteral("1")); }

    QProcess &start(const QString &program, const QStringList &arguments = {})
    {
        return session.start(program, arguments);
    }

    // A copy that has its lock and listens: its socket shows up in the session folder.
    int listeningCount() const
    {
        return QDir(session.runtimePath())
            .entryList({QStringLiteral("*_All")}, QDir::System | QDir::Files | QDir::NoDotAndDotDot)
            .size();
    }

    // Which file the one socket in the session folder is (inode and change
    // time, as an inode number may be reused), empty when there is none.
    QByteArray socketFile() const
    {
        const QStringList sockets = QDir(session.runtimePath())
                                        .entryList({QStringLiteral("*_All")}, QDir::System | QDir::Files);
        struct stat info {};
        if (sockets.size() != 1
            || ::lstat(QFile::encodeName(QDir(session.runtimePath()).filePath(sockets[0])).constData(), &info) != 0)
            return {};
        return QByteArray::number(qulonglong(info.st_ino)) + ':' + QByteArray::number(qlonglong(info.st_ctim.tv_sec))
            + '.' + QByteArray::number(qlonglong(info.st_ctim.tv_nsec));
    }

    static bool waitFor(const std::function<bool()> &done, int ms) { return waitUntil(done, ms); }

    // The process is still up after a while: it was not refused.
    static bool keepsRunning(QProcess &process) { return !process.waitForFinished(1500); }

    DesktopSession session;
};

} // namespace

TEST_F(StartTest, SecondStartEndsAtOnceAndTheFirstIsAskedToComeForward)
{
    QProcess &first = start(ExecutablePath);
    ASSERT_TRUE(waitFor([this] { return listeningCount() == 1; }, WaitMs));

    // It ends by itself, with no window and no box of its own to wait on.
    QProcess &second = start(ExecutablePath, {QStringLiteral("--help"), QStringLiteral("extra")});
    ASSERT_TRUE(second.waitForFinished(WaitMs));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_FALSE(second.readAllStandardError().contains(ActivationLine));
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());

    QByteArray firstErr;
    EXPECT_TRUE(waitFor(
        [&] {
            first.waitForReadyRead(50);
            firstErr += first.readAllStandardError();
            return firstErr.contains(ActivationLine);
        },
        WaitMs))
        << firstErr.constData();
    EXPECT_EQ(first.state(), QProcess::Running);
}

TEST_F(StartTest, ArgumentsHaveNoEffect)
{
    // Qt would stop at an unknown platform plugin if it saw these.
    QProcess &first = start(ExecutablePath, {QStringLiteral("-platform"), QStringLiteral("no-such-platform"),
                                             QStringLiteral("--version")});
    EXPECT_TRUE(keepsRunning(first));
    EXPECT_TRUE(waitFor([this] { return listeningCount() == 1; }, WaitMs));
}

TEST_F(StartTest, AfterTheFirstIsKilledANewStartRuns)
{
    QProcess &first = start(ExecutablePath);
    ASSERT_TRUE(waitFor([this] { return listeningCount() == 1; }, WaitMs));
    first.kill();
    ASSERT_TRUE(first.waitForFinished(WaitMs));
    EXPECT_EQ(first.exitStatus(), QProcess::CrashExit);
    // Killed, it left its socket behind; the new copy listens on a socket of its own.
    const QByteArray stale = socketFile();
    ASSERT_FALSE(stale.isEmpty());

    QProcess &next = start(ExecutablePath);
    ASSERT_TRUE(waitFor(
        [&] {
            const QByteArray now = socketFile();
            return !now.isEmpty() && now != stale;
        },
        WaitMs));
    EXPECT_EQ(next.state(), QProcess::Running);
    // And it is the one a later start now reaches.
    QProcess &later = start(ExecutablePath);
    ASSERT_TRUE(later.waitForFinished(WaitMs));
    EXPECT_EQ(later.exitCode(), 0);
    QByteArray nextErr;
    EXPECT_TRUE(waitFor(
        [&] {
            next.waitForReadyRead(50);
            nextErr += next.readAllStandardError();
            return nextErr.contains(ActivationLine);
        },
        WaitMs));
}

TEST_F(StartTest, ACopyAtAnotherPathRunsBesideTheFirst)
{
    QTemporaryDir copyDir;
    const QString copy = copyDir.filePath(QStringLiteral("qv58link-upgrade"));
    ASSERT_TRUE(QFile::copy(ExecutablePath, copy));
    ASSERT_TRUE(QFile::setPermissions(copy, QFile::permissions(ExecutablePath)));

    QProcess &first = start(ExecutablePath);
    ASSERT_TRUE(waitFor([this] { return listeningCount() == 1; }, WaitMs));
    QProcess &beside = start(copy);
    EXPECT_TRUE(keepsRunning(beside));
    EXPECT_TRUE(waitFor([this] { return listeningCount() == 2; }, WaitMs));
    first.waitForReadyRead(300);
    EXPECT_FALSE(first.readAllStandardError().contains(ActivationLine));
}

TEST_F(StartTest, AStartIsEndedByTerminateEvenWithItsStartUpBoxOpen)
{
    QProcess &first = start(ExecutablePath);
    ASSERT_TRUE(waitFor([this] { return listeningCount() == 1; }, WaitMs));
    first.terminate();
    EXPECT_TRUE(first.waitForFinished(WaitMs));
}
