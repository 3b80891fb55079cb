#include "app/SingleInstance.h"
#include "support/DesktopSession.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString ExecutablePath = QStringLiteral(QV58_BIN_DIR "/qv58link-upgrade");
constexpr int Copies = 10;
// Generous: ten instrumented copies share two cores.
constexpr int StartMs = 60000;

// Copies of the tool in one private desktop session without a probe, each
// showing its "not detected" box to nobody.
class StartupRaceTest : public ::testing::Test
{
protected:
    StartupRaceTest()
    {
        FSession.env.insert(QStringLiteral("QV58LINK_DRIVES"), QString());
        // A closed loopback port: nothing leaves the machine.
        FSession.env.insert(QStringLiteral("QV58LINK_DOWNLOAD_URL"), QStringLiteral("https://127.0.0.1:9/"));
    }

    QProcess *start(const QString &program, const QStringList &arguments)
    {
        return &FSession.start(program, arguments, QProcess::ForwardedErrorChannel);
    }

    static bool waitFor(const std::function<bool()> &done, int ms) { return waitUntil(done, ms); }

    QProcess *startOne() { return start(ExecutablePath, {}); }

    // Every copy first waits in a shell on a FIFO that this test holds open;
    // once all of them are inside, closing it lets them exec the tool in the
    // same instant, so they meet at the single-instance check together.
    std::vector<QProcess *> startTogether(int count)
    {
        const QString fifo = FScratch.filePath(QStringLiteral("go-%1").arg(++FRound));
        const QByteArray fifoName = QFile::encodeName(fifo);
        EXPECT_EQ(::mkfifo(fifoName.constData(), 0600), 0);
        // Read-write never blocks and keeps the FIFO's readers waiting.
        const int gate = ::open(fifoName.constData(), O_RDWR | O_CLOEXEC);
        EXPECT_GE(gate, 0);

        std::vector<QProcess *> copies;
        for (int i = 0; i < count; ++i)
            copies.push_back(start(QStringLiteral("/bin/sh"),
                                   {QStringLiteral("-c"), QStringLiteral("read _ < \"$1\"; exec \"$2\""),
                                    QStringLiteral("sh"), fifo, ExecutablePath}));
        const bool allWaiting = waitFor(
            [&] {
                for (QProcess *copy : copies) {
                    if (QFile::symLinkTarget(QStringLiteral("/proc/%1/fd/0").arg(copy->processId())) != fifo)
                        return false;
                }
                return true;
            },
            StartMs);
        EXPECT_TRUE(allWaiting);
        ::close(gate);
        return copies;
    }

    // The process that holds the session's start-up lock, from the kernel's
    // table of locks, so that looking does not take part in the race.
    qint64 lockHolder() const
    {
        const TSingleInstance guard(ExecutablePath, FSession.runtimePath());
        struct stat info {};
        if (::stat(QFile::encodeName(guard.lockFilePath()).constData(), &info) != 0)
            return 0;
        // The device is left out: an overlay shows another one than stat does.
        const QByteArray inode = ':' + QByteArray::number(qulonglong(info.st_ino));
        QFile locks(QStringLiteral("/proc/locks"));
        if (!locks.open(QIODevice::ReadOnly))
            return 0;
        // "1: FLOCK  ADVISORY  WRITE 4242 00:2a:1234 0 EOF"
        for (const QByteArray &line : locks.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() >= 6 && fields.at(1) == "FLOCK" && fields.at(5).endsWith(inode))
                return fields.at(4).toLongLong();
        }
        return 0;
    }

    // Exactly one of the copies is left running, holding the lock; every
    // other one ended by itself with exit code 0. Returns the one left.
    QProcess *expectOneRunning(const std::vector<QProcess *> &copies)
    {
        const auto stillRunning = [&] {
            std::vector<QProcess *> running;
            for (QProcess *copy : copies) {
                copy->waitForFinished(0);
                if (copy->state() != QProcess::NotRunning)
                    running.push_back(copy);
            }
            return running;
        };
        // Settled once every other copy has ended and the one left holds the
        // lock; or once all have ended, which is the fault.
        EXPECT_TRUE(waitFor(
            [&] {
                const std::vector<QProcess *> running = stillRunning();
                return running.empty() || (running.size() == 1 && lockHolder() == running.front()->processId());
            },
            StartMs));

        const std::vector<QProcess *> running = stillRunning();
        for (QProcess *copy : copies) {
            if (copy->state() != QProcess::NotRunning)
                continue;
            EXPECT_EQ(copy->exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(copy->exitCode(), 0);
        }
        EXPECT_EQ(running.size(), 1u);
        if (running.size() != 1)
            return nullptr;
        EXPECT_EQ(lockHolder(), running.front()->processId());
        return running.front();
    }

    DesktopSession FSession;
    QTemporaryDir FScratch;
    int FRound = 0;
};

} // namespace

TEST_F(StartupRaceTest, TenCopiesAtOnceOneRunsNineEndWithZeroAlsoAfterTheRunningOneWasKilled)
{
    QProcess *running = expectOneRunning(startTogether(Copies));
    ASSERT_NE(running, nullptr);

    // Killed outright, it cannot clean up; the next ten find its lock gone.
    running->kill();
    ASSERT_TRUE(running->waitForFinished(StartMs));
    running = expectOneRunning(startTogether(Copies));
    ASSERT_NE(running, nullptr);

    running->terminate();
    EXPECT_TRUE(running->waitForFinished(StartMs));
}

TEST_F(StartupRaceTest, ACopyKilledAtAnyPointOfItsStartNeverBlocksTheNext)
{
    // From before the lock is taken to well after the copy listens.
    for (const int killAfterMs : {0, 5, 20, 50, 100, 200, 400, 1000}) {
        SCOPED_TRACE(killAfterMs);
        QProcess *killed = startOne();
        QThread::msleep(killAfterMs);
        killed->kill();
        ASSERT_TRUE(killed->waitForFinished(StartMs));

        QProcess *next = startOne();
        EXPECT_TRUE(waitFor([&] { return lockHolder() == next->processId(); }, StartMs));
        EXPECT_EQ(next->state(), QProcess::Running);
        next->kill();
        ASSERT_TRUE(next->waitForFinished(StartMs));
    }
}
