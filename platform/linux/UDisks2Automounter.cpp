#include "platform/linux/UDisks2Automounter.h"

#include "platform/Clock.h"

#include <QByteArrayList>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDateTime>
#include <QVariantMap>

#include <algorithm>

namespace {

const QString Service = QStringLiteral("org.freedesktop.UDisks2");
const QString ManagerPath = QStringLiteral("/org/freedesktop/UDisks2");
const QString ObjectManagerInterface = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString BlockInterface = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString FilesystemInterface = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString DriveInterface = QStringLiteral("org.freedesktop.UDisks2.Drive");

// The looks block the calling thread, which may be the window's: a daemon
// that hangs must not hold it for D-Bus's default 25 seconds, yet a busy
// machine must not cut short a daemon that merely answers late.
constexpr int QueryTimeoutMs = 5000;
constexpr int MountTimeoutMs = 15000;

using TInterfaces = QHash<QString, QVariantMap>;
using TObjects = QHash<QString, TInterfaces>;

// A device that could be the probe and that nobody has mounted.
struct TCandidate
{
    QString path;
    // Microseconds since the epoch, 0 when UDisks2 does not say.
    quint64 detected = 0;
    quint64 mediaDetected = 0;
    // Since UDisks2 saw the medium arrive; -1 when it does not say.
    qint64 ageMs = -1;
};

// GetManagedObjects, without starting UDisks2 where it is not running.
bool managedObjects(const QDBusConnection &bus, TObjects &objects)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, ManagerPath, ObjectManagerInterface, QStringLiteral("GetManagedObjects"));
    call.setAutoStartService(false);
    const QDBusMessage reply = bus.call(call, QDBus::Block, QueryTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QStringLiteral("a{oa{sa{sv}}}"))
        return false;
    const QDBusArgument argument = reply.arguments().constFirst().value<QDBusArgument>();
    argument.beginMap();
    while (!argument.atEnd()) {
        QDBusObjectPath path;
        TInterfaces interfaces;
        argument.beginMapEntry();
        argument >> path;
        argument.beginMap();
        while (!argument.atEnd()) {
            QString name;
            QVariantMap properties;
            argument.beginMapEntry();
            argument >> name >> properties;
            argument.endMapEntry();
            interfaces.insert(name, properties);
        }
        argument.endMap();
        argument.endMapEntry();
        objects.insert(path.path(), interfaces);
    }
    argument.endMap();
    return true;
}

// Filesystem.MountPoints is an array of byte strings; anything that cannot
// be read as one counts as mounted, so that it is left alone.
bool isMounted(const QVariantMap &filesystem)
{
    const QVariant points = filesystem.value(QStringLiteral("MountPoints"));
    if (points.metaType() == QMetaType::fromType<QByteArrayList>())
        return !points.value<QByteArrayList>().isEmpty();
    if (points.metaType() != QMetaType::fromType<QDBusArgument>())
        return true;
    const QDBusArgument argument = points.value<QDBusArgument>();
    if (argument.currentSignature() != QStringLiteral("aay"))
        return true;
    argument.beginArray();
    const bool any = !argument.atEnd();
    argument.endArray();
    return any;
}

QString objectPathOf(const QVariant &value)
{
    return value.metaType() == QMetaType::fromType<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path() : QString();
}

// USB block devices with a FAT file system that nobody has mounted. A card
// in a built-in reader ("sdio") is not the probe, which only ever comes over
// USB; nor is anything UDisks2 is told to hide.
QList<TCandidate> unmountedCandidates(const TObjects &objects)
{
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    QList<TCandidate> candidates;
    for (auto object = objects.constBegin(); object != objects.constEnd(); ++object) {
        const auto block = object->constFind(BlockInterface);
        const auto filesystem = object->constFind(FilesystemInterface);
        if (block == object->constEnd() || filesystem == object->constEnd())
            continue;
        if (block->value(QStringLiteral("IdType")).toString() != QStringLiteral("vfat")
            || block->value(QStringLiteral("HintIgnore")).toBool() || isMounted(*filesystem))
            continue;
        const auto drive = objects.constFind(objectPathOf(block->value(QStringLiteral("Drive"))));
        if (drive == objects.constEnd() || !drive->contains(DriveInterface))
            continue;
        const QVariantMap &properties = *drive->constFind(DriveInterface);
        if (properties.value(QStringLiteral("ConnectionBus")).toString() != QStringLiteral("usb"))
            continue;
        const quint64 detected = properties.value(QStringLiteral("TimeDetected")).toULongLong();
        const quint64 mediaDetected = properties.value(QStringLiteral("TimeMediaDetected")).toULongLong();
        const qint64 mediaMs = qint64(mediaDetected / 1000);
        candidates.append({object.key(), detected, mediaDetected,
                           mediaDetected != 0 && mediaMs <= nowMs ? nowMs - mediaMs : qint64(-1)});
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const TCandidate &a, const TCandidate &b) { return a.path < b.path; });
    return candidates;
}

