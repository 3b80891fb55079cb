#include "DetailsTestSupport.h"

#include "common/Exceptions.h"
#include "platform/FolderDriveList.h"
#ifdef Q_OS_LINUX
#include "platform/linux/SystemDriveList.h"
#endif
#include "probe/ProbeDrive.h"
#include "platform/FileSystem.h"
#include "probe/QV58LinkConfigFile.h"
#include "support/FakeClock.h"
#include "support/TestSystem.h"
#include "support/HostileEntries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

// Installs a drive list for one test.
class InstalledDrives
{
public:
    explicit InstalledDrives(IDriveList &list) { setDriveList(&list); }
    ~InstalledDrives() { setDriveList(nullptr); }
};

// Temporary folders as removable drives, in the order they are made.
class FolderDrives : public ::testing::Test
{
protected:
    QString drive(const QString &name)
    {
        QDir(FBase.path()).mkpath(name);
        FFolders.append(FBase.filePath(name));
        FList = TFolderDriveList(FFolders.join(QDir::listSeparator()));
        return FBase.filePath(name) + u'/';
    }

    QTemporaryDir FBase;
    QStringList FFolders;
    TFolderDriveList FList;
    InstalledDrives FInstalled{FList};
};

} // namespace

#ifdef Q_OS_LINUX
TEST(FindProbeDrive, OnTheFixtureMachineTheFirstRemovableDriveWithDetailsWins)
{
    // Listed before it: the fixed root and /data (both hold the file), a card
    // without it, a removable drive with a folder of that name. After it:
    // another probe, whose file name is in capitals.
    const QString machine = QStringLiteral(QV58_FIXTURES_DIR "/drives");
    TSystemDriveList drives(machine);
    InstalledDrives installed(drives);
    const QString probe = machine + QStringLiteral("/media/user/QV58 PROBE/");
    EXPECT_EQ(findProbeDrive(), probe);

    TQV58LinkConfig record;
    ASSERT_TRUE(readProbeDetails(probe + DetailsLoadName, record));
    EXPECT_EQ(record.HICID(), QStringLiteral("51563270"));
    EXPECT_EQ(record.appVersion(), QStringLiteral("V2.1"));
}
#endif

TEST_F(FolderDrives, NoProbeAmongDrivesWithoutDetails)
{
    EXPECT_EQ(findProbeDrive(), QString());
    const QString stick = drive(QStringLiteral("stick"));
    writeWholeFile(stick + QStringLiteral("notes.txt"), "x");
    const QString folder = drive(QStringLiteral("folder"));
    QDir(folder).mkpath(DetailsFileName);
    EXPECT_EQ(findProbeDrive(), QString());
}

TEST_F(FolderDrives, FirstListedProbeWinsAndAVanishedOneIsPassedOver)
{
    const QString first = drive(QStringLiteral("b-first"));
    const QString second = drive(QStringLiteral("a-second"));
    writeWholeFile(second + QStringLiteral("details.txt"), "HIC ID: 2");
    EXPECT_EQ(findProbeDrive(), second);
    writeWholeFile(first + QStringLiteral("DETAILS.TXT"), "HIC ID: 1");
    EXPECT_EQ(findProbeDrive(), first);
    ASSERT_TRUE(QDir(first).removeRecursively());
    EXPECT_EQ(findProbeDrive(), second);
}

TEST(FindProbeDrive, DrivesVariableSetButEmptyMeansNoProbe)
{
    const QByteArray saved = qgetenv("QV58LINK_DRIVES");
    QTemporaryDir dir;
    writeWholeFile(dir.filePath(DetailsFileName), "HIC ID: 1");
    qputenv("QV58LINK_DRIVES", QFile::encodeName(dir.path()));
    EXPECT_EQ(findProbeDrive(), dir.path() + u'/');
    setEmptyList("QV58LINK_DRIVES");
    EXPECT_EQ(findProbeDrive(), QString());
    qputenv("QV58LINK_DRIVES", saved);
}

