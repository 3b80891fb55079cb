#include "platform/DriveList.h"

#include "platform/UDisks2Automounter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <atomic>

namespace {

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
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

} // namespace

QString decodeMountField(const QByteArray &field)
{
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

TSystemDriveList::TSystemDriveList(const QString &systemRoot)
    : TSystemDriveList(systemRoot, QDir::cleanPath(systemRoot) == QStringLiteral("/")
                                       ? std::make_shared<TUDisks2Automounter>()
                                       : nullptr)
{
}

TSystemDriveList::TSystemDriveList(const QString &systemRoot, std::shared_ptr<TUDisks2Automounter> automounter)
    : FSystemRoot(systemRoot)
    , FAutomounter(std::move(automounter))
{
}

// UDisks2 names mount points as the machine sees them; here they lie under
// the system root like every other mount point.
void TSystemDriveList::mountCandidates(const std::function<bool(const QString &root)> &holdsProbe)
{
    if (FAutomounter)
        FAutomounter->mountCandidates([&](const QString &mountPoint) { return holdsProbe(rootOf(mountPoint)); });
}

// Mount points as the processes see them: when a later mount covers an
// earlier one at the same point, only the later one is reachable.
QList<TSystemDriveList::TMount> TSystemDriveList::visibleMounts() const
{
    const QByteArray text = readSmallFile(QDir(FSystemRoot).filePath(QStringLiteral("proc/self/mountinfo")));
    QList<TMount> mounts;
    QHash<QString, qsizetype> byPoint;
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        // id parent major:minor root mount-point options [optional…] - fstype source super-options
        const qsizetype dash = fields.indexOf(QByteArray("-"), 6);
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

// The whole disk holding a mounted device, or empty when the source is not a
// block device the kernel lists.
QString TSystemDriveList::wholeDiskOf(const QString &source) const
{
    if (!source.startsWith(QStringLiteral("/dev/")))
        return {};
    const QString name = QFileInfo(source).fileName();
    const QDir blocks(QDir(FSystemRoot).filePath(QStringLiteral("sys/class/block")));
    if (name.isEmpty() || !QFileInfo(blocks.filePath(name)).isDir())
        return {};
    if (!QFileInfo::exists(blocks.filePath(name + QStringLiteral("/partition"))))
        return name;
    // A partition's folder sits inside its disk's folder; the class entry is a
    // link to it in a real sysfs.
    const QString real = QFileInfo(blocks.filePath(name)).canonicalFilePath();
    const QString parent = QFileInfo(QFileInfo(real).path()).fileName();
    if (!parent.isEmpty() && parent != name && QFileInfo(blocks.filePath(parent + u'/' + name)).isDir())
        return parent;
    const QStringList disks = blocks.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QString &disk : disks) {
        if (disk != name && QFileInfo(blocks.filePath(disk + u'/' + name)).isDir())
            return disk;
    }
    return {};
}

QString TSystemDriveList::rootOf(const QString &mountPoint) const
{
    QString base = FSystemRoot;
    while (base.endsWith(u'/'))
        base.chop(1);
    return withTrailingSlash(base + mountPoint);
}

TDriveType TSystemDriveList::typeOf(const TMount &mount) const
{
    const QString disk = wholeDiskOf(mount.source);
    if (!disk.isEmpty()) {
        const QByteArray removable =
            readSmallFile(QDir(FSystemRoot).filePath(QStringLiteral("sys/class/block/%1/removable").arg(disk)));
        return removable.trimmed() == "1" ? TDriveType::Removable : TDriveType::Fixed;
    }
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
        if (rootOf(mount.mountPoint) == root)
            return typeOf(mount);
    }
    return TDriveType::NoRootDir;
}

// The listed drives are the mounted block devices; other mounts are no
// drives, as a network share or a RAM disk is no drive letter's.
QList<TDriveInfo> TSystemDriveList::drives()
{
    QList<TMount> mounts;
    for (const TMount &mount : visibleMounts()) {
        if (!wholeDiskOf(mount.source).isEmpty())
            mounts.append(mount);
    }
    std::sort(mounts.begin(), mounts.end(),
              [](const TMount &a, const TMount &b) { return a.mountPoint < b.mountPoint; });
    QList<TDriveInfo> result;
    for (const TMount &mount : mounts)
        result.append(TDriveInfo{rootOf(mount.mountPoint), typeOf(mount), QString()});
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
