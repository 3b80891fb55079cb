#include "HexRecords.h"
#include "support/TestSystem.h"

#include "common/FileIO.h"
#include "platform/FileSystem.h"
#include "probe/ProbeDrive.h"
#include "probe/QV58LinkConfig.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>

namespace {

// The simulator as a child process whose event lines can be waited for in order.
class SimProcess
{
public:
    explicit SimProcess(const QStringList &arguments)
    {
        FProcess.setProgram(QStringLiteral(QV58_BIN_DIR "/qv58link-probe-sim"));
        FProcess.setArguments(arguments);
        endWithTheTest(FProcess);
        FProcess.start();
        FProcess.waitForStarted();
    }
    ~SimProcess()
    {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.terminate();
            if (!FProcess.waitForFinished(5000))
                FProcess.kill();
            FProcess.waitForFinished(1000);
        }
    }

    // The next line starting with prefix, skipping the ones before it; empty
    // when none comes in time.
    QString waitFor(const QString &prefix, int timeoutMs = 30000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            while (FNext < FLines.size()) {
                const QString line = FLines.at(FNext++);
                if (line.startsWith(prefix))
                    return line;
            }
            if (deadline.hasExpired() || FProcess.state() == QProcess::NotRunning)
                return {};
            FProcess.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
            readLines();
        }
    }

    // Nothing starting with prefix arrives within timeoutMs.
    bool quietFor(const QString &prefix, int timeoutMs)
    {
        const qsizetype mark = FNext;
        const bool quiet = waitFor(prefix, timeoutMs).isEmpty();
        FNext = mark;
        return quiet;
    }

    int stop()
    {
        FProcess.terminate();
        FProcess.waitForFinished(5000);
        readLines();
        return FProcess.exitStatus() == QProcess::NormalExit ? FProcess.exitCode() : -1;
    }

    int finish()
    {
        FProcess.waitForFinished(5000);
        readLines();
        return FProcess.exitStatus() == QProcess::NormalExit ? FProcess.exitCode() : -1;
    }

    QString transcript() const { return FLines.join(u'\n'); }

private:
    void readLines()
    {
        FPending += FProcess.readAllStandardOutput() + FProcess.readAllStandardError();
        for (qsizetype end; (end = FPending.indexOf('\n')) >= 0;) {
            FLines.append(QString::fromUtf8(FPending.left(end)));
            FPending.remove(0, end + 1);
        }
    }

    QProcess FProcess;
    QByteArray FPending;
    QStringList FLines;
    qsizetype FNext = 0;
};

// Points the tool's drive list at the given folders for one test.
class DrivesVariable
{
public:
    explicit DrivesVariable(const QStringList &folders)
        : FSaved(qgetenv("QV58LINK_DRIVES"))
    {
        qputenv("QV58LINK_DRIVES", QFile::encodeName(folders.join(u':')));
    }
    ~DrivesVariable() { qputenv("QV58LINK_DRIVES", FSaved); }

private:
    QByteArray FSaved;
};

std::unique_ptr<TQV58LinkConfig> details(const QString &root)
{
    auto record = std::make_unique<TQV58LinkConfig>();
    EXPECT_TRUE(readProbeDetails(root + DetailsLoadName, *record)) << root.toStdString();
    return record;
}

// What the tool writes, the way it writes it: into the probe's own spelling of the name.
void put(const QString &root, const QString &name, const QByteArray &data)
{
    writeWholeFile(pathInRoot(root, name), data);
}

class ProbeSim : public ::testing::Test
{
protected:
    QString folder(const QString &name) const { return FBase.filePath(name); }
    QString root(const QString &name) const { return FBase.filePath(name) + u'/'; }

    QTemporaryDir FBase;
};

} // namespace