TEST_F(FolderDrives, ReadProbeDetailsFindsTheFileInAnyCaseAndReplacesTheRecord)
{
    const QString root = drive(QStringLiteral("probe"));
    writeWholeFile(root + QStringLiteral("DETAILS.txt"),
                   "Beep Mode: ON\nTarget Power output: 5V\nHIC ID: 51563270\nQV58-LINK Mode: Interface\n"
                   "Interface Version: V1.9\nBootloader Version: V1.2\n");
    TQV58LinkConfig record;
    ASSERT_TRUE(readProbeDetails(root + DetailsLoadName, record));
    EXPECT_EQ(detailsOf(record), (TDetails{true, vo5V, "51563270", "Interface", "V1.9", "V1.2"}));

    // The next probe's file lacks some keys: nothing of the previous one survives.
    ASSERT_TRUE(QFile::remove(root + QStringLiteral("DETAILS.txt")));
    writeWholeFile(root + QStringLiteral("details.TXT"), "HIC ID: 51560059\nInterface Version: V2.0\n");
    ASSERT_TRUE(readProbeDetails(root + DetailsLoadName, record));
    EXPECT_EQ(detailsOf(record), (TDetails{false, voNone, "51560059", "", "V2.0", ""}));
}

TEST_F(FolderDrives, MissingOrUnreadableDetailsLeaveTheRecord)
{
    const QString root = drive(QStringLiteral("probe"));
    TQV58LinkConfig record;
    record.setHICID(QStringLiteral("previous"));
    record.setBeep(true);
    const TDetails before = detailsOf(record);

    EXPECT_FALSE(readProbeDetails(root + DetailsLoadName, record));
    QDir(root).mkpath(DetailsFileName);
    EXPECT_FALSE(readProbeDetails(root + DetailsLoadName, record));
    EXPECT_EQ(detailsOf(record), before);

    // A regular file that the system refuses to open: its reason is given.
    // Windows has no modes that would refuse the test's own user.
    if (!TFilesAsNobody::possible())
        return;
    QDir(root + DetailsFileName).removeRecursively();
    writeWholeFile(root + DetailsFileName, "HIC ID: 1");
    ASSERT_TRUE(QFile::setPermissions(FBase.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                        | QFile::ExeGroup | QFile::ExeOther));
    ASSERT_TRUE(QFile::setPermissions(root + DetailsFileName, QFile::Permissions()));
    try {
        const TFilesAsNobody nobody;
        readProbeDetails(root + DetailsLoadName, record);
        FAIL() << "no error";
    } catch (const EFOpenError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Cannot open file \"%1\". Permission denied").arg(root + DetailsFileName));
    }
    EXPECT_EQ(detailsOf(record), before);
}

