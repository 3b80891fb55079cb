#include "common/Exceptions.h"
#include "common/FileIO.h"
#include "package/PackageBuilder.h"
#include "package/UpgradeFile.h"
#include "platform/FolderDriveList.h"
#include "platform/FileSystem.h"
#include "probe/QV58LinkConfig.h"
#include "probe/QV58LinkConfigFile.h"
#include "support/FakeClock.h"
#include "support/HostileEntries.h"
#include "upgrade/Flashing.h"
#include "upgrade/Package.h"
#include "upgrade/UpgradeEngine.h"
#include "upgrade/VersionOrder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

TEST(VersionOrder, DigitRunsCompareAsNumbersEverythingElseByCode)
{
    const struct
    {
        const char *a, *b;
        int order;
    } cases[] = {
        {"V1.10", "V1.9", 1},  {"V1.9", "V1.10", -1}, {"V1.9", "V1.9", 0},   {"", "", 0},
        {"", "V1.0", -1},      {"V1.0", "", 1},       {"V1.0", "V1.0.1", -1}, {"V2", "V10", -1},
        {"V1.01", "V1.1", 0},  {"V1.9", "v1.9", -1},  {"V1.9a", "V1.9", 1},   {"V1.9a", "V1.9b", -1},
        {"1.2_beta", "1.2_rc", -1},
        // Runs longer than any machine integer still compare correctly.
        {"V123456789012345678901", "V123456789012345678900", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        const int order = compareVersions(QString::fromLatin1(c.a), QString::fromLatin1(c.b));
        EXPECT_EQ(order < 0 ? -1 : order > 0 ? 1 : 0, c.order);
    }
}

TEST(PartMatches, UnknownProbeTakesAnyPackageOtherwiseNamesIgnoreCase)
{
    const struct
    {
        const char *probe, *package;
        bool match;
    } cases[] = {
        {"QV58Link Mini", "QV58Link Mini", true}, {"QV58Link Mini", "qv58link mini", true},
        {"QV58Link Mini", "QV58Link Max", false}, {"QV58Link Mini", "", false},
        {"unknow", "QV58Link Max", true},         {"unknow", "", true},
        {"Unknow", "QV58Link Max", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.probe) + " / " + c.package);
        EXPECT_EQ(partMatches(QString::fromLatin1(c.probe), QString::fromLatin1(c.package)), c.match);
    }
}

namespace {

// The log as a list of lines, and the version question answered by script.
class RecordingReport final : public IUpgradeReport
{
public:
    void addLog(const QString &text, bool replaceLast) override
    {
        if (replaceLast && !lines.isEmpty())
            lines.removeLast();
        lines.append(text);
    }
    bool confirmOlder(const QString &question) override
    {
        questions.append(question);
        return !answers.isEmpty() && answers.takeFirst();
    }
    void step(TUpgradeStep step, qint64 done, qint64 total) override { steps.append({step, done, total}); }

    QStringList lines;
    QStringList questions;
    QList<bool> answers;
    QList<std::tuple<TUpgradeStep, qint64, qint64>> steps;
};

// Where the probe shows up again after a restart.
enum class Comeback { Same, Other, Never };

const char *nameOf(Comeback how)
{
    return how == Comeback::Same ? "same" : how == Comeback::Other ? "other" : "never";
}

// A probe on folder drives "A" and "B", played on the fake clock: each file
// the tool writes makes it restart (its folder goes away for restartMs and
// comes back as told), and after the image it installs what it is told to.
class SimulatedProbe
{
public:
    explicit SimulatedProbe(const QTemporaryDir &dir)
        : FDir(dir)
    {
        QDir(dir.path()).mkpath(QStringLiteral("A"));
        writeDetails();
    }

    void onSleep(quint32 now)
    {
        if (FAway) {
            if (now - FLeftAt >= restartMs)
                comeBack();
            return;
        }
        const QString root = FDir.filePath(current) + u'/';
        if (!FMarkerSeen && fileExists(root + StartBootloaderFileName)) {
            FMarkerSeen = true;
            markerIn = current;
            leave(now, afterMarker);
        } else if (FMarkerSeen && !FImageSeen && fileExists(root + ImageFileName)) {
            FImageSeen = true;
            imageIn = current;
            QFile image(root + ImageFileName);
            if (image.open(QIODevice::ReadOnly))
                receivedImage = image.readAll();
            leave(now, afterImage);
        }
    }

