// The CPU a wait for the probe costs while the probe does not come back:
// waitForProbe's polling window of 5 seconds, at its real poll rate, on a
// machine of 300 mounts (snaps, containers, volume bind mounts, a few disks,
// a USB stick and a card that are no probe). The settle sleep before the
// window is skipped; every pause in it is really slept.
//
// Two ways of asking are measured in the same run, one after the other:
// the drive list as the tool asks it, one look at the mount table per poll,
// and as it was asked before, the list of roots and then the type of every
// root, each a look of its own. Prints CPU time as a share of one core,
// polls, CPU per poll, and the ratio of the two; then, as root, what the
// kernel writing a real mount table of that size adds.

#include "SysfsTree.h"

#include "platform/Clock.h"
#include "platform/linux/SystemDriveList.h"
#include "probe/ProbeDrive.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kMounts = 300;
constexpr double kGoalPercent = 5.0;

// The real clock, except that the settle sleep is not slept: only the
// polling window is measured.
class WindowClock final : public IClock
{
public:
    WindowClock() { Clock::setInstance(this); }
    ~WindowClock() override { Clock::setInstance(nullptr); }

    void sleep(quint32 ms) override
    {
        if (FSettled)
            QThread::msleep(ms);
        FSettled = true;
    }
    quint32 tickCount() override
    {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return quint32(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }

private:
    bool FSettled = false;
};

// Counts the looks at the drive list, one per poll.
class CountingList final : public IDriveList
{
public:
    explicit CountingList(std::function<QList<TDriveInfo>()> look)
        : FLook(std::move(look))
    {
    }
    QList<TDriveInfo> drives() override
    {
        ++polls;
        return FLook();
    }
    int polls = 0;

private:
    std::function<QList<TDriveInfo>()> FLook;
};

// The process's CPU time, in the kernel and out of it.
double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

struct Figures
{
    double wall = 0;
    double cpu = 0;
    int polls = 0;

