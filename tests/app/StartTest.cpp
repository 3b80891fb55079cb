#include "support/DesktopSession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString ExecutablePath = QStringLiteral(QV58_BIN_DIR "/qv58link-upgrade");
const QByteArray ActivationLine = "asked to come forward";

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

    static bool waitFor(const std::function<bool()> &done, int ms) { return waitUntil(done, ms); }

    // The process is still up after a while: it was not refused.
    static bool keepsRunning(QProcess &process) { return !process.waitForFinished(1500); }

    DesktopSession session;
};

} // namespace

TEST_F(StartTest, SecondStartEndsAtOnceAndTheFirstIsAskedToComeForward)
{
    QProcess &first = start(ExecutablePath);
    ASSERT_TRUE(waitFor([this] { return listeningCount() == 1; }, 10000));

    QElapsedTimer clock;
    clock.start();
    QProcess &second = start(ExecutablePath, {QStringLiteral("--help"), QStringLiteral("extra")});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_LT(clock.elapsed(), 5000);
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
        5000))
        << firstErr.constData();
    EXPECT_EQ(first.state(), QProcess::Running);
}

TEST_F(StartTest, ArgumentsHaveNoEffect)
{
    // Qt would stop at an unknown platform plugin if it saw these.
    QProcess &first = start(ExecutablePath, {QStringLiteral("-platform"), QStringLiteral("no-such-platform"),
                                             QStringLiteral("--version")});
    EXPECT_TRUE(keepsRunning(first));
    EXPECT_TRUE(waitFor([this] { return listeningCount() == 1; }, 10000));
}

TEST_F(StartTest, AfterTheFirstIsKilledANewStartRuns)
{
    QProcess &first = start(ExecutablePath);
    ASSERT_TRUE(waitFor([this] { return listeningCount() == 1; }, 10000));
    first.kill();
    ASSERT_TRUE(first.waitForFinished(5000));
    EXPECT_EQ(first.exitStatus(), QProcess::CrashExit);

    QProcess &next = start(ExecutablePath);
    EXPECT_TRUE(keepsRunning(next));
    // And it is the one a later start now reaches.
    QProcess &later = start(ExecutablePath);
    ASSERT_TRUE(later.waitForFinished(10000));
    EXPECT_EQ(later.exitCode(), 0);
    QByteArray nextErr;
    EXPECT_TRUE(waitFor(
        [&] {
            next.waitForReadyRead(50);
            nextErr += next.readAllStandardError();
            return nextErr.contains(ActivationLine);
        },
        5000));
}

TEST_F(StartTest, ACopyAtAnotherPathRunsBesideTheFirst)
{
    QTemporaryDir copyDir;
    const QString copy = copyDir.filePath(QStringLiteral("qv58link-upgrade"));
    ASSERT_TRUE(QFile::copy(ExecutablePath, copy));
    ASSERT_TRUE(QFile::setPermissions(copy, QFile::permissions(ExecutablePath)));

    QProcess &first = start(ExecutablePath);
    ASSERT_TRUE(waitFor([this] { return listeningCount() == 1; }, 10000));
    QProcess &beside = start(copy);
    EXPECT_TRUE(keepsRunning(beside));
    EXPECT_TRUE(waitFor([this] { return listeningCount() == 2; }, 10000));
    first.waitForReadyRead(300);
    EXPECT_FALSE(first.readAllStandardError().contains(ActivationLine));
}

TEST_F(StartTest, AStartIsEndedByTerminateEvenWithItsStartUpBoxOpen)
{
    QProcess &first = start(ExecutablePath);
    ASSERT_TRUE(waitFor([this] { return listeningCount() == 1; }, 10000));
    first.terminate();
    EXPECT_TRUE(first.waitForFinished(5000));
}
