#include "platform/DriveList.h"

#include "platform/UDisks2Automounter.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <algorithm>
#include <atomic>
#include <optional>

#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

// A wait for the probe looks at the drives 50 times a second, on machines
// whose mount table has hundreds of lines (containers, snaps) and whose
// snaps are dozens of loop devices. So a look reads the mount table at most
// once (the kernel's own only when it changed) and decodes only the lines of
// block devices; sysfs is asked with plain system calls on byte paths, a few
// per block device, and each block device is described once per look however
// many mounts share it.

namespace {

// The whole of an open file, read from its start.
std::optional<QByteArray> readFromStart(int fd)
{
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return std::nullopt;
    QByteArray bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            return bytes;
        bytes.append(buffer, got);
    }
}

// True when the kernel has reported a change of the mount table open as fd
// since it last told; it reports one at most once.
bool mountTableChanged(int fd)
{
    pollfd watch{fd, POLLPRI, 0};
    int ready;
    do {
        ready = ::poll(&watch, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready != 0;
}

bool isProcFile(int fd)
{
    struct statfs info;
    return ::fstatfs(fd, &info) == 0 && info.f_type == PROC_SUPER_MAGIC;
}

// A sysfs attribute comes whole in one read.
std::optional<QByteArray> readAttribute(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char buffer[64];
    ssize_t got;
    do {
        got = ::read(fd, buffer, sizeof buffer);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    return QByteArray(buffer, got > 0 ? got : 0);
}

bool isDirectory(const QByteArray &path)
{
    struct stat info;
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool exists(const QByteArray &path)
{
    struct stat info;
    return ::stat(path.constData(), &info) == 0;
}

// The target of the symbolic link name in folder as written, or nothing
// when it is no link.
std::optional<QByteArray> linkTarget(int folder, const QByteArray &name)
{
    char buffer[4096];
    const ssize_t length = ::readlinkat(folder, name.constData(), buffer, sizeof buffer);
    if (length <= 0 || size_t(length) >= sizeof buffer)
        return std::nullopt;
    return QByteArray(buffer, length);
}

// Calls visit with each part of path between slashes, in order, empty parts
// included.
template <typename Visit>
void forEachPart(QByteArrayView path, Visit &&visit)
{
    for (qsizetype from = 0; from <= path.size();) {
        qsizetype slash = path.indexOf('/', from);
        if (slash < 0)
            slash = path.size();
        visit(path.sliced(from, slash - from));
        from = slash + 1;
    }
}

// folder joined with a relative path, "." and ".." taken out; an absolute
// path stands for itself.
QByteArray resolved(const QByteArray &folder, QByteArrayView path)
{
    QByteArray result = path.startsWith('/') ? QByteArray() : folder;
    forEachPart(path, [&](QByteArrayView part) {
        if (part.isEmpty() || part == ".")
            return;
        if (part == "..")
            result.truncate(std::max<qsizetype>(0, result.lastIndexOf('/')));
        else
            result.append('/').append(part.data(), part.size());
    });
    return result;
}

QByteArrayView parentOf(QByteArrayView path)
{
    return path.first(std::max<qsizetype>(0, path.lastIndexOf('/')));
}

QString withTrailingSlash(QString path)
{
    if (!path.endsWith(u'/'))
        path += u'/';
    return path;
}

bool isOctalDigit(char c)
{
    return c >= '0' && c <= '7';
}

bool isDecimalDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c)
{
    return isDecimalDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Consumes the digits at the front of text; false when there are none.
bool takeDigits(QByteArrayView &text, bool (*isDigit)(char) = isDecimalDigit)
{
    qsizetype length = 0;
    while (length < text.size() && isDigit(text.at(length)))
        ++length;
    text = text.sliced(length);
    return length > 0;
}

bool takeChar(QByteArrayView &text, char c)
{
    if (!text.startsWith(c))
        return false;
    text = text.sliced(1);
    return true;
}

// A USB device as the kernel names it: bus, "-", then the port on the root
// hub and the port on every hub below it, joined by ".": "1-3", "1-3.2".
bool isUsbDeviceName(QByteArrayView name)
{
    if (!takeDigits(name) || !takeChar(name, '-'))
        return false;
    do {
        if (!takeDigits(name))
            return false;
    } while (takeChar(name, '.'));
    return name.isEmpty();
}

// One of the device's interfaces, "<device>:<configuration>.<interface>";
// storage drivers bind to interfaces, so a disk on USB always hangs below one.
bool isInterfaceOf(QByteArrayView name, QByteArrayView device)
{
    if (!name.startsWith(device))
        return false;
    name = name.sliced(device.size());
    return takeChar(name, ':') && takeDigits(name) && takeChar(name, '.') && takeDigits(name) && name.isEmpty();
}

// An MMC host ("mmc0") and a card in it ("mmc0:0001", the card's address).
bool isMmcHostName(QByteArrayView name)
{
    return takeChar(name, 'm') && takeChar(name, 'm') && takeChar(name, 'c') && takeDigits(name) && name.isEmpty();
}

bool isMmcCardOf(QByteArrayView name, QByteArrayView host)
{
    if (!name.startsWith(host))
        return false;
    name = name.sliced(host.size());
    return takeChar(name, ':') && takeDigits(name, isHexDigit) && name.isEmpty();
}

struct TBus
{
    QByteArrayView usbPort; // the USB device the disk hangs below, empty when none
    bool mmc = false;
};

// Where a disk's device folder sits, read from its path alone.
TBus busOf(QByteArrayView diskFolder)
{
    TBus bus;
    QByteArrayView previous;
    forEachPart(diskFolder, [&](QByteArrayView part) {
        if (isUsbDeviceName(previous) && isInterfaceOf(part, previous))
            bus.usbPort = previous;
        else if (isMmcHostName(previous) && isMmcCardOf(part, previous))
            bus.mmc = true;
        previous = part;
    });
    return bus;
}

// The kernel's name of the block device a mount comes from, or empty when the
// source is no device node.
QByteArrayView deviceName(QByteArrayView source)
{
    if (!source.startsWith("/dev/"))
        return {};
    return source.sliced(source.lastIndexOf('/') + 1);
}

} // namespace

QString decodeMountField(QByteArrayView field)
{
    if (!field.contains('\\'))
        return QFile::decodeName(field.toByteArray());
    QByteArray bytes;
    bytes.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size() && isOctalDigit(field.at(i + 1))
            && isOctalDigit(field.at(i + 2)) && isOctalDigit(field.at(i + 3))) {
            bytes += char((field.at(i + 1) - '0') * 64 + (field.at(i + 2) - '0') * 8 + (field.at(i + 3) - '0'));
            i += 3;
        } else {
            bytes += field.at(i);
        }
    }
    return QFile::decodeName(bytes);
}

// One look at sysfs: each block device met during one call is described
// once, however many mounts share it (bind mounts of the root disk are many
// on a machine with containers), and nothing outlives the call.
class TSystemDriveList::TLook
{
public:
    explicit TLook(const TSystemDriveList &list)
        : FList(list)
        , FClassFolder(::open(list.FBlockClass.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC))
        , FVirtualBlocks(list.FSysfs + "/devices/virtual/block/")
    {
    }
    ~TLook()
    {
        if (FClassFolder >= 0)
            ::close(FClassFolder);
    }
    TLook(const TLook &) = delete;
    TLook &operator=(const TLook &) = delete;

    // The block device of that name; number is the device number a mount
    // line gives it ("7:3"), when the device is known from one.
    const TBlockDevice &device(QByteArrayView name, QByteArrayView number = {})
    {
        const QByteArray key = name.toByteArray();
        auto known = FDevices.constFind(key);
        if (known == FDevices.constEnd())
            known = FDevices.insert(key, isMountedLoopDevice(name, number) ? loopDevice(key) : describe(key));
        return *known;
    }

private:
    // A snap is a mounted loop device, and a machine may have dozens: one
    // that the mount table shows needs no look at sysfs at all. The kernel
    // gives its loop devices major number 7 and the names "loop<n>".
    static bool isMountedLoopDevice(QByteArrayView name, QByteArrayView number)
    {
        return number.startsWith("7:") && takeChar(name, 'l') && takeChar(name, 'o') && takeChar(name, 'o')
               && takeChar(name, 'p') && takeDigits(name) && name.isEmpty();
    }
    TBlockDevice loopDevice(const QByteArray &name) const
    {
        return describeDisk(FVirtualBlocks + name, QByteArray("0"));
    }

    TBlockDevice describe(const QByteArray &name);
    TBlockDevice describeDisk(const QByteArray &disk, const std::optional<QByteArray> &flag) const;
    QByteArray diskHolding(const QByteArray &partition);

    const TSystemDriveList &FList;
    const int FClassFolder; // sys/class/block, or -1 when there is none
    const QByteArray FVirtualBlocks;
    QHash<QByteArray, TBlockDevice> FDevices;
    std::optional<QStringList> FClassEntries;
};

TSystemDriveList::TBlockDevice TSystemDriveList::TLook::describe(const QByteArray &name)
{
    if (FClassFolder < 0 || name.isEmpty() || name == "." || name == ".." || name.contains('/'))
        return {};
    const QByteArray &classFolder = FList.FBlockClass;
    const QByteArray entry = classFolder + '/' + name;
    // In a real sysfs the class entry links to the device's folder below
    // sys/devices, whose path shows the buses above it. A partition's folder
    // sits inside its disk's and has no removable flag of its own.
    const std::optional<QByteArray> target = linkTarget(FClassFolder, name);
    const QByteArray folder = target ? resolved(classFolder, *target) : entry;

    // Loop devices, device mapper, RAID and RAM disks sit on no bus and never
    // have a removable medium: fixed, without asking further.
    if (target && folder.startsWith(FVirtualBlocks)) {
        const qsizetype end = folder.indexOf('/', FVirtualBlocks.size());
        return describeDisk(end < 0 ? folder : folder.first(end), QByteArray("0"));
    }

    std::optional<QByteArray> flag = readAttribute(folder + "/removable");
    if (flag)
        return describeDisk(folder, flag);
    if (exists(folder + "/partition")) {
        QByteArray disk = parentOf(folder).toByteArray();
        if (disk == classFolder)
            disk = diskHolding(name);
        if (disk.isEmpty())
            return {};
        return describeDisk(disk, readAttribute(disk + "/removable"));
    }
    if (isDirectory(folder))
        return describeDisk(folder, std::nullopt);
    return {};
}

TSystemDriveList::TBlockDevice TSystemDriveList::TLook::describeDisk(const QByteArray &disk,
                                                                     const std::optional<QByteArray> &flag) const
{
    const TBus bus = busOf(disk);
    TBlockDevice device;
    device.listed = true;
    device.type = (flag && flag->trimmed() == "1") || !bus.usbPort.isEmpty() || bus.mmc ? TDriveType::Removable
                                                                                          : TDriveType::Fixed;
    if (!bus.usbPort.isEmpty())
        device.identity = QFile::decodeName(bus.usbPort.toByteArray());
    else if (disk.startsWith(FList.FSysfs + '/'))
        device.identity = QFile::decodeName(disk.sliced(FList.FSysfs.size() + 1));
    else
        device.identity = QFile::decodeName(disk);
    return device;
}

// A tree written without links has the partition's folder both in the class
// folder and inside its disk's folder there; the class folder is listed only
// then, and once per look.
QByteArray TSystemDriveList::TLook::diskHolding(const QByteArray &partition)
{
    if (!FClassEntries) {
        FClassEntries = QDir(QFile::decodeName(FList.FBlockClass))
                            .entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    }
    for (const QString &disk : *FClassEntries) {
        const QByteArray folder = FList.FBlockClass + '/' + QFile::encodeName(disk);
        if (disk != QFile::decodeName(partition) && isDirectory(folder + '/' + partition))
            return folder;
    }
    return {};
}

TSystemDriveList::TSystemDriveList(const QString &systemRoot)
    : TSystemDriveList(systemRoot, QDir::cleanPath(systemRoot) == QStringLiteral("/")
                                       ? std::make_shared<TUDisks2Automounter>()
                                       : nullptr)
{
}

TSystemDriveList::TSystemDriveList(const QString &systemRoot, std::shared_ptr<TUDisks2Automounter> automounter)
    : FSystemRoot(systemRoot)
    , FAutomounter(std::move(automounter))
    , FBlockClass(QFile::encodeName(QDir::cleanPath(QDir(systemRoot).filePath(QStringLiteral("sys/class/block")))))
    , FSysfs(QFile::encodeName(QDir::cleanPath(QDir(systemRoot).filePath(QStringLiteral("sys")))))
    , FMountTable(QFile::encodeName(QDir(systemRoot).filePath(QStringLiteral("proc/self/mountinfo"))))
{
    FRootBase = systemRoot;
    while (FRootBase.endsWith(u'/'))
        FRootBase.chop(1);
}

// UDisks2 names mount points as the machine sees them; here they lie under
// the system root like every other mount point.
void TSystemDriveList::mountCandidates(const std::function<bool(const QString &root)> &holdsProbe)
{
    if (FAutomounter)
        FAutomounter->mountCandidates([&](const QString &mountPoint) { return holdsProbe(rootOf(mountPoint)); });
}

TSystemDriveList::TBlockDevice TSystemDriveList::blockDevice(const QString &name) const
{
    TLook look(*this);
    return look.device(QFile::encodeName(name));
}

// The lines of the mount table in text, as the processes see them: when a
// later mount covers an earlier one at the same point, only the later one is
// reachable. The lines are views into text.
QList<TSystemDriveList::TMount> TSystemDriveList::visibleMounts(const QByteArray &text)
{
    QList<TMount> mounts;
    QHash<QByteArrayView, qsizetype> byPoint;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        const QByteArrayView line(text.constData() + start, end - start);
        start = end + 1;

        // id parent major:minor root mount-point options [optional…] - fstype source super-options
        // Only the device number, the mount point and what follows the "-"
        // are needed; no field holds a blank, the kernel writes it as \040.
        qsizetype from = 0; // the mount point's start, after four blanks
        qsizetype device = -1;
        for (int blanks = 0; blanks < 4 && from >= 0; ++blanks) {
            const qsizetype blank = line.indexOf(' ', from);
            from = blank < 0 ? -1 : blank + 1;
            if (blanks == 1)
                device = from;
        }
        const qsizetype pointEnd = from < 0 ? -1 : line.indexOf(' ', from);
        const qsizetype dash = pointEnd < 0 ? -1 : line.indexOf(" - ", pointEnd + 1);
        if (dash < 0)
            continue;
        const qsizetype typeEnd = line.indexOf(' ', dash + 3);
        if (typeEnd < 0)
            continue;
        qsizetype sourceEnd = line.indexOf(' ', typeEnd + 1);
        if (sourceEnd < 0)
            sourceEnd = line.size();
        const TMount mount{line.sliced(device, line.indexOf(' ', device) - device),
                           line.sliced(from, pointEnd - from),
                           line.sliced(typeEnd + 1, sourceEnd - typeEnd - 1),
                           line.sliced(dash + 3, typeEnd - dash - 3)};
        const auto seen = byPoint.constFind(mount.point);
        if (seen != byPoint.constEnd()) {
            mounts[*seen] = mount;
        } else {
            byPoint.insert(mount.point, mounts.size());
            mounts.append(mount);
        }
    }
    return mounts;
}