// The tool's side of a whole upgrade, on the real clock: restart into the
// bootloader, come back under another drive, take the image, come back installed.
TEST_F(ProbeSim, RestartAndInstallCycleAsTheToolSeesIt)
{
    DrivesVariable drives({folder("E"), folder("F")});
    SimProcess sim({"--drive", folder("E"), "--return-to", folder("F"), "--hic-id", "51560059", "--app-version",
                    "V1.0", "--boot-version", "V0.9", "--new-version", "V2.0", "--power", "5V", "--beep", "OFF",
                    "--restart-ms", "800"});
    ASSERT_FALSE(sim.waitFor("present ").isEmpty()) << sim.transcript().toStdString();

    ASSERT_EQ(findProbeDrive(), root("E"));
    const auto before = details(root("E"));
    EXPECT_EQ(before->HICID(), QStringLiteral("51560059"));
    EXPECT_EQ(before->mode(), QStringLiteral("Interface"));
    EXPECT_EQ(before->appVersion(), QStringLiteral("V1.0"));
    EXPECT_EQ(before->bootVersion(), QStringLiteral("V0.9"));
    EXPECT_EQ(before->voltageOutput(), vo5V);
    EXPECT_FALSE(before->beep());

    put(root("E"), QStringLiteral("START_BL.ACT"), {});
    EXPECT_FALSE(sim.waitFor("gone ").isEmpty()) << sim.transcript().toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder("E")));
    // The old drive went before the tool's settle sleep ended, or the tool
    // would take it for the restarted probe here.
    waitForProbe();
    ASSERT_EQ(findProbeDrive(), root("F")) << sim.transcript().toStdString();
    EXPECT_EQ(details(root("F"))->mode(), QStringLiteral("Bootloader"));

    put(root("F"), QStringLiteral("upgrade.Hex"), sampleImage());
    waitForProbe();
    const QString after = findProbeDrive();
    ASSERT_EQ(after, root("F")) << sim.transcript().toStdString();
    EXPECT_FALSE(fileExists(after + QStringLiteral("Fail.txt")));
    EXPECT_EQ(details(after)->mode(), QStringLiteral("Interface"));
    EXPECT_EQ(details(after)->appVersion(), QStringLiteral("V2.0"));
    EXPECT_EQ(details(after)->bootVersion(), QStringLiteral("V0.9"));
    EXPECT_FALSE(fileExists(after + QStringLiteral("upgrade.Hex"))) << "a restart clears the volume";

    EXPECT_EQ(sim.stop(), 0);
    EXPECT_FALSE(sim.waitFor("stopped").isEmpty());
}