    void writeDetails()
    {
        writeWholeFile(FDir.filePath(current + QStringLiteral("/DETAILS.txt")),
                       QStringLiteral("HIC ID: 51563270\r\nQV58-LINK Mode: %1\r\nInterface Version: %2\r\n"
                                      "Bootloader Version: %3\r\n")
                           .arg(FImageSeen ? QStringLiteral("Interface") : QStringLiteral("Bootloader"), appVersion,
                                bootVersion)
                           .toUtf8());
    }

    Comeback afterMarker = Comeback::Same;
    Comeback afterImage = Comeback::Same;
    bool leaveFailFile = false;
    bool unreadableDetails = false;
    // What the probe reports after installing the image; nullopt: unchanged.
    std::optional<QString> installsApp = QStringLiteral("V1.10");
    std::optional<QString> installsBoot;
    quint32 restartMs = 500;

    QString appVersion = QStringLiteral("V1.9");
    QString bootVersion = QStringLiteral("V1.0");
    QString current = QStringLiteral("A");
    QString markerIn, imageIn;
    QByteArray receivedImage;

private:
    void leave(quint32 now, Comeback how)
    {
        FAway = true;
        FLeftAt = now;
        FHow = how;
        QDir(FDir.path()).rename(current, QStringLiteral(".away"));
    }

    void comeBack()
    {
        if (FHow == Comeback::Never)
            return;
        FAway = false;
        if (FHow == Comeback::Other)
            current = current == QStringLiteral("A") ? QStringLiteral("B") : QStringLiteral("A");
        QDir(FDir.path()).rename(QStringLiteral(".away"), current);
        if (!FImageSeen) {
            writeDetails();
            return;
        }
        appVersion = installsApp.value_or(appVersion);
        bootVersion = installsBoot.value_or(bootVersion);
        writeDetails();
        const QString details = FDir.filePath(current + QStringLiteral("/DETAILS.txt"));
        if (unreadableDetails) {
            // A details file that is there but too large to be read.
            writeWholeFile(details, QByteArray(DetailsFileMaxBytes + 1, ' '));
        }
        if (leaveFailFile)
            writeWholeFile(FDir.filePath(current + QStringLiteral("/Fail.txt")), QByteArray());
    }

    const QTemporaryDir &FDir;
    bool FMarkerSeen = false;
    bool FImageSeen = false;
    bool FAway = false;
    quint32 FLeftAt = 0;
    Comeback FHow = Comeback::Same;
};

// One upgrade's world: folder drives "A" (and "B"), the simulated probe on
// them, a fake clock on which it restarts, and an engine logging to a record.
struct ProbeRun
{
    explicit ProbeRun(bool twoDrives = false)
        : drives(dir.filePath("A") + (twoDrives ? QStringLiteral(":") + dir.filePath("B") : QString()))
        , sim(dir)
        , engine(report, drives, clock)
    {
        clock.onSleep = [this](quint32 now) { sim.onSleep(now); };
    }

    QTemporaryDir dir;
    TFolderDriveList drives;
    SimulatedProbe sim;
    FakeClock clock{5000};
    RecordingReport report;
    TUpgradeEngine engine;
};

const QByteArray Image = ":020000040000FA\n:0400000001020304F2\n:00000001FF\n";

class UpgradeEngineTest : public ::testing::Test
{
protected:
    UpgradeEngineTest()
        : drives(dir.filePath("A") + u':' + dir.filePath("B"))
        , probe(dir)
        , engine(report, drives, clock)
    {
        QDir(dir.path()).mkpath(QStringLiteral("cwd"));
        oldCwd = QDir::currentPath();
        QDir::setCurrent(dir.filePath("cwd"));
        clock.onSleep = [this](quint32 now) { probe.onSleep(now); };
        record.setHICID(QStringLiteral("51563270"));
        record.setAppVersion(QStringLiteral("V1.9"));
        record.setBootVersion(QStringLiteral("V1.0"));
    }
    ~UpgradeEngineTest() override { QDir::setCurrent(oldCwd); }

