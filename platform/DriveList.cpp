#include "platform/DriveList.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <algorithm>
#include <atomic>
#include <optional>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Plain system calls: a wait reads these files many times a second, and
// sysfs attributes and /proc files are read whole in one go anyway.
std::optional<QByteArray> readWholeFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        bytes.append(buffer, got);
    }
    ::close(fd);
    return bytes;
}

bool isDirectory(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool exists(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0;
}

// The target of a symbolic link as written, or empty when path is no link.
QString linkTarget(const QString &path)
{
    char buffer[4096];
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    if (length <= 0 || size_t(length) >= sizeof buffer)
        return {};
    return QFile::decodeName(QByteArray(buffer, length));
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

bool isDecimalDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isHexDigit(QChar c)
{
    return isDecimalDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Consumes the digits at the front of text; false when there are none.
bool takeDigits(QStringView &text, bool (*isDigit)(QChar) = isDecimalDigit)
{
    qsizetype length = 0;
    while (length < text.size() && isDigit(text.at(length)))
        ++length;
    text = text.mid(length);
    return length > 0;
}

// A USB device as the kernel names it: bus, "-", then the port on the root
// hub and the port on every hub below it, joined by ".": "1-3", "1-3.2".
bool isUsbDeviceName(QStringView name)
{
    if (!takeDigits(name) || !name.startsWith(u'-'))
        return false;
    name = name.mid(1);
    for (;;) {
        if (!takeDigits(name))
            return false;
        if (name.isEmpty())
            return true;
        if (!name.startsWith(u'.'))
            return false;
        name = name.mid(1);
    }
}

// One of the device's interfaces, "<device>:<configuration>.<interface>";
// storage drivers bind to interfaces, so a disk on USB always hangs below one.
bool isInterfaceOf(QStringView name, QStringView device)
{
    if (!name.startsWith(device) || name.mid(device.size()).left(1) != u":")
        return false;
    name = name.mid(device.size() + 1);
    if (!takeDigits(name) || !name.startsWith(u'.'))
        return false;
    name = name.mid(1);
    return takeDigits(name) && name.isEmpty();
}

// An MMC host ("mmc0") and a card in it ("mmc0:0001", the card's address).
bool isMmcHostName(QStringView name)
{
    if (!name.startsWith(u"mmc"))
        return false;
    name = name.mid(3);
    return takeDigits(name) && name.isEmpty();
}

bool isMmcCardOf(QStringView name, QStringView host)
{
    if (!name.startsWith(host) || name.mid(host.size()).left(1) != u":")
        return false;
    name = name.mid(host.size() + 1);
    return takeDigits(name, isHexDigit) && name.isEmpty();
}

struct TBus
{
    QString usbPort; // the USB device the disk hangs below, empty when none
    bool mmc = false;
};

// Where a disk's device folder sits, read from its path alone.
TBus busOf(const QString &diskFolder)
{
    TBus bus;
    const QList<QStringView> parts = QStringView(diskFolder).split(u'/', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        if (isUsbDeviceName(parts.at(i)) && isInterfaceOf(parts.at(i + 1), parts.at(i)))
            bus.usbPort = parts.at(i).toString();
        else if (isMmcHostName(parts.at(i)) && isMmcCardOf(parts.at(i + 1), parts.at(i)))
            bus.mmc = true;
    }
    return bus;
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
    {
    }

    const TBlockDevice &device(const QString &name)
    {
        auto known = FDevices.constFind(name);
        if (known == FDevices.constEnd())
            known = FDevices.insert(name, describe(name));
        return *known;
    }

private:
    TBlockDevice describe(const QString &name);
    QString diskHolding(const QString &partition);

    const TSystemDriveList &FList;
    QHash<QString, TBlockDevice> FDevices;
    std::optional<QStringList> FClassEntries;
};

TSystemDriveList::TBlockDevice TSystemDriveList::TLook::describe(const QString &name)
{
    if (name.isEmpty() || name == u"." || name == u"..")
        return {};
    const QString entry = FList.FBlockClass + u'/' + name;
    // In a real sysfs the class entry links to the device's folder below
    // sys/devices, whose path shows the buses above it; a partition's folder
    // sits inside its disk's.
    QString folder;
    const QString target = linkTarget(entry);
    if (!target.isEmpty())
        folder = QDir::cleanPath(target.startsWith(u'/') ? target : FList.FBlockClass + u'/' + target);
    else if (isDirectory(entry))
        folder = entry;
    else
        return {};

    QString disk = folder;
    if (exists(folder + QStringLiteral("/partition"))) {
        const qsizetype slash = folder.lastIndexOf(u'/');
        disk = folder.left(slash);
        if (disk == FList.FBlockClass)
            disk = diskHolding(name);
        if (disk.isEmpty())
            return {};
    }

    const std::optional<QByteArray> flag = readWholeFile(disk + QStringLiteral("/removable"));
    if (!flag && !isDirectory(disk))
        return {};
    const TBus bus = busOf(disk);
    TBlockDevice device;
    device.listed = true;
    device.type = (flag && flag->trimmed() == "1") || !bus.usbPort.isEmpty() || bus.mmc ? TDriveType::Removable
                                                                                          : TDriveType::Fixed;
    if (!bus.usbPort.isEmpty())
        device.identity = bus.usbPort;
    else if (disk.startsWith(FList.FSysfs + u'/'))
        device.identity = disk.mid(FList.FSysfs.size() + 1);
    else
        device.identity = disk;
    return device;
}

// A tree written without links has the partition's folder both in the class
// folder and inside its disk's folder there; the class folder is listed only
// then, and once per look.
QString TSystemDriveList::TLook::diskHolding(const QString &partition)
{
    if (!FClassEntries)
        FClassEntries = QDir(FList.FBlockClass).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QString &disk : *FClassEntries) {
        const QString folder = FList.FBlockClass + u'/' + disk;
        if (disk != partition && isDirectory(folder + u'/' + partition))
            return folder;
    }
    return {};
}

TSystemDriveList::TSystemDriveList(const QString &systemRoot)
    : FSystemRoot(systemRoot)
    , FBlockClass(QDir::cleanPath(QDir(systemRoot).filePath(QStringLiteral("sys/class/block"))))
    , FSysfs(QDir::cleanPath(QDir(systemRoot).filePath(QStringLiteral("sys"))))
{
}

TSystemDriveList::TBlockDevice TSystemDriveList::blockDevice(const QString &name) const
{
    TLook look(*this);
    return look.device(name);
}

// Mount points as the processes see them: when a later mount covers an
// earlier one at the same point, only the later one is reachable.
QList<TSystemDriveList::TMount> TSystemDriveList::visibleMounts() const
{
    const QByteArray text =
        readWholeFile(QDir(FSystemRoot).filePath(QStringLiteral("proc/self/mountinfo"))).value_or(QByteArray());
    QList<TMount> mounts;
    QHash<QString, qsizetype> byPoint;
    QList<QByteArrayView> fields;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        const QByteArrayView line(text.constData() + start, end - start);
        start = end + 1;

        // id parent major:minor root mount-point options [optional…] - fstype source super-options
        fields.clear();
        for (qsizetype from = 0;;) {
            const qsizetype blank = line.indexOf(' ', from);
            fields.append(line.sliced(from, (blank < 0 ? line.size() : blank) - from));
            if (blank < 0)
                break;
            from = blank + 1;
        }
        qsizetype dash = -1;
        for (qsizetype i = 6; i < fields.size() && dash < 0; ++i) {
            if (fields.at(i) == "-")
                dash = i;
        }
        if (fields.size() < 6 || dash < 0 || dash + 2 >= fields.size())
            continue;
        TMount mount{decodeMountField(fields.at(4)), decodeMountField(fields.at(dash + 2)),
                     QString::fromUtf8(fields.at(dash + 1))};
        const auto seen = byPoint.constFind(mount.mountPoint);
        if (seen != byPoint.constEnd()) {
            mounts[*seen] = mount;
        } else {
            byPoint.insert(mount.mountPoint, mounts.size());
            mounts.append(mount);
        }
    }
    return mounts;
}

QString TSystemDriveList::rootOf(const QString &mountPoint) const
{
    QString base = FSystemRoot;
    while (base.endsWith(u'/'))
        base.chop(1);
    return withTrailingSlash(base + mountPoint);
}

namespace {

// The kernel's name of the block device a mount comes from, or empty when the
// source is no device node.
QString deviceName(const QString &source)
{
    if (!source.startsWith(QStringLiteral("/dev/")))
        return {};
    return source.mid(source.lastIndexOf(u'/') + 1);
}

} // namespace

TDriveType TSystemDriveList::typeOf(const TMount &mount, TLook &look) const
{
    const TBlockDevice &device = look.device(deviceName(mount.source));
    if (device.listed)
        return device.type;
    const QString type = mount.fsType;
    if (type.startsWith(QStringLiteral("nfs")) || type == QStringLiteral("cifs") || type == QStringLiteral("smb3")
        || type == QStringLiteral("fuse.sshfs"))
        return TDriveType::Remote;
    if (type == QStringLiteral("tmpfs") || type == QStringLiteral("ramfs"))
        return TDriveType::RamDisk;
    return TDriveType::Unknown;
}

TDriveType TSystemDriveList::driveType(const QString &root)
{
    for (const TMount &mount : visibleMounts()) {
        if (rootOf(mount.mountPoint) == root) {
            TLook look(*this);
            return typeOf(mount, look);
        }
    }
    return TDriveType::NoRootDir;
}

// The listed drives are the mounted block devices; other mounts are no
// drives, as a network share or a RAM disk is no drive letter's. The mount
// table is read once per call.
QList<TDriveInfo> TSystemDriveList::drives()
{
    TLook look(*this);
    QList<std::pair<QString, TDriveInfo>> found;
    for (const TMount &mount : visibleMounts()) {
        const TBlockDevice &device = look.device(deviceName(mount.source));
        if (device.listed)
            found.append({mount.mountPoint, TDriveInfo{rootOf(mount.mountPoint), device.type, device.identity}});
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
