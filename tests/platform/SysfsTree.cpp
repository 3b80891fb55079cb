#include "SysfsTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

TSysfsTree::TSysfsTree()
{
    writeMountTable();
    QDir(root()).mkpath(QStringLiteral("sys/class/block"));
}

QString TSysfsTree::driveRoot(const QString &mountPoint) const
{
    return mountPoint == u"/" ? root() + u'/' : root() + mountPoint + u'/';
}

bool TSysfsTree::write(const QString &path, const QByteArray &bytes)
{
    const QString full = root() + u'/' + path;
    QDir().mkpath(QFileInfo(full).path());
    QFile file(full);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool TSysfsTree::link(const QString &target, const QString &linkPath)
{
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(root() + u'/' + linkPath).constData())
           == 0;
}

void TSysfsTree::plug(const QString &parent, const QString &name, const QByteArray &removable,
                      const QStringList &partitions)
{
    const QString folder = QStringLiteral("devices/") + parent + u'/' + name;
    write(QStringLiteral("sys/") + folder + QStringLiteral("/removable"), removable + '\n');
    link(QStringLiteral("../../") + folder, QStringLiteral("sys/class/block/") + name);
    int number = 1;
    for (const QString &partition : partitions) {
        write(QStringLiteral("sys/%1/%2/partition").arg(folder, partition), QByteArray::number(number++) + '\n');
        link(QStringLiteral("../../%1/%2").arg(folder, partition), QStringLiteral("sys/class/block/") + partition);
    }
    FDevicePaths.append(name + u'=' + folder);
    const QStringList devices = QStringList(partitions) << name;
    for (const QString &device : devices) {
        FNumbers.insert(device, device.startsWith(u"loop") ? "7:" + device.mid(4).toLatin1()
                                                           : "8:" + QByteArray::number(FNextMinor++));
    }
}

void TSysfsTree::unplug(const QString &name)
{
    for (qsizetype i = 0; i < FDevicePaths.size(); ++i) {
        if (!FDevicePaths.at(i).startsWith(name + u'='))
            continue;
        const QString folder = FDevicePaths.at(i).mid(name.size() + 1);
        // Every class entry that leads into the disk's folder goes with it.
        const QDir classes(root() + QStringLiteral("/sys/class/block"));
        for (const QString &entry : classes.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            char target[4096];
            const ssize_t length =
                ::readlink(QFile::encodeName(classes.filePath(entry)).constData(), target, sizeof target - 1);
            const QString text = QFile::decodeName(QByteArray(target, length > 0 ? length : 0));
            if (text == QStringLiteral("../../") + folder || text.startsWith(QStringLiteral("../../") + folder + u'/'))
                QFile::remove(classes.filePath(entry));
        }
        QDir(root() + QStringLiteral("/sys/") + folder).removeRecursively();
        FDevicePaths.removeAt(i);
        return;
    }
}

void TSysfsTree::mount(const QString &source, const QString &mountPoint, const QString &fsType,
                       const QByteArray &superOptions)
{
    QDir().mkpath(root() + mountPoint);
    FLines.append(TLine{source, mountPoint, fsType, superOptions, FNextId++});
    writeMountTable();
}

void TSysfsTree::unmount(const QString &mountPoint)
{
    for (qsizetype i = FLines.size() - 1; i >= 0; --i) {
        if (FLines.at(i).mountPoint == mountPoint) {
            FLines.removeAt(i);
            break;
        }
    }
    writeMountTable();
}

void TSysfsTree::writeMountTable()
{
    QByteArray text;
    for (const TLine &line : FLines) {
        QByteArray point = QFile::encodeName(line.mountPoint);
        point.replace(' ', "\\040");
        const QString device = line.source.startsWith(u"/dev/") ? line.source.mid(5) : QString();
        const QByteArray number = FNumbers.value(device, "0:" + QByteArray::number(line.id));
        text += QByteArray::number(line.id) + " 1 " + number + " / " + point
                + " rw,relatime shared:" + QByteArray::number(line.id) + " - " + line.fsType.toUtf8() + ' '
                + QFile::encodeName(line.source) + ' ' + line.superOptions + '\n';
    }
    write(QStringLiteral("proc/self/mountinfo"), text);
}