    void usePackage(const QString &mode, const QString &version, const QString &partName = QStringLiteral("QV58Link Mini"))
    {
        package.buffer() = buildPackage(Image, mode, version, partName, QStringLiteral("2026-12-01 10:00"));
        package.open(QIODevice::ReadWrite);
        package.seek(package.size());
    }

    bool upgrade()
    {
        const TUpgradeFile file(package);
        return engine.upgrade(file, record);
    }

    QByteArray fileIn(const QString &drive, const QString &name) const
    {
        QFile file(dir.filePath(drive + u'/' + name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QStringList filesIn(const QString &drive) const
    {
        return QDir(dir.filePath(drive)).entryList(QDir::Files, QDir::Name);
    }
    QStringList tail(qsizetype n) const { return report.lines.mid(report.lines.size() - n); }

    QTemporaryDir dir;
    TFolderDriveList drives;
    FakeClock clock{1000};
    RecordingReport report;
    SimulatedProbe probe;
    TUpgradeEngine engine;
    TQV58LinkConfig record;
    QBuffer package;
    QString oldCwd;
};

const QString NotFound = QStringLiteral("    Error: QV58-Link not found, please check if it is connected");
const QString Success = QStringLiteral("Upgrade QV58-Link fireware success!");
const QString Fail = QStringLiteral("Upgrade QV58-Link fireware fail!");

} // namespace

// Every way the probe can come back from its two restarts, for both ways of
// waiting. The window takes whichever probe it finds; the headless command
// follows its own probe's drive and takes no other one for it.
TEST_F(UpgradeEngineTest, ComebacksFromBothRestartsDecideWhereTheImageGoesAndTheOutcome)
{
    enum Outcome { Ok, FailFile, Lost };
    const struct
    {
        Comeback marker, image;
        bool failFile;
        Outcome settle, follow;
        // Where the image was written, "" when it was not.
        const char *imageInSettle, *imageInFollow;
    } cases[] = {
        {Comeback::Same, Comeback::Same, false, Ok, Ok, "A", "A"},
        {Comeback::Same, Comeback::Same, true, FailFile, FailFile, "A", "A"},
        {Comeback::Other, Comeback::Same, false, Ok, Lost, "B", ""},
        {Comeback::Same, Comeback::Other, false, Ok, Lost, "A", "A"},
        // Back under another folder after the image, with Fail.txt there: the
        // result is looked for where the probe is now, not where it was.
        {Comeback::Same, Comeback::Other, true, FailFile, Lost, "A", "A"},
        {Comeback::Other, Comeback::Other, false, Ok, Lost, "B", ""},
        {Comeback::Other, Comeback::Other, true, FailFile, Lost, "B", ""},
        {Comeback::Never, Comeback::Same, false, Lost, Lost, "", ""},
        {Comeback::Same, Comeback::Never, false, Lost, Lost, "A", "A"},
        {Comeback::Other, Comeback::Never, true, Lost, Lost, "B", ""},
    };
    for (const TRestartWait wait : {TRestartWait::Settle, TRestartWait::Follow}) {
        for (const auto &c : cases) {
            const bool follow = wait == TRestartWait::Follow;
            SCOPED_TRACE(std::string(follow ? "follow" : "settle") + ", marker " + nameOf(c.marker) + ", image "
                         + nameOf(c.image) + (c.failFile ? ", Fail.txt" : ""));
            ProbeRun run(true);
            SimulatedProbe &sim = run.sim;
            sim.afterMarker = c.marker;
            sim.afterImage = c.image;
            sim.leaveFailFile = c.failFile;
            TUpgradeEngine &runEngine = run.engine;
            runEngine.setRestartWait(wait);
            if (follow)
                runEngine.setProbeIdentity(run.drives.drives().value(0).identity);
            usePackage(QStringLiteral("App"), QStringLiteral("V1.10"));
            const TUpgradeFile file(package);

            const Outcome expected = follow ? c.follow : c.settle;
            EXPECT_EQ(runEngine.upgrade(file, record), expected == Ok);
            const QStringList lines = run.report.lines;
            if (expected == Ok) {
                EXPECT_EQ(lines.last(), Success);
            } else if (expected == FailFile) {
                // Fail.txt decides alone: no reason is logged before the outcome.
                EXPECT_EQ(lines.mid(lines.size() - 2), (QStringList{lines.at(lines.size() - 2), Fail}));
                EXPECT_TRUE(lines.at(lines.size() - 2).startsWith(QStringLiteral("    MD5: ")));
            } else {
                EXPECT_EQ(lines.mid(lines.size() - 3), (QStringList{"Result", NotFound, Fail}));
            }
            // Each file where the probe was when it was written.
            EXPECT_EQ(sim.markerIn, QStringLiteral("A"));
            const QString imageIn = QString::fromLatin1(follow ? c.imageInFollow : c.imageInSettle);
            EXPECT_EQ(sim.imageIn, imageIn);
            if (!imageIn.isEmpty()) {
                EXPECT_EQ(sim.receivedImage, Image);
            }
            EXPECT_TRUE(QDir(run.dir.path()).entryList(QDir::Files).isEmpty());
            EXPECT_TRUE(QDir(dir.filePath("cwd")).isEmpty());
        }
    }
}

// After flashing, the probe's own report is the proof: its version must now
// be the package's, the interface version for an App package and the
// bootloader version for any other. The version it had before comes from the
// same place in the record loaded before the run.
TEST_F(UpgradeEngineTest, ResultIsTheVersionTheProbeReportsAfterwards)
{
    const struct
    {
        const char *name;
        const char *mode;
        const char *versionBefore; // the probe's version the package's mode names, before the run
        std::optional<QString> app, boot;
        bool unreadable;
        Comeback afterImage;
        bool ok;
        QString error; // the reason line logged before the outcome
        QString versionAfter;
    } cases[] = {
        {"app package installed", "App", "V1.9", "V1.10", std::nullopt, false, Comeback::Same, true, {}, "V1.10"},
        {"app package, letter case and blanks differ", "app", "V1.9", " v1.10", std::nullopt, false, Comeback::Same,
         true, {}, "v1.10"},
        {"app package, nothing installed", "App", "V1.9", std::nullopt, std::nullopt, false, Comeback::Same, false,
         "    Error: QV58-Link reports version \"V1.9\" after the upgrade, the upgrade file is version \"V1.10\"",
         "V1.9"},
        {"app package, only the bootloader changed", "App", "V1.9", std::nullopt, "V1.10", false, Comeback::Same,
         false,
         "    Error: QV58-Link reports version \"V1.9\" after the upgrade, the upgrade file is version \"V1.10\"",
         "V1.9"},
        {"boot package installed", "Boot", "V1.0", std::nullopt, "V1.10", false, Comeback::Same, true, {}, "V1.10"},
        {"boot package, nothing installed", "Boot", "V1.0", std::nullopt, std::nullopt, false, Comeback::Same, false,
         "    Error: QV58-Link reports version \"V1.0\" after the upgrade, the upgrade file is version \"V1.10\"",
         "V1.0"},
        {"boot package, only the interface changed", "", "V1.0", "V1.10", std::nullopt, false, Comeback::Same, false,
         "    Error: QV58-Link reports version \"V1.0\" after the upgrade, the upgrade file is version \"V1.10\"",
         "V1.0"},
        {"app package, details unreadable", "App", "V1.9", "V1.10", std::nullopt, true, Comeback::Same, false,
         "    Error: QV58-Link details cannot be read after the upgrade, the upgrade file is version \"V1.10\"", ""},
        {"boot package, details unreadable", "Boot", "V1.0", std::nullopt, "V1.10", true, Comeback::Same, false,
         "    Error: QV58-Link details cannot be read after the upgrade, the upgrade file is version \"V1.10\"", ""},
        {"app package, drive gone", "App", "V1.9", "V1.10", std::nullopt, false, Comeback::Never, false, NotFound, ""},
        {"boot package, drive gone", "Boot", "V1.0", std::nullopt, "V1.10", false, Comeback::Never, false, NotFound,
         ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ProbeRun run;
        run.sim.installsApp = c.app;
        run.sim.installsBoot = c.boot;
        run.sim.unreadableDetails = c.unreadable;
        run.sim.afterImage = c.afterImage;
        TUpgradeEngine &runEngine = run.engine;
        usePackage(QString::fromLatin1(c.mode), QStringLiteral("V1.10"));
        const TUpgradeFile file(package);

        EXPECT_EQ(runEngine.upgrade(file, record), c.ok);
        const QStringList lines = run.report.lines;
        if (c.ok) {
            EXPECT_EQ(lines.last(), Success);
            EXPECT_EQ(runEngine.outcome().message, Success);
        } else {
            EXPECT_EQ(lines.mid(lines.size() - 3), (QStringList{"Result", c.error, Fail}));
            EXPECT_EQ(QStringLiteral("    Error: ") + runEngine.outcome().message, c.error);
        }
        EXPECT_EQ(runEngine.outcome().ok, c.ok);
        EXPECT_EQ(runEngine.outcome().versionBefore, QString::fromLatin1(c.versionBefore));
        EXPECT_EQ(runEngine.outcome().versionAfter, c.versionAfter);
    }
}

TEST_F(UpgradeEngineTest, SuccessWritesMarkerThenImageAndLogsEveryLine)
{
    usePackage(QStringLiteral("App"), QStringLiteral("V1.10"));
    engine.logTargetInfo(record);
    EXPECT_TRUE(upgrade());

    const TUpgradeFile file(package);
    EXPECT_EQ(report.lines, (QStringList{"Target Info:", "    Part Name: QV58Link Mini", "    Boot Version: V1.0",
                                         "    Application Version: V1.9", "Upgrade File Info:",
                                         "    Part Name: QV58Link Mini", "    Application Version: V1.10",
                                         "    Publish Time: 2026-12-01 10:00", "    MD5: " + file.md5(), Success}));
    EXPECT_EQ(fileIn("A", "START_BL.ACT"), QByteArray());
    EXPECT_EQ(fileIn("A", "upgrade.Hex"), Image);
    EXPECT_EQ(filesIn("A"), (QStringList{"DETAILS.txt", "START_BL.ACT", "upgrade.Hex"}));
    EXPECT_TRUE(QDir(dir.filePath("cwd")).isEmpty());
}

TEST_F(UpgradeEngineTest, ExistingFilesInAnyLetterCaseAreReplacedNotDoubled)
{
    writeWholeFile(dir.filePath("A/start_bl.act"), "old marker");
    writeWholeFile(dir.filePath("A/UPGRADE.HEX"), QByteArray(4096, 'x'));
    usePackage(QStringLiteral("App"), QStringLiteral("V1.10"));
    EXPECT_TRUE(upgrade());
    EXPECT_EQ(filesIn("A"), (QStringList{"DETAILS.txt", "UPGRADE.HEX", "start_bl.act"}));
    EXPECT_EQ(fileIn("A", "start_bl.act"), QByteArray());
    EXPECT_EQ(fileIn("A", "UPGRADE.HEX"), Image);
}

TEST_F(UpgradeEngineTest, RefusedChecksWriteNothingOnTheProbe)
{
    const struct
    {
        const char *name;
        const char *hicId, *appVersion, *mode, *version, *partName;
        QList<bool> answers;
        int questions;
        bool ok;
        QStringList tail;
    } cases[] = {
        {"part names differ", "51563270", "V1.9", "App", "V1.10", "QV58Link Max", {}, 0, false,
         {"Result", "    Error: Target is \"QV58Link Mini\", Upgrade file is \"QV58Link Max\", not match", Fail}},
        {"lower version declined", "51563270", "V1.10", "App", "V1.9", "QV58Link Mini", {false}, 1, false,
         {"Result", "    Error: The current hardware version is higher than the upgrade file version", Fail}},
        {"lower version accepted", "51563270", "V1.10", "App", "V1.9", "QV58Link Mini", {true}, 1, true, {Success}},
        {"digits compare as numbers: no question", "51563270", "V1.9", "App", "V1.10", "QV58Link Mini", {}, 0, true,
         {Success}},
        {"empty probe version: no question", "51563270", "", "App", "V1.10", "QV58Link Mini", {}, 0, true, {Success}},
        {"unknown model takes any part", "12345678", "", "App", "V1.10", "Other", {}, 0, true, {Success}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ProbeRun run;
        run.sim.installsApp = QString::fromLatin1(c.version);
        run.report.answers = c.answers;
        TUpgradeEngine &runEngine = run.engine;
        record.setHICID(QString::fromLatin1(c.hicId));
        record.setAppVersion(QString::fromLatin1(c.appVersion));
        usePackage(QString::fromLatin1(c.mode), QString::fromLatin1(c.version), QString::fromLatin1(c.partName));
        const TUpgradeFile file(package);

        EXPECT_EQ(runEngine.upgrade(file, record), c.ok);
        EXPECT_EQ(run.report.lines.mid(run.report.lines.size() - c.tail.size()), c.tail);
        EXPECT_EQ(run.report.questions.size(), c.questions);
        if (c.questions > 0) {
            EXPECT_EQ(run.report.questions.first(),
                      QStringLiteral("The current hardware version is higher than the upgrade file version!\r\n"
                                     "Continue?"));
        }
        EXPECT_EQ(QDir(run.dir.filePath("A")).entryList(QDir::Files).size(), c.ok ? 3 : 1);
    }
}

// A front with nobody to ask, such as a download's report, never lets an
// older package through.
TEST_F(UpgradeEngineTest, AReportThatCannotAskDeclinesAnOlderPackage)
{
    struct Unasking final : IUpgradeReport
    {
        void addLog(const QString &, bool) override {}
    } unasking;
    ProbeRun run;
    TUpgradeEngine unaskingEngine(unasking, run.drives, run.clock);
    record.setAppVersion(QStringLiteral("V1.10"));
    usePackage(QStringLiteral("App"), QStringLiteral("V1.9"));
    const TUpgradeFile file(package);

    EXPECT_FALSE(unaskingEngine.upgrade(file, record));
    EXPECT_EQ(unaskingEngine.outcome().message,
              QStringLiteral("The current hardware version is higher than the upgrade file version"));
    EXPECT_EQ(QDir(run.dir.filePath("A")).entryList(QDir::Files), QStringList{"DETAILS.txt"});
}

// The window sleeps 2000 ms whatever the probe does; the headless command
// goes on once the probe's drive has gone and come back, and waits as the
// window does for a drive that never seemed to go.
TEST_F(UpgradeEngineTest, FollowingWaitEndsWhenTheDriveIsBackSettleWaitSleepsItsTime)
{
    const struct
    {
        TRestartWait wait;
        quint32 restartMs;
        bool goesAway;
        quint32 atLeast, atMost;
    } cases[] = {
        {TRestartWait::Settle, 500, true, 2000, 2600}, // the probe leaves when the sleep ends
        {TRestartWait::Follow, 500, true, 500, 600},
        {TRestartWait::Follow, 1500, true, 1500, 1600},
        {TRestartWait::Follow, 500, false, 2000, 2100},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.restartMs);
        ProbeRun run;
        run.sim.restartMs = c.restartMs;
        if (!c.goesAway)
            run.clock.onSleep = nullptr;
        TUpgradeEngine &runEngine = run.engine;
        runEngine.setRestartWait(c.wait);
        createEmptyFile(run.dir.filePath("A") + u'/', StartBootloaderFileName);
        const quint32 start = run.clock.now();
        runEngine.waitForRestart();
        const quint32 took = run.clock.now() - start;
        EXPECT_GE(took, c.atLeast);
        EXPECT_LE(took, c.atMost);
        EXPECT_FALSE(runEngine.locateProbe().isEmpty());
    }
}

// Beside the lines, the stages of the run in order; a run that goes wrong
// reports no stage after the one it went wrong in.
TEST_F(UpgradeEngineTest, StepsFollowTheRunAndStopWhereItFails)
{
    using S = TUpgradeStep;
    using Seen = std::tuple<TUpgradeStep, qint64, qint64>;
    const qint64 n = Image.size();
    const QList<Seen> whole{{S::Restart, 0, 0}, {S::WriteImage, 0, n}, {S::WriteImage, n, n},
                            {S::RestartAgain, 0, 0}, {S::Verify, 0, 0}};
    const struct
    {
        const char *name;
        const char *partName;
        Comeback marker, image;
        bool failFile;
        bool ok;
        QList<Seen> steps;
    } cases[] = {
        {"success", "QV58Link Mini", Comeback::Same, Comeback::Same, false, true, whole},
        {"Fail.txt left", "QV58Link Mini", Comeback::Same, Comeback::Same, true, false, whole},
        {"gone after the image", "QV58Link Mini", Comeback::Same, Comeback::Never, false, false, whole.mid(0, 4)},
        {"gone after the marker", "QV58Link Mini", Comeback::Never, Comeback::Same, false, false, whole.mid(0, 1)},
        {"part names differ", "QV58Link Max", Comeback::Same, Comeback::Same, false, false, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ProbeRun run;
        run.sim.afterMarker = c.marker;
        run.sim.afterImage = c.image;
        run.sim.leaveFailFile = c.failFile;
        usePackage(QStringLiteral("App"), QStringLiteral("V1.10"), QString::fromLatin1(c.partName));
        const TUpgradeFile file(package);
        EXPECT_EQ(run.engine.upgrade(file, record), c.ok);
        EXPECT_EQ(run.report.steps, c.steps);
    }
}

// A drive that claims to be the probe's and holds, under the marker's or the
// image's name in any letter case, an entry that is no regular file: the
// upgrade stops with the entry's path and the reason, before any outcome
// line, and nothing outside the drive is touched or created.
TEST(UpgradeOnAHostileDrive, StopsAtTheEntryAndWritesNothingThroughIt)
{
    const struct
    {
        const char *onDrive;
        bool markerWritten; // the entry takes the image's name: the marker went first
    } names[] = {
        {"START_BL.ACT", false},
        {"start_bl.act", false},
        {"upgrade.Hex", true},
        {"UPGRADE.HEX", true},
    };
    for (const auto &n : names) {
        for (const THostile kind : allHostile()) {
            SCOPED_TRACE(std::string(n.onDrive) + ", " + nameOf(kind));
            ProbeRun run;
            const TOutside outside;
            const QString entry = run.dir.filePath(QStringLiteral("A/") + QString::fromLatin1(n.onDrive));
            ASSERT_TRUE(outside.plant(kind, entry));
            QBuffer buffer;
            buffer.setData(buildPackage(Image, QStringLiteral("App"), QStringLiteral("V1.10"),
                                        QStringLiteral("QV58Link Mini"), QStringLiteral("2026-12-01 10:00")));
            const TUpgradeFile package(buffer);
            TQV58LinkConfig probe;
            probe.setHICID(QStringLiteral("51563270"));
            probe.setAppVersion(QStringLiteral("V1.9"));

            const QString reason = kind == THostile::Folder ? fileReason::folder()
                : kind == THostile::Fifo                     ? fileReason::special()
                : kind == THostile::HardLink                 ? fileReason::otherNames()
                                                             : refusalReason(TEntryKind::Link, TFileUse::Write);
            try {
                run.engine.upgrade(package, probe);
                ADD_FAILURE() << "no error";
            } catch (const EFCreateError &e) {
                EXPECT_EQ(e.message(), QStringLiteral("Cannot create file \"%1\". %2").arg(entry, reason));
            }
            EXPECT_EQ(run.report.lines.last(), QStringLiteral("Upgrade QV58-Link fireware ... "));
            EXPECT_TRUE(outside.untouched());
            QStringList expected{QStringLiteral("DETAILS.txt"), QString::fromLatin1(n.onDrive)};
            if (n.markerWritten)
                expected.append(StartBootloaderFileName);
            expected.sort();
            EXPECT_EQ(QDir(run.dir.filePath("A")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System,
                                                             QDir::Name),
                      expected);
            EXPECT_TRUE(run.sim.imageIn.isEmpty());
        }
    }
}

TEST_F(UpgradeEngineTest, ImageThatDoesNotFitNamesTheFileAndTheShortfall)
{
    TFileWriter::setWriteLimiter([](const QString &fileName, qint64 size) {
        return fileName.endsWith(ImageFileName) ? size - 7 : size;
    });
    usePackage(QStringLiteral("App"), QStringLiteral("V1.10"));
    try {
        upgrade();
        TFileWriter::setWriteLimiter(nullptr);
        FAIL() << "no error";
    } catch (const EFWriteError &e) {
        TFileWriter::setWriteLimiter(nullptr);
        EXPECT_EQ(e.message(), QStringLiteral("Cannot write file \"%1\". The device took only %2 of %3 bytes.")
                                   .arg(dir.filePath("A/upgrade.Hex"))
                                   .arg(Image.size() - 7)
                                   .arg(Image.size()));
    }
    EXPECT_EQ(report.lines.last(), QStringLiteral("Upgrade QV58-Link fireware ... "));
}