// Mount and Unmount take options only; no password dialog may pop up in
// the middle of a look, so a mount that would need one is simply refused.
QDBusMessage filesystemCall(const QString &path, const QString &method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, path, FilesystemInterface, method);
    call << QVariantMap{{QStringLiteral("auth.no_user_interaction"), true}};
    call.setAutoStartService(false);
    return call;
}

} // namespace

void TUDisks2Automounter::mountCandidates(const std::function<bool(const QString &mountPoint)> &holdsProbe)
{
    const std::lock_guard<std::mutex> lock(FLock);
    // One connection for the process, which every look shares; the lock keeps
    // them one at a time, whatever thread they come from.
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;

    const quint32 start = Clock::tickCount();
    for (;;) {
        TObjects objects;
        if (!managedObjects(bus, objects))
            return;
        const QList<TCandidate> candidates = unmountedCandidates(objects);

        // What is gone, or plugged in anew, starts afresh; so does a device
        // that someone else has mounted meanwhile. What was refused or held
        // no probe stays remembered while it is plugged in, so it is not
        // mounted again at every poll.
        for (auto seen = FSeen.begin(); seen != FSeen.end();) {
            const auto candidate = std::find_if(candidates.cbegin(), candidates.cend(),
                                                [&](const TCandidate &c) { return c.path == seen.key(); });
            const bool present = objects.contains(seen.key());
            const bool remembered = seen->outcome == TOutcome::NoProbe || seen->outcome == TOutcome::Refused;
            const bool stale = candidate != candidates.cend()
                                   ? candidate->detected != seen->detected
                                         || candidate->mediaDetected != seen->mediaDetected
                                   : !present || !remembered;
            if (stale)
                seen = FSeen.erase(seen);
            else
                ++seen;
        }

        const quint32 now = Clock::tickCount();
        quint32 wait = 0;
        for (const TCandidate &candidate : candidates) {
            auto seen = FSeen.find(candidate.path);
            if (seen == FSeen.end())
                seen = FSeen.insert(candidate.path,
                                    TSeen{candidate.detected, candidate.mediaDetected, now, TOutcome::Waiting});
            if (seen->outcome != TOutcome::Waiting)
                continue;
            const qint64 age = std::max<qint64>(quint32(now - seen->firstSeen), candidate.ageMs);
            if (age < GraceMs) {
                const quint32 left = quint32(GraceMs - age);
                wait = wait == 0 ? left : std::min(wait, left);
                continue;
            }

            const QDBusMessage mounted = bus.call(filesystemCall(candidate.path, QStringLiteral("Mount")),
                                                  QDBus::Block, MountTimeoutMs);
            const QString mountPoint = mounted.type() == QDBusMessage::ReplyMessage && !mounted.arguments().isEmpty()
                                           ? mounted.arguments().constFirst().toString()
                                           : QString();
            if (mountPoint.isEmpty()) {
                seen->outcome = TOutcome::Refused;
            } else if (holdsProbe(mountPoint)) {
                seen->outcome = TOutcome::Kept;
            } else {
                bus.call(filesystemCall(candidate.path, QStringLiteral("Unmount")), QDBus::Block, MountTimeoutMs);
                seen->outcome = TOutcome::NoProbe;
            }
        }

        // About one grace per look at most: a device first seen in this look
        // is due within it, and whatever keeps arriving later is for the next.
        if (wait == 0 || quint32(Clock::tickCount() - start) >= GraceMs + GracePollMs)
            return;
        Clock::sleep(std::min(wait, GracePollMs));
    }
}
