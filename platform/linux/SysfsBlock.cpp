#include "platform/linux/SysfsBlock.h"

#include <QDir>
#include <QFile>
#include <algorithm>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// sysfs is asked with plain system calls on byte paths, a few per block
// device: a wait for the probe looks 50 times a second, on machines whose
// snaps are dozens of loop devices.

namespace {

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

// A snap is a mounted loop device, and a machine may have dozens: one that
// the mount table shows needs no look at sysfs at all. The kernel gives its
// loop devices major number 7 and the names "loop<n>".
bool isMountedLoopDevice(QByteArrayView name, QByteArrayView number)
{
    return number.startsWith("7:") && takeChar(name, 'l') && takeChar(name, 'o') && takeChar(name, 'o')
           && takeChar(name, 'p') && takeDigits(name) && name.isEmpty();
}

} // namespace

TSysfsLook::TSysfsLook(const QByteArray &sysfs, const QByteArray &blockClass)
    : FSysfs(sysfs)
    , FBlockClass(blockClass)
    , FClassFolder(::open(blockClass.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC))
    , FVirtualBlocks(sysfs + "/devices/virtual/block/")
{
}

TSysfsLook::~TSysfsLook()
{
    if (FClassFolder >= 0)
        ::close(FClassFolder);
}

const TBlockDevice &TSysfsLook::device(QByteArrayView name, QByteArrayView number)
{
    const QByteArray key = name.toByteArray();
    auto known = FDevices.constFind(key);
    if (known == FDevices.constEnd())
        known = FDevices.insert(key, isMountedLoopDevice(name, number) ? loopDevice(key) : describe(key));
    return *known;
}

TBlockDevice TSysfsLook::loopDevice(const QByteArray &name) const
{
    return describeDisk(FVirtualBlocks + name, QByteArray("0"));
}

TBlockDevice TSysfsLook::describe(const QByteArray &name)
{
    if (FClassFolder < 0 || name.isEmpty() || name == "." || name == ".." || name.contains('/'))
        return {};
    const QByteArray &classFolder = FBlockClass;
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

TBlockDevice TSysfsLook::describeDisk(const QByteArray &disk, const std::optional<QByteArray> &flag) const
{
    const TBus bus = busOf(disk);
    TBlockDevice device;
    device.listed = true;
    device.type = (flag && flag->trimmed() == "1") || !bus.usbPort.isEmpty() || bus.mmc ? TDriveType::Removable
                                                                                          : TDriveType::Fixed;
    if (!bus.usbPort.isEmpty())
        device.identity = QFile::decodeName(bus.usbPort.toByteArray());
    else if (disk.startsWith(FSysfs + '/'))
        device.identity = QFile::decodeName(disk.sliced(FSysfs.size() + 1));
    else
        device.identity = QFile::decodeName(disk);
    return device;
}

// A tree written without links has the partition's folder both in the class
// folder and inside its disk's folder there; the class folder is listed only
// then, and once per look.
QByteArray TSysfsLook::diskHolding(const QByteArray &partition)
{
    if (!FClassEntries) {
        FClassEntries = QDir(QFile::decodeName(FBlockClass))
                            .entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    }
    for (const QString &disk : *FClassEntries) {
        const QByteArray folder = FBlockClass + '/' + QFile::encodeName(disk);
        if (disk != QFile::decodeName(partition) && isDirectory(folder + '/' + partition))
            return folder;
    }
    return {};
}
