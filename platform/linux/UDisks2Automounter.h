#pragma once

#include <QHash>
#include <QString>

#include <functional>
#include <mutex>

// Stands in for a desktop's automounter while the tool looks for the probe,
// for machines that have none (a bare window manager, a session over SSH):
// a USB drive with a FAT file system that nobody has mounted is mounted
// through UDisks2 on the system bus, as the user's own mount, and unmounted
// again at once when it turns out to hold no probe. Nothing else is ever
// mounted, and nothing that someone else mounted is ever unmounted.
//
// Without a system bus, or without UDisks2 on it, a look does nothing and
// costs no time. Safe to call from several threads at once: the looks are
// taken one after the other.
class TUDisks2Automounter
{
public:
    // A device is mounted only once it has been unmounted for this long, so
    // that a desktop's own automounter, where there is one, gets there first.
    // The age counts from the moment UDisks2 saw the medium arrive, or, where
    // it does not say, from the first look that saw the device.
    static constexpr quint32 GraceMs = 1000;
    // While a device waits out its grace, how often to look whether someone
    // else has mounted it in the meantime.
    static constexpr quint32 GracePollMs = 100;

    TUDisks2Automounter() = default;
    TUDisks2Automounter(const TUDisks2Automounter &) = delete;
    TUDisks2Automounter &operator=(const TUDisks2Automounter &) = delete;

    // One look. Devices past their grace are mounted; one still within it is
    // waited for, at most one grace per call, so that a single look (Refresh)
    // also finds a drive that appeared a moment ago. After each mount,
    // holdsProbe gets the mount point as UDisks2 names it ("/media/user/X");
    // false unmounts it again. A device that was refused (say by polkit) or
    // that held no probe is left alone for as long as it stays plugged in.
    void mountCandidates(const std::function<bool(const QString &mountPoint)> &holdsProbe);

private:
    enum class TOutcome { Waiting, Kept, NoProbe, Refused };
    struct TSeen
    {
        // When UDisks2 saw the drive and its medium arrive: a device plugged
        // in again under the same object path, as the probe is after each
        // restart, is a new one.
        quint64 detected = 0;
        quint64 mediaDetected = 0;
        quint32 firstSeen = 0;
        TOutcome outcome = TOutcome::Waiting;
    };

    std::mutex FLock;
    // By UDisks2 object path.
    QHash<QString, TSeen> FSeen;
};
