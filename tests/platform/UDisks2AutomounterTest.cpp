#include "platform/linux/SystemDriveList.h"
#include "platform/linux/UDisks2Automounter.h"
#include "probe/ProbeDrive.h"
#include "probe/QV58LinkConfig.h"
#include "support/FakeClock.h"
#include "support/PrivateSystemBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <latch>
#include <memory>
#include <thread>

namespace {

// Every test here talks to a bus daemon of this program's own, which stands
// in for the system bus; DBUS_SYSTEM_BUS_ADDRESS points the tool at it before
// anything in the process opens a connection, and never at the machine's bus.
class SystemBusEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        FBus = std::make_unique<TPrivateSystemBus>(QStringLiteral(QV58_DBUS_DAEMON));
        address = FBus->address();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS",
                address.isEmpty() ? QByteArray("unix:path=/nonexistent/qv58link-test-bus") : address.toUtf8());
    }
    void TearDown() override { FBus.reset(); }

    static inline QString address;

private:
    std::unique_ptr<TPrivateSystemBus> FBus;
};

[[maybe_unused]] const auto *const systemBus = ::testing::AddGlobalTestEnvironment(new SystemBusEnvironment);

const QString MockInterface = QStringLiteral("org.qv58link.test.UDisks2Mock");
const QString MountCall = QStringLiteral("Mount %1 auth.no_user_interaction=true");
const QString UnmountCall = QStringLiteral("Unmount %1 auth.no_user_interaction=true");

// The mock UDisks2 daemon (udisks2-mock.py) on the private bus, playing the
// machine under systemRoot. Killed when the object goes, or with the test.
class UDisks2Mock
{
public:
    explicit UDisks2Mock(const QString &systemRoot)
    {
        endWithTheTest(FProcess);
        FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FProcess.start(QStringLiteral(QV58_SYSTEM_PYTHON),
                       {QStringLiteral(QV58_UDISKS2_MOCK), QStringLiteral("--system-root"), systemRoot});
        FReady = readLine(FProcess, QDeadlineTimer(60000)) == "ready";
    }
    ~UDisks2Mock() { endProcess(FProcess); }

    bool isReady() const { return FReady; }

    void add(const QJsonObject &device) { control(QStringLiteral("AddDevice"), {QString::fromUtf8(QJsonDocument(device).toJson())}); }
    // Unplugged, as the probe is when it restarts.
    void remove(const QString &name) { control(QStringLiteral("RemoveDevice"), {name}); }
    // Every later look is answered this much later, with the state as it was
    // when asked.
    void setLookDelay(uint ms) { control(QStringLiteral("SetLookDelay"), {ms}); }
    // What the devices were asked to do, in order.
    QStringList calls() { return control(QStringLiteral("Calls"), {}).arguments().value(0).toStringList(); }

private:
    QDBusMessage control(const QString &method, const QVariantList &arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.UDisks2"),
                                                           QStringLiteral("/org/freedesktop/UDisks2"), MockInterface,
                                                           method);
        call.setArguments(arguments);
        const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, 30000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method.toStdString() << ": "
                                                            << reply.errorMessage().toStdString();
        return reply;
    }

    QProcess FProcess;
    bool FReady = false;
};

const QString ProbeDetails = QStringLiteral("HIC ID: 51563270\nQV58-LINK Mode: Interface\n"
                                            "Interface Version: V2.1\nBootloader Version: V1.2\n");
const QString BootloaderDetails = QStringLiteral("HIC ID: 51563270\nQV58-LINK Mode: Bootloader\n"
                                                 "Interface Version: V2.1\nBootloader Version: V1.2\n");
constexpr int AnHourAgo = 3600 * 1000;

// A USB drive with a FAT volume that nobody has mounted; plugged in an hour
// ago unless changes say otherwise.
QJsonObject usbFat(const QString &name, const QString &label, const QJsonObject &files, const QJsonObject &changes = {})
{
    QJsonObject device{{"name", name},  {"disk", name.left(3)}, {"bus", "usb"},
                       {"fs", "vfat"},  {"label", label},       {"files", files},
                       {"detected_ago_ms", AnHourAgo}};
    for (auto change = changes.begin(); change != changes.end(); ++change) {
        if (change->isNull())
            device.remove(change.key());
        else
            device.insert(change.key(), *change);
    }
    return device;
}

const QJsonObject WithProbeDetails{{"DETAILS.txt", ProbeDetails}};
const QJsonObject WithoutProbeDetails{{"notes.txt", "just a memory stick"}};
// Plugged in a moment ago: how long ago UDisks2 does not say.
const QJsonObject JustPlugged{{"detected_ago_ms", QJsonValue::Null}};

class InstalledDrives
{
public:
    explicit InstalledDrives(IDriveList &list) { setDriveList(&list); }
    ~InstalledDrives() { setDriveList(nullptr); }
};

