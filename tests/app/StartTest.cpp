#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>
#include <sys/stat.h>

namespace {

const QString ExecutablePath = QStringLiteral(QV58_BIN_DIR "/qv58link-upgrade");
const QByteArray ActivationLine = "asked to come forward";

// Starts of the real executable in one private desktop session (its own
// runtime folder, offscreen screen). Every process still running is killed
// when the test ends, so a failure never leaves one behind.
class StartTest : public ::testing::Test
{
protected:
    StartTest()
    {
        ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("QV58LINK_TRACE_ACTIVATION"), QStringLiteral("1"));
    }
    ~StartTest() override
    {
        for (auto &process : processes) {
            process->kill();
            process->waitForFinished(5000);
        }
    }

    QProcess &start(const QString &program, const QStringList &arguments = {})
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(env);
        process->start(program, arguments);
        EXPECT_TRUE(process->waitForStarted(5000)) << program.toStdString();
        processes.push_back(std::move(process));
        return *processes.back();
    }

    // A copy that has its lock and listens: its socket shows up in the session folder.
    int listeningCount() const
    {
        return QDir(runtime.path())
            .entryList({QStringLiteral("*_All")}, QDir::System | QDir::Files | QDir::NoDotAndDotDot)
            .size();
    }

    static bool waitFor(const std::function<bool()> &done, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > ms)
                return false;
            QThread::msleep(20);
        }
        return true;
    }

    // The process is still up after a while: it was not refused.
    static bool keepsRunning(QProcess &process) { return !process.waitForFinished(1500); }

    QTemporaryDir runtime;
    QProcessEnvironment env;
    std::vector<std::unique_ptr<QProcess>> processes;
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
