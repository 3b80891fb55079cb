#include "platform/ProbeLock.h"
#include "support/TestSystem.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <latch>
#include <sys/stat.h>
#include <thread>

namespace {

const QString Probe = QStringLiteral("1-3.2");

// A private folder standing in for the user's runtime folder.
class ProbeLockTest : public ::testing::Test
{
protected:
    ProbeLockTest() { ::chmod(QFile::encodeName(FDir.path()).constData(), 0700); }

    QString folder() const { return FDir.path(); }
    QStringList files() const { return QDir(folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }

private:
    QTemporaryDir FDir;
};

// The same lock in another process; ends with the test whatever happens.
class Holder
{
public:
    Holder(const QString &folder, const QString &identity)
    {
        endWithTheTest(FProcess);
        FProcess.start(QStringLiteral(QV58_BIN_DIR "/probe_lock_holder"), {folder, identity});
    }
    ~Holder()
    {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.kill();
            FProcess.waitForFinished(10000);
        }
    }

    // Its first line: "held", "busy" or "unguarded".
    QByteArray answer()
    {
        while (!FProcess.canReadLine()) {
            if (!FProcess.waitForReadyRead(30000))
                return FProcess.readAll();
        }
        return FProcess.readLine().trimmed();
    }

    // Ends it as a crash would, with no chance to let go itself.
    void kill()
    {
        FProcess.kill();
        FProcess.waitForFinished(30000);
    }

    QProcess &process() { return FProcess; }

private:
    QProcess FProcess;
};

} // namespace

TEST_F(ProbeLockTest, OneHolderPerProbeWithinOneProcess)
{
    TProbeLock first(Probe, folder());
    TProbeLock second(Probe, folder());
    TProbeLock otherProbe(QStringLiteral("1-4"), folder());
    EXPECT_EQ(first.tryLock(), TProbeLock::Held);
    EXPECT_EQ(second.tryLock(), TProbeLock::Busy);
    EXPECT_EQ(otherProbe.tryLock(), TProbeLock::Held);
    // Asking again while holding keeps the lock.
    EXPECT_EQ(first.tryLock(), TProbeLock::Held);
    EXPECT_EQ(second.tryLock(), TProbeLock::Busy);

    first.unlock();
    EXPECT_EQ(second.tryLock(), TProbeLock::Held);
    EXPECT_EQ(first.tryLock(), TProbeLock::Busy);
    second.unlock();
    otherProbe.unlock();
    // A lock let go leaves no file behind.
    EXPECT_TRUE(files().isEmpty()) << files().join(u' ').toStdString();
}

// Threads that try at the same moment, each with its own lock object, as the
// engines of one qv58link-flash run do: exactly one gets the probe.
TEST_F(ProbeLockTest, ThreadsThatTryAtOnceGetItOnce)
{
    constexpr int Threads = 8;
    constexpr int Rounds = 50;
    for (int round = 0; round < Rounds; ++round) {
        std::latch start(Threads);
        std::latch tried(Threads);
        std::atomic<int> held = 0;
        std::atomic<int> busy = 0;
        std::array<std::thread, Threads> threads;
        for (std::thread &thread : threads) {
            thread = std::thread([&] {
                TProbeLock lock(Probe, folder());
                start.arrive_and_wait();
                const TProbeLock::TState state = lock.tryLock();
                if (state == TProbeLock::Held)
                    ++held;
                else if (state == TProbeLock::Busy)
                    ++busy;
                // Hold on until every thread has tried.
                tried.arrive_and_wait();
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        ASSERT_EQ(held, 1) << "round " << round;
        ASSERT_EQ(busy, Threads - 1) << "round " << round;
    }
    EXPECT_TRUE(files().isEmpty());
}

TEST_F(ProbeLockTest, AnotherProcessIsRefusedWhileOneHolds)
{
    TProbeLock mine(Probe, folder());
    ASSERT_EQ(mine.tryLock(), TProbeLock::Held);
    Holder other(folder(), Probe);
    EXPECT_EQ(other.answer(), "busy");
    ASSERT_TRUE(other.process().waitForFinished(30000));
    EXPECT_EQ(other.process().exitCode(), 1);

    // And the other way round, with another process holding.
    mine.unlock();
    Holder holding(folder(), Probe);
    ASSERT_EQ(holding.answer(), "held");
    TProbeLock refused(Probe, folder());
    EXPECT_EQ(refused.tryLock(), TProbeLock::Busy);
    // A holder that lets go normally leaves the probe free.
    holding.process().closeWriteChannel();
    ASSERT_TRUE(holding.process().waitForFinished(30000));
    EXPECT_EQ(holding.process().exitCode(), 0);
    EXPECT_EQ(refused.tryLock(), TProbeLock::Held);
}

TEST_F(ProbeLockTest, ALockDiesWithItsHolder)
{
    Holder holding(folder(), Probe);
    ASSERT_EQ(holding.answer(), "held");
    TProbeLock waiting(Probe, folder());
    ASSERT_EQ(waiting.tryLock(), TProbeLock::Busy);
    holding.kill();
    // The holder's file is still there; the kernel has let go of its lock.
    EXPECT_EQ(files().size(), 1);
    EXPECT_EQ(waiting.tryLock(), TProbeLock::Held);
}

TEST_F(ProbeLockTest, NoFolderMeansUnguardedNotRefused)
{
    const struct
    {
        const char *name;
        QString folder;
    } cases[] = {
        {"no private folder", QString()},
        {"folder gone", folder() + QStringLiteral("/gone")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TProbeLock first(Probe, c.folder);
        TProbeLock second(Probe, c.folder);
        EXPECT_EQ(first.tryLock(), TProbeLock::Unguarded);
        EXPECT_EQ(second.tryLock(), TProbeLock::Unguarded);
    }
}