TSystemDriveList::~TSystemDriveList()
{
    if (FTableFile >= 0)
        ::close(FTableFile);
}

QByteArray TSystemDriveList::mountTable() const
{
    const QMutexLocker lock(&FTableLock);
    if (FTableFile >= 0) {
        // An error counts as a change: the table is read again.
        if (!mountTableChanged(FTableFile))
            return FTableText;
        if (const std::optional<QByteArray> text = readFromStart(FTableFile)) {
            FTableText = *text;
            return FTableText;
        }
        ::close(FTableFile);
        FTableFile = -1;
        FTableText.clear();
    }
    const int fd = ::open(FMountTable.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    // A change from here on is reported at the next look, so none is missed
    // between this read and the next.
    const std::optional<QByteArray> text = readFromStart(fd);
    if (text && isProcFile(fd)) {
        FTableFile = fd;
        FTableText = *text;
    } else {
        ::close(fd);
    }
    return text.value_or(QByteArray());
}

QString TSystemDriveList::rootOf(const QString &mountPoint) const
{
    return withTrailingSlash(FRootBase + mountPoint);
}

TDriveType TSystemDriveList::typeOf(const TMount &mount, TLook &look) const
{
    const TBlockDevice &device = look.device(deviceName(mount.source), mount.device);
    if (device.listed)
        return device.type;
    const QByteArrayView type = mount.fsType;
    if (type.startsWith("nfs") || type == "cifs" || type == "smb3" || type == "fuse.sshfs")
        return TDriveType::Remote;
    if (type == "tmpfs" || type == "ramfs")
        return TDriveType::RamDisk;
    return TDriveType::Unknown;
}

TDriveType TSystemDriveList::driveType(const QString &root)
{
    const QByteArray text = mountTable();
    for (const TMount &mount : visibleMounts(text)) {
        if (rootOf(decodeMountField(mount.point)) == root) {
            TLook look(*this);
            return typeOf(mount, look);
        }
    }
    return TDriveType::NoRootDir;
}

// The listed drives are the mounted block devices; other mounts are no
// drives, as a network share or a RAM disk is no drive letter's.
QList<TDriveInfo> TSystemDriveList::drives()
{
    const QByteArray text = mountTable();
    TLook look(*this);
    QList<std::pair<QString, TDriveInfo>> found;
    for (const TMount &mount : visibleMounts(text)) {
        const QByteArrayView name = deviceName(mount.source);
        if (name.isEmpty())
            continue;
        const TBlockDevice &device = look.device(name, mount.device);
        if (!device.listed)
            continue;
        const QString point = decodeMountField(mount.point);
        found.append({point, TDriveInfo{rootOf(point), device.type, device.identity}});
    }
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<TDriveInfo> result;
    result.reserve(found.size());
    for (const auto &drive : found)
        result.append(drive.second);
    return result;
}

TFolderDriveList::TFolderDriveList(const QString &folders)
{
    for (const QString &folder : folders.split(u':', Qt::SkipEmptyParts))
        FRoots.append(withTrailingSlash(QDir::cleanPath(QDir::current().absoluteFilePath(folder))));
}

QList<TDriveInfo> TFolderDriveList::drives()
{
    QList<TDriveInfo> present;
    for (const QString &root : FRoots) {
        if (QFileInfo(root).isDir())
            present.append(TDriveInfo{root, TDriveType::Removable, root});
    }
    return present;
}

QStringList IDriveList::logicalDrives()
{
    QStringList roots;
    for (const TDriveInfo &drive : drives())
        roots.append(drive.root);
    return roots;
}

TDriveType IDriveList::driveType(const QString &root)
{
    for (const TDriveInfo &drive : drives()) {
        if (drive.root == root)
            return drive.type;
    }
    return TDriveType::NoRootDir;
}

namespace {

// QV58LINK_DRIVES as it reads at each look, so a test or the demo may change
// it while the tool runs; nothing is kept between looks, so threads share it
// safely.
class TEnvironmentDriveList final : public IDriveList
{
public:
    QList<TDriveInfo> drives() override { return TFolderDriveList(qEnvironmentVariable("QV58LINK_DRIVES")).drives(); }
};

std::atomic<IDriveList *> installedList = nullptr;

} // namespace

void setDriveList(IDriveList *list)
{
    installedList = list;
}

IDriveList &driveList()
{
    if (IDriveList *installed = installedList.load())
        return *installed;
    if (qEnvironmentVariableIsSet("QV58LINK_DRIVES")) {
        static TEnvironmentDriveList folders;
        return folders;
    }
    static TSystemDriveList system;
    return system;
}