TEST_F(ProbeSim, FailedInstallLeavesFailFileAndStaysInBootloader)
{
    QByteArray corrupted = sampleImage();
    corrupted[20] = corrupted.at(20) == 'A' ? 'B' : 'A';
    const struct
    {
        const char *name;
        QStringList options;
        QByteArray image;
        const char *verdict;
    } cases[] = {
        {"bad image", {}, corrupted, "hex bad: line 2: checksum mismatch"},
        {"image without end record", {}, sampleImage().left(sampleImage().lastIndexOf(':')), "hex bad: no end record"},
        {"told to fail", {"--fail"}, sampleImage(), "hex ok records=2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir base;
        const QString drive = base.filePath(QStringLiteral("probe")) + u'/';
        SimProcess sim(QStringList{"--drive", base.filePath(QStringLiteral("probe")), "--restart-ms", "100",
                                   "--new-version", "V2.0"}
                       + c.options);
        ASSERT_FALSE(sim.waitFor("present ").isEmpty()) << sim.transcript().toStdString();
        put(drive, QStringLiteral("START_BL.ACT"), {});
        ASSERT_FALSE(sim.waitFor("present ").isEmpty()) << sim.transcript().toStdString();

        put(drive, QStringLiteral("upgrade.Hex"), c.image);
        EXPECT_EQ(sim.waitFor("hex "), QString::fromUtf8(c.verdict));
        EXPECT_FALSE(sim.waitFor("failed: ").isEmpty()) << sim.transcript().toStdString();
        ASSERT_FALSE(sim.waitFor("present ").isEmpty()) << sim.transcript().toStdString();
        EXPECT_TRUE(fileExists(drive + QStringLiteral("Fail.txt")));
        EXPECT_EQ(details(drive)->mode(), QStringLiteral("Bootloader"));
        EXPECT_EQ(details(drive)->appVersion(), QStringLiteral("V1.0.0"));
    }
}

TEST_F(ProbeSim, HalfWrittenImageIsNotJudgedBeforeItsWriterClosesIt)
{
    SimProcess sim({"--drive", folder("probe"), "--restart-ms", "100"});
    ASSERT_FALSE(sim.waitFor("present ").isEmpty());
    put(root("probe"), QStringLiteral("START_BL.ACT"), {});
    ASSERT_FALSE(sim.waitFor("present ").isEmpty());

    const QByteArray image = sampleImage();
    TFileWriter writer(root("probe") + QStringLiteral("UPGRADE.HEX"));
    writer.write(image.left(image.size() / 2));
    EXPECT_TRUE(sim.quietFor("seen ", 600)) << sim.transcript().toStdString();
    EXPECT_TRUE(QFileInfo::exists(folder("probe")));
    writer.write(image.mid(image.size() / 2));
    writer.close();
    EXPECT_EQ(sim.waitFor("seen "), QStringLiteral("seen UPGRADE.HEX"));
    EXPECT_EQ(sim.waitFor("hex "), QStringLiteral("hex ok records=2"));
}

TEST_F(ProbeSim, ImageOutsideTheBootloaderIsIgnored)
{
    SimProcess sim({"--drive", folder("probe")});
    ASSERT_FALSE(sim.waitFor("present ").isEmpty());
    put(root("probe"), QStringLiteral("upgrade.Hex"), sampleImage());
    EXPECT_EQ(sim.waitFor("ignored "), QStringLiteral("ignored upgrade.Hex: not in bootloader mode"));
    EXPECT_TRUE(fileExists(root("probe") + DetailsFileName));
}

// Only the second restart misbehaves: the probe takes the image and is not back in time.
TEST_F(ProbeSim, LateOrNeverReturningProbe)
{
    {
        SimProcess sim({"--drive", folder("never"), "--restart-ms", "100", "--never-return", "--misbehave-from", "2"});
        ASSERT_FALSE(sim.waitFor("present ").isEmpty());
        put(root("never"), QStringLiteral("START_BL.ACT"), {});
        ASSERT_FALSE(sim.waitFor("present ").isEmpty()) << "the first restart comes back";
        put(root("never"), QStringLiteral("upgrade.Hex"), sampleImage());
        EXPECT_TRUE(sim.waitFor("gone ").endsWith(QStringLiteral("for good"))) << sim.transcript().toStdString();
        EXPECT_TRUE(sim.quietFor("present ", 1000));
        EXPECT_FALSE(QFileInfo::exists(folder("never")));
    }
    {
        // Back five seconds after the tool's wait of about seven has given
        // up: room for a busy machine to be slow on either side.
        DrivesVariable drives({folder("late")});
        SimProcess sim({"--drive", folder("late"), "--return-late", "--late-ms", "12000"});
        ASSERT_FALSE(sim.waitFor("present ").isEmpty());
        put(root("late"), QStringLiteral("START_BL.ACT"), {});
        waitForProbe();
        EXPECT_EQ(findProbeDrive(), QString());
        EXPECT_FALSE(sim.waitFor("present ", 30000).isEmpty()) << "back after the wait";
        EXPECT_EQ(findProbeDrive(), root("late"));
    }
}

TEST_F(ProbeSim, StopsOnSignalsLeavingTheFolder)
{
    for (const bool interrupt : {false, true}) {
        SCOPED_TRACE(interrupt ? "SIGINT" : "SIGTERM");
        QTemporaryDir base;
        QProcess sim;
        endWithTheTest(sim);
        sim.start(QStringLiteral(QV58_BIN_DIR "/qv58link-probe-sim"), {"--drive", base.filePath("probe")});
        ASSERT_TRUE(sim.waitForReadyRead(5000));
        if (interrupt)
            ::kill(pid_t(sim.processId()), SIGINT);
        else
            sim.terminate();
        ASSERT_TRUE(sim.waitForFinished(5000));
        EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(sim.exitCode(), 0);
        EXPECT_TRUE(sim.readAllStandardOutput().endsWith("stopped\n"));
        EXPECT_TRUE(fileExists(base.filePath("probe/DETAILS.txt")));
    }
}

TEST_F(ProbeSim, RefusesFoldersThatHoldOtherThings)
{
    QDir(FBase.path()).mkpath(QStringLiteral("home"));
    writeWholeFile(root("home") + QStringLiteral("thesis.doc"), "precious");
    QDir(FBase.path()).mkpath(QStringLiteral("other/sub"));
    const struct
    {
        const char *name;
        QStringList arguments;
    } cases[] = {
        {"drive with a document", {"--drive", folder("home")}},
        {"return folder with a subfolder", {"--drive", folder("fresh"), "--return-to", folder("other")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.arguments);
        EXPECT_EQ(sim.finish(), 1);
        EXPECT_FALSE(sim.waitFor("error: ", 0).isEmpty()) << sim.transcript().toStdString();
    }
    EXPECT_EQ(readWholeFile(root("home") + QStringLiteral("thesis.doc")), QByteArray("precious"));
    EXPECT_FALSE(fileExists(root("home") + DetailsFileName));
    EXPECT_TRUE(QFileInfo(folder("other/sub")).isDir());
}

TEST_F(ProbeSim, BadOptionsExitWithCodeTwo)
{
    const QStringList cases[] = {
        {},
        {"--drive"},
        {"--drive", folder("p"), "--restart-ms", "soon"},
        {"--drive", folder("p"), "--misbehave-from", "0"},
        {"--drive", folder("p"), "extra"},
        {"--drive", folder("p"), "--no-such-option"},
    };
    for (const QStringList &arguments : cases) {
        SCOPED_TRACE(arguments.join(u' ').toStdString());
        SimProcess sim(arguments);
        EXPECT_EQ(sim.finish(), 2);
    }
    EXPECT_FALSE(QFileInfo::exists(folder("p")));
}