    double percent() const { return wall > 0 ? 100.0 * cpu / wall : 0; }
    double usPerPoll() const { return polls > 0 ? 1e6 * cpu / polls : 0; }
};

Figures measureWait(std::function<QList<TDriveInfo>()> look)
{
    CountingList list(std::move(look));
    setDriveList(&list);
    WindowClock clock;
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = cpuSeconds();
    waitForProbe();
    Figures figures;
    figures.cpu = cpuSeconds() - cpuStart;
    figures.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.polls = list.polls;
    setDriveList(nullptr);
    return figures;
}

// A desktop with snaps and containers: most mounts are no drives, many are
// drives of the root disk or of a snap's loop device, two are removable
// media without the probe's details file.
int buildMachine(TSysfsTree &tree)
{
    const QString nvme = QStringLiteral("pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0");
    tree.plug(nvme, QStringLiteral("nvme0n1"), "0", {QStringLiteral("nvme0n1p1"), QStringLiteral("nvme0n1p2")});
    tree.plug(QStringLiteral("pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block"), QStringLiteral("sda"),
              "0", {QStringLiteral("sda1")});
    tree.plug(QStringLiteral("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0/block"),
              QStringLiteral("sdb"), "0", {QStringLiteral("sdb1")});
    tree.plug(QStringLiteral("pci0000:00/0000:00:1c.0/0000:02:00.0/rtsx_pci_sdmmc.0/mmc_host/mmc0/mmc0:aaaa/block"),
              QStringLiteral("mmcblk0"), "0", {QStringLiteral("mmcblk0p1")});

    int mounts = 0;
    const auto mount = [&](const QString &source, const QString &point, const QString &type,
                           const QByteArray &options = "rw") {
        tree.mount(source, point, type, options);
        ++mounts;
    };
    mount(QStringLiteral("/dev/nvme0n1p2"), QStringLiteral("/"), QStringLiteral("ext4"), "rw,errors=remount-ro");
    const char *system[][3] = {
        {"sysfs", "/sys", "sysfs"},           {"proc", "/proc", "proc"},
        {"udev", "/dev", "devtmpfs"},         {"devpts", "/dev/pts", "devpts"},
        {"tmpfs", "/run", "tmpfs"},           {"securityfs", "/sys/kernel/security", "securityfs"},
        {"tmpfs", "/dev/shm", "tmpfs"},       {"tmpfs", "/run/lock", "tmpfs"},
        {"cgroup2", "/sys/fs/cgroup", "cgroup2"}, {"pstore", "/sys/fs/pstore", "pstore"},
        {"efivarfs", "/sys/firmware/efi/efivars", "efivarfs"}, {"bpf", "/sys/fs/bpf", "bpf"},
        {"systemd-1", "/proc/sys/fs/binfmt_misc", "autofs"}, {"hugetlbfs", "/dev/hugepages", "hugetlbfs"},
        {"mqueue", "/dev/mqueue", "mqueue"},  {"debugfs", "/sys/kernel/debug", "debugfs"},
        {"tracefs", "/sys/kernel/tracing", "tracefs"}, {"fusectl", "/sys/fs/fuse/connections", "fusectl"},
        {"configfs", "/sys/kernel/config", "configfs"}, {"tmpfs", "/run/user/1000", "tmpfs"},
        {"portal", "/run/user/1000/doc", "fuse.portal"}, {"gvfsd-fuse", "/run/user/1000/gvfs", "fuse.gvfsd-fuse"},
    };
    for (const auto &line : system)
        mount(QString::fromLatin1(line[0]), QString::fromLatin1(line[1]), QString::fromLatin1(line[2]));
    mount(QStringLiteral("/dev/nvme0n1p1"), QStringLiteral("/boot/efi"), QStringLiteral("vfat"),
          "rw,fmask=0077,dmask=0077,codepage=437,iocharset=iso8859-1,shortname=mixed,errors=remount-ro");
    mount(QStringLiteral("/dev/sda1"), QStringLiteral("/data"), QStringLiteral("ext4"), "rw");
    mount(QStringLiteral("/dev/sdb1"), QStringLiteral("/media/user/STICK"), QStringLiteral("vfat"),
          "rw,uid=1000,gid=1000,fmask=0022,dmask=0022,codepage=437,iocharset=iso8859-1,shortname=mixed,"
          "errors=remount-ro");
    mount(QStringLiteral("/dev/mmcblk0p1"), QStringLiteral("/media/user/CARD"), QStringLiteral("exfat"),
          "rw,uid=1000,gid=1000,fmask=0022,dmask=0022,iocharset=utf8,errors=remount-ro");
    tree.write(QStringLiteral("media/user/STICK/notes.txt"), "not a probe\n");
    tree.write(QStringLiteral("media/user/STICK/photo.jpg"), "x");
    tree.write(QStringLiteral("media/user/CARD/DCIM/100/IMG_0001.JPG"), "x");

    // Snaps: one loop device each.
    for (int i = 0; i < 80; ++i) {
        const QString loop = QStringLiteral("loop%1").arg(i);
        tree.plug(QStringLiteral("virtual/block"), loop, "0");
        mount(QStringLiteral("/dev/") + loop, QStringLiteral("/snap/snap%1/%2").arg(i / 2).arg(1000 + i),
              QStringLiteral("squashfs"), "ro,errors=continue,threads=single");
    }
    // Containers: a root of their own, a network namespace and a shared-memory folder each.
    for (int i = 0; mounts < kMounts - 60 - 20; ++i) {
        const QString id = QStringLiteral("%1").arg(i * 7919 + 104729, 12, 16, QLatin1Char('0'));
        const QByteArray layer = "/var/lib/docker/overlay2/l/" + id.toLatin1();
        const QByteArray own = "/var/lib/docker/overlay2/" + id.toLatin1();
        const QByteArray overlay = "rw,lowerdir=" + layer + "A:" + layer + "B:" + layer + "C,upperdir=" + own
                                   + "/diff,workdir=" + own + "/work,nouserxattr";
        const int kind = i % 3;
        if (kind == 0)
            mount(QStringLiteral("overlay"), QStringLiteral("/var/lib/docker/overlay2/%1/merged").arg(id),
                  QStringLiteral("overlay"), overlay);
        else if (kind == 1)
            mount(QStringLiteral("nsfs"), QStringLiteral("/run/docker/netns/%1").arg(id), QStringLiteral("nsfs"));
        else
            mount(QStringLiteral("shm"), QStringLiteral("/var/lib/docker/containers/%1/mounts/shm").arg(id),
                  QStringLiteral("tmpfs"), "rw,size=65536k,inode64");
    }
    // Pod volumes: bind mounts of the root disk, and secrets in RAM.
    for (int i = 0; i < 60; ++i)
        mount(QStringLiteral("/dev/nvme0n1p2"),
              QStringLiteral("/var/lib/kubelet/pods/%1/volume-subpaths/config/app/%2").arg(i / 3).arg(i % 3),
              QStringLiteral("ext4"), "rw,errors=remount-ro");
    for (int i = 0; i < 20; ++i)
        mount(QStringLiteral("tmpfs"),
              QStringLiteral("/var/lib/kubelet/pods/%1/volumes/kubernetes.io~projected/kube-api-access").arg(i),
              QStringLiteral("tmpfs"), "rw,size=3912600k,inode64");
    return mounts;
}

constexpr int kReads = 300;

// CPU per read of a mount table, read whole.
double usPerRead(const QByteArray &path, int *lines = nullptr)
{
    const double start = cpuSeconds();
    int count = 0;
    for (int i = 0; i < kReads; ++i) {
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        char buffer[16384];
        count = 0;
        for (ssize_t got; fd >= 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0;)
            count += int(std::count(buffer, buffer + got, '\n'));
        if (fd >= 0)
            ::close(fd);
    }
    if (lines)
        *lines = count;
    return 1e6 * (cpuSeconds() - start) / kReads;
}

// CPU per look of the drive list at its mount table alone: the type of a
// root that is no mount point asks for every line and no block device.
double usPerLook(TSystemDriveList &list)
{
    const double start = cpuSeconds();
    for (int i = 0; i < kReads; ++i)
        list.driveType(QStringLiteral("/no/such/mount/point/"));
    return 1e6 * (cpuSeconds() - start) / kReads;
}

// The kernel writes /proc/self/mountinfo afresh on every read, at a cost
// that grows with its lines and that a fixture file does not show. As root,
// this process grows its own table to kMounts lines in a mount namespace of
// its own (RAM disks, gone with the namespace) and times reading it, and the
// drive list's look at it, which reads it again only when it changed.
struct KernelTable
{
    int lines = 0;
    double usPerRead = 0;
    double usPerLook = 0;
};

std::optional<KernelTable> kernelTable(const QString &scratch)
{
    const QByteArray table = "/proc/self/mountinfo";
    int lines = 0;
    usPerRead(table, &lines);
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::nullopt;
    QStringList points;
    for (int i = lines; i < kMounts; ++i) {
        const QString point = QStringLiteral("%1/m%2").arg(scratch).arg(i);
        QDir().mkpath(point);
        if (::mount("bench", QFile::encodeName(point).constData(), "tmpfs", 0, "size=4k") != 0)
            break;
        points.append(point);
    }
    KernelTable result;
    result.usPerRead = usPerRead(table, &result.lines);
    {
        TSystemDriveList own;
        result.usPerLook = usPerLook(own);
    }
    for (const QString &point : points)
        ::umount2(QFile::encodeName(point).constData(), MNT_DETACH);
    return result;
}

QString line(const char *what, const Figures &f)
{
    return QStringLiteral("%1  %2 s wall  %3 s CPU  %4 % of one core  %5 polls  %6 us CPU per poll\n")
        .arg(QLatin1String(what), -36)
        .arg(f.wall, 0, 'f', 2)
        .arg(f.cpu, 0, 'f', 3)
        .arg(f.percent(), 5, 'f', 2)
        .arg(f.polls, 4)
        .arg(f.usPerPoll(), 7, 'f', 1);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;

    TSysfsTree tree;
    const int mounts = buildMachine(tree);
    TSystemDriveList system(tree.root());

    const QList<TDriveInfo> drives = system.drives();
    int removable = 0;
    for (const TDriveInfo &drive : drives)
        removable += drive.type == TDriveType::Removable;
    if (!findProbeDrive(system).isEmpty() || removable != 2) {
        out << "bench_wait: the machine is not as meant (a probe found, or not two removable drives)\n";
        return 1;
    }
    out << QStringLiteral("%1 mounts, %2 drives, %3 removable, no probe; poll pause %4 ms, window %5 ms, %6 round(s)\n")
               .arg(mounts)
               .arg(drives.size())
               .arg(removable)
               .arg(ProbePollPauseMs)
               .arg(ProbePollWindowMs)
               .arg(rounds);

    // The way before: the roots, then a look of its own for each root's type.
    const auto rootsThenTypes = [&system] {
        QList<TDriveInfo> found;
        for (const QString &root : system.logicalDrives())
            found.append(TDriveInfo{root, system.driveType(root), QString()});
        return found;
    };

    Figures current, before;
    // Alternating, so a burst of other work on the machine does not land on one side only.
    for (int round = 0; round < rounds; ++round) {
        for (const bool old : {false, true}) {
            const Figures f = old ? measureWait(rootsThenTypes) : measureWait([&system] { return system.drives(); });
            Figures &sum = old ? before : current;
            sum.wall += f.wall;
            sum.cpu += f.cpu;
            sum.polls += f.polls;
        }
    }

    out << line("one look per poll (the tool):", current);
    out << line("roots, then a look per type (before):", before);
    out << QStringLiteral("ratio before/now, CPU per poll:        %1\n")
               .arg(before.usPerPoll() / current.usPerPoll(), 0, 'f', 1);
    out << QStringLiteral("ratio before/now, share of a core:     %1\n")
               .arg(before.percent() / current.percent(), 0, 'f', 1);

    // What the fixture cannot show: the kernel writing the table on each read.
    const double fixtureRead = usPerRead(QFile::encodeName(tree.root() + QStringLiteral("/proc/self/mountinfo")));
    const double fixtureLook = usPerLook(system);
    out << QStringLiteral("mount table, the fixture's file:      read %1 us, the drive list's look at it %2 us\n")
               .arg(fixtureRead, 6, 'f', 1)
               .arg(fixtureLook, 6, 'f', 1);
    double percent = current.percent();
    QTemporaryDir scratch;
    if (const std::optional<KernelTable> kernel = kernelTable(scratch.path())) {
        // The fixture's look at its table swapped for the look at the kernel's.
        const double pollsPerSecond = current.polls / current.wall;
        const double perPoll = current.usPerPoll() - fixtureLook + kernel->usPerLook;
        const double everyTime = current.usPerPoll() - fixtureRead + kernel->usPerRead;
        percent = perPoll * pollsPerSecond / 1e4;
        out << QStringLiteral("mount table, the kernel's (%1 lines): read %2 us, the drive list's look at it %3 us\n")
                   .arg(kernel->lines)
                   .arg(kernel->usPerRead, 6, 'f', 1)
                   .arg(kernel->usPerLook, 6, 'f', 1);
        out << QStringLiteral("a machine like the fixture, its table written by the kernel:\n");
        out << QStringLiteral("  %1 us CPU per poll, %2 % of one core (read again on every poll: %3 us, %4 %)\n")
                   .arg(perPoll, 0, 'f', 1)
                   .arg(percent, 0, 'f', 2)
                   .arg(everyTime, 0, 'f', 1)
                   .arg(everyTime * pollsPerSecond / 1e4, 0, 'f', 2);
    } else {
        out << "(not root: the kernel's own mount table is not measured)\n";
    }
    out << QStringLiteral("goal: under %1 % of one core while waiting: %2\n")
               .arg(kGoalPercent, 0, 'f', 0)
               .arg(current.percent() < kGoalPercent && percent < kGoalPercent ? QStringLiteral("met")
                                                                                : QStringLiteral("NOT met"));
    return 0;
}