// A machine tree with only its root file system mounted, the mock UDisks2
// playing its devices, and the system drive list over both.
class Automounting : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(SystemBusEnvironment::address.isEmpty()) << "no private bus daemon (" QV58_DBUS_DAEMON ")";
        ASSERT_NO_FATAL_FAILURE(startMachine());
    }

    // A fresh machine, its mock and its drive list, in place of the last.
    void startMachine()
    {
        FMock.reset();
        FMachine = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(QDir(FMachine->path()).mkpath(QStringLiteral("proc/self")));
        QFile mountinfo(FMachine->filePath(QStringLiteral("proc/self/mountinfo")));
        ASSERT_TRUE(mountinfo.open(QIODevice::WriteOnly));
        mountinfo.write("22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw,errors=remount-ro\n");
        mountinfo.close();
        FMock = std::make_unique<UDisks2Mock>(FMachine->path());
        ASSERT_TRUE(FMock->isReady()) << "the mock UDisks2 did not start (" QV58_SYSTEM_PYTHON " " QV58_UDISKS2_MOCK ")";
        FDrives = std::make_unique<TSystemDriveList>(FMachine->path(), std::make_shared<TUDisks2Automounter>());
    }

    // The drive root of a volume mounted by label.
    QString root(const QString &label) const
    {
        return FMachine->path() + QStringLiteral("/media/user/") + label + u'/';
    }
    TSystemDriveList &drives() { return *FDrives; }

    std::unique_ptr<QTemporaryDir> FMachine;
    std::unique_ptr<UDisks2Mock> FMock;
    std::unique_ptr<TSystemDriveList> FDrives;
};

} // namespace

TEST_F(Automounting, DriveWithTheProbeIsMountedAndFound)
{
    FMock->add(usbFat("sdb1", "QV58 LINK", WithProbeDetails));
    FakeClock clock;

    EXPECT_EQ(findProbeDrive(drives()), root("QV58 LINK"));
    EXPECT_EQ(FMock->calls(), QStringList{MountCall.arg("sdb1")});
    // Plugged in long ago: the desktop had its chance, nothing to wait for.
    EXPECT_EQ(clock.slept(), 0u);

    TQV58LinkConfig record;
    ASSERT_TRUE(readProbeDetails(root("QV58 LINK") + DetailsLoadName, record));
    EXPECT_EQ(record.HICID(), "51563270");

    // Mounted now, so the next look just finds it.
    EXPECT_EQ(findProbeDrive(drives()), root("QV58 LINK"));
    EXPECT_EQ(FMock->calls().size(), 1);
}

TEST_F(Automounting, DriveWithoutTheProbeIsUnmountedAgainAndLeftAlone)
{
    FMock->add(usbFat("sdb1", "STICK", WithoutProbeDetails));
    FakeClock clock;

    EXPECT_EQ(findProbeDrive(drives()), QString());
    EXPECT_EQ(FMock->calls(), (QStringList{MountCall.arg("sdb1"), UnmountCall.arg("sdb1")}));
    EXPECT_TRUE(drives().logicalDrives().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(root("STICK")));

    // Not mounted again at every poll while it stays plugged in.
    for (int poll = 0; poll < 3; ++poll)
        EXPECT_EQ(findProbeDrive(drives()), QString());
    EXPECT_EQ(FMock->calls().size(), 2);
}

TEST_F(Automounting, NothingElseIsEverMountedOrUnmounted)
{
    // Each holds the details file, so a wrong mount would even find a "probe".
    const QJsonObject others[] = {
        usbFat("sda1", "INTERNAL", WithProbeDetails, {{"bus", "ata"}}),
        usbFat("sdb1", "LINUX", WithProbeDetails, {{"fs", "ext4"}}),
        usbFat("sdc1", "RAW", WithProbeDetails, {{"fs", ""}}),
        usbFat("sdd1", "HIDDEN", WithProbeDetails, {{"ignore", true}}),
        usbFat("mmcblk0p1", "CARD", WithProbeDetails, {{"disk", "mmcblk0"}, {"bus", "sdio"}}),
        usbFat("loop0", "IMAGE", WithProbeDetails, {{"bus", QJsonValue::Null}}),
    };
    for (const QJsonObject &device : others)
        FMock->add(device);
    // Someone else's mount is never taken away, probe or not.
    FMock->add(usbFat("sde1", "THEIRS", WithoutProbeDetails, {{"mounted", true}}));
    FakeClock clock;

    EXPECT_EQ(findProbeDrive(drives()), QString());
    EXPECT_TRUE(FMock->calls().isEmpty()) << FMock->calls().join(u'\n').toStdString();
    EXPECT_EQ(drives().logicalDrives(), QStringList{root("THEIRS")});
    EXPECT_EQ(clock.slept(), 0u);
}