// What a drive that only claims to be the probe's may hold as its details
// file. Listed before the real probe: discovery passes over it (saying why)
// unless it is a regular file, and no read of it blocks, floods the memory or
// follows a link.
TEST(HostileDetails, AreRefusedWithAReasonAndNeverBlockOrFloodTheRead)
{
    const QString link = refusalReason(TEntryKind::Link, TFileUse::Read);
    const struct
    {
        const char *name;
        std::function<bool(const QString &entry, const TOutside &outside)> plant;
        bool isProbe; // found as the probe's drive
        QString reason; // empty: the read finds no file
    } cases[] = {
        {"link to /dev/zero", [](const QString &e, const TOutside &) { return makeSymbolicLink("/dev/zero", e); }, false,
         link},
        {"link to a fifo",
         [](const QString &e, const TOutside &) {
             const QString pipe = QFileInfo(e).path() + QStringLiteral("/pipe");
             return makeFifo(pipe) && makeSymbolicLink(pipe, e);
         },
         false, link},
        {"fifo", [](const QString &e, const TOutside &) { return makeFifo(e); }, false, fileReason::special()},
        {"link to a good file outside",
         [](const QString &e, const TOutside &o) {
             writeWholeFile(o.victim(), "HIC ID: 51563270\n");
             return makeSymbolicLink(o.victim(), e);
         },
         false, link},
        {"folder", [](const QString &e, const TOutside &) { return QDir().mkdir(e); }, false, QString()},
        {"1 MiB file",
         [](const QString &e, const TOutside &) {
             writeWholeFile(e, "HIC ID: 51563270\n" + QByteArray(1 << 20, ' '));
             return true;
         },
         true, fileReason::tooLarge(DetailsFileMaxBytes)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir base;
        const TOutside outside;
        QDir(base.path()).mkpath(QStringLiteral("fake"));
        QDir(base.path()).mkpath(QStringLiteral("probe"));
        const QString fake = base.filePath(QStringLiteral("fake/"));
        const QString probe = base.filePath(QStringLiteral("probe/"));
        writeWholeFile(probe + DetailsFileName, "HIC ID: 51560059\n");
        const QString entry = fake + QStringLiteral("details.TXT");
        // Only a system without FIFOs or links may fail to make one.
        if (!c.plant(entry, outside)) {
            ASSERT_FALSE(hasSpecialFiles() && canMakeSymbolicLinks());
            continue;
        }
        TFolderDriveList list(base.filePath(QStringLiteral("fake")) + QDir::listSeparator()
                              + base.filePath(QStringLiteral("probe")));
        InstalledDrives installed(list);

        EXPECT_EQ(holdsProbeDetails(fake), c.isProbe);
        EXPECT_EQ(findProbeDrive(), c.isProbe ? fake : probe);
        const QString refusal = QStringLiteral("Cannot open file \"%1\". %2")
                                    .arg(entry, c.reason.isEmpty() ? fileReason::folder() : c.reason);
        EXPECT_EQ(probeDetailsRefusal(fake), c.isProbe ? QString() : refusal);

        TQV58LinkConfig record;
        record.setHICID(QStringLiteral("previous"));
        try {
            EXPECT_FALSE(readProbeDetails(fake + DetailsLoadName, record));
            EXPECT_TRUE(c.reason.isEmpty()) << "read without an error";
        } catch (const EFOpenError &e) {
            EXPECT_EQ(e.message(), QStringLiteral("Cannot open file \"%1\". %2").arg(entry, c.reason));
        }
        EXPECT_EQ(record.HICID(), QStringLiteral("previous"));
        EXPECT_EQ(probeDetailsRefusal(probe), QString());
    }
}

namespace {

// A probe that shows up once the fake clock has run a given time after the
// wait began; counts how often it was looked for.
class ArrivingProbe final : public IDriveList
{
public:
    ArrivingProbe(const FakeClock &clock, const QString &root, qint64 arriveAfter)
        : FClock(clock)
        , FStart(clock.now())
        , FRoot(root)
        , FArriveAfter(arriveAfter)
    {
    }
    QList<TDriveInfo> drives() override
    {
        ++polls;
        if (!present())
            return {};
        return {TDriveInfo{FRoot, TDriveType::Removable, FRoot}};
    }
    quint32 elapsed() const { return FClock.now() - FStart; }

    int polls = 0;

private:
    bool present() const { return FArriveAfter >= 0 && elapsed() >= quint32(FArriveAfter); }

    const FakeClock &FClock;
    quint32 FStart;
    QString FRoot;
    qint64 FArriveAfter;
};

} // namespace

TEST(WaitForProbe, ReturnsWhenTheProbeIsBackOrTheWindowHasPassed)
{
    QTemporaryDir drive;
    writeWholeFile(drive.filePath(DetailsFileName), "HIC ID: 1");
    const struct
    {
        const char *name;
        quint32 startTick;
        qint64 arriveAfter; // -1: never
        quint32 earliest;
        quint32 latest;
    } cases[] = {
        {"back during the settle sleep", 1000, 0, 2000, 2005},
        {"back inside the window", 1000, 4500, 4500, 4530},
        {"never back", 1000, -1, 7000, 7030},
        {"counter wraps inside the window, never back", 0xFFFFFFFFu - 4000, -1, 7000, 7030},
        {"counter wraps as the window opens", 0xFFFFFFFFu - 1999, -1, 7000, 7030},
        {"counter wraps, back after the wrap", 0xFFFFFFFFu - 4000, 6000, 6000, 6030},
        {"back just before the window closes", 1000, 6990, 6990, 7030},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock(c.startTick);
        ArrivingProbe probe(clock, drive.path() + u'/', c.arriveAfter);
        InstalledDrives installed(probe);

        waitForProbe();

        EXPECT_GE(probe.elapsed(), c.earliest);
        EXPECT_LE(probe.elapsed(), c.latest);
        EXPECT_GE(clock.slept(), 2000u) << "the settle sleep is unconditional";
        EXPECT_LT(probe.polls, 400) << "polls must pause rather than spin";
    }
}