TEST_F(Automounting, RefusedMountIsNotRetriedUntilTheDriveIsPluggedInAgain)
{
    FMock->add(usbFat("sdb1", "QV58 LINK", WithProbeDetails,
                      {{"refuse", "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain"}}));
    FakeClock clock;

    // As without automounting: no probe, and nothing raised.
    for (int poll = 0; poll < 3; ++poll)
        EXPECT_EQ(findProbeDrive(drives()), QString());
    EXPECT_EQ(FMock->calls(), QStringList{MountCall.arg("sdb1")});

    FMock->remove("sdb1");
    FMock->add(usbFat("sdb1", "QV58 LINK", WithProbeDetails));
    EXPECT_EQ(findProbeDrive(drives()), root("QV58 LINK"));
    EXPECT_EQ(FMock->calls(), (QStringList{MountCall.arg("sdb1"), MountCall.arg("sdb1")}));
}

TEST_F(Automounting, NewDriveWaitsOutTheGraceWithinOneLook)
{
    const struct
    {
        const char *name;
        QJsonObject changes;
        QStringList calls;
        bool waitedWholeGrace;
    } cases[] = {
        {"nobody else mounts it", JustPlugged, {MountCall.arg("sdb1")}, true},
        {"the desktop mounts it meanwhile",
         QJsonObject{{"detected_ago_ms", QJsonValue::Null}, {"others_mount_after_looks", 3}},
         {QStringLiteral("others mount sdb1")}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(startMachine());
        FMock->add(usbFat("sdb1", "QV58 LINK", WithProbeDetails, c.changes));
        FakeClock clock;

        // A single look, as at Refresh, finds the probe either way.
        EXPECT_EQ(findProbeDrive(drives()), root("QV58 LINK"));
        EXPECT_EQ(FMock->calls(), c.calls);
        if (c.waitedWholeGrace) {
            EXPECT_GE(clock.now(), TUDisks2Automounter::GraceMs);
            EXPECT_LE(clock.now(), TUDisks2Automounter::GraceMs + TUDisks2Automounter::GracePollMs);
        } else {
            EXPECT_LT(clock.now(), TUDisks2Automounter::GraceMs);
        }
    }
}

TEST_F(Automounting, BootloaderDriveIsMountedAndFoundAfterARestartInAWait)
{
    FMock->add(usbFat("sdb1", "QV58 LINK", WithProbeDetails));
    InstalledDrives installed(drives());
    FakeClock clock;
    ASSERT_EQ(findProbeDrive(), root("QV58 LINK"));

    // The probe restarts during the settle sleep and comes back as its
    // bootloader's drive, which nobody mounts.
    bool restarted = false;
    clock.onSleep = [&](quint32) {
        if (std::exchange(restarted, true))
            return;
        FMock->remove("sdb1");
        FMock->add(usbFat("sdb1", "QV58 BOOT", QJsonObject{{"DETAILS.txt", BootloaderDetails}}, JustPlugged));
    };
    const quint32 before = clock.now();
    waitForProbe();
    clock.onSleep = nullptr;

    EXPECT_EQ(findProbeDrive(), root("QV58 BOOT"));
    TQV58LinkConfig record;
    ASSERT_TRUE(readProbeDetails(root("QV58 BOOT") + DetailsLoadName, record));
    EXPECT_EQ(record.mode(), "Bootloader");
    EXPECT_EQ(FMock->calls(), (QStringList{MountCall.arg("sdb1"), MountCall.arg("sdb1")}));
    // The settle sleep, then the grace for the desktop's automounter.
    EXPECT_GE(clock.now() - before, ProbeSettleMs + TUDisks2Automounter::GraceMs);
    EXPECT_LT(clock.now() - before, ProbeSettleMs + ProbePollWindowMs);
}

TEST_F(Automounting, WithoutUDisks2DrivesAreListedAsBefore)
{
    FMock->add(usbFat("sdb1", "QV58 LINK", WithProbeDetails, {{"mounted", true}}));
    FMock->add(usbFat("sdc1", "OTHER", WithProbeDetails));
    FMock.reset();
    FakeClock clock;

    EXPECT_EQ(findProbeDrive(drives()), root("QV58 LINK"));
    EXPECT_EQ(drives().logicalDrives(), QStringList{root("QV58 LINK")});
    EXPECT_EQ(clock.slept(), 0u);
}

TEST_F(Automounting, LooksFromTwoThreadsAtOnceMountEachDriveOnce)
{
    FMock->add(usbFat("sdb1", "QV58 A", WithProbeDetails));
    FMock->add(usbFat("sdc1", "QV58 B", WithProbeDetails));
    // Long enough for both threads' looks to be on the way at the same time.
    FMock->setLookDelay(300);

    QString found[2];
    std::latch start(2);
    std::thread threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i] = std::thread([&, i] {
            start.arrive_and_wait();
            found[i] = findProbeDrive(drives());
        });
    }
    for (std::thread &thread : threads)
        thread.join();

    EXPECT_EQ(found[0], root("QV58 A"));
    EXPECT_EQ(found[1], root("QV58 A"));
    QStringList calls = FMock->calls();
    calls.sort();
    EXPECT_EQ(calls, (QStringList{MountCall.arg("sdb1"), MountCall.arg("sdc1")}));
}
