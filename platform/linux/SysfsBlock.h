#pragma once

#include "platform/DriveList.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QStringList>

#include <optional>

// What sysfs tells of one block device by its kernel name ("sdb1"): whether
// the kernel lists it, whether its disk is Removable or Fixed, and its
// identity as the drive list gives it.
struct TBlockDevice
{
    bool listed = false;
    TDriveType type = TDriveType::Unknown;
    QString identity;
};

// One look at sysfs: each block device met during one call is described
// once, however many mounts share it (bind mounts of the root disk are many
// on a machine with containers), and nothing outlives the call.
//
// The devices are those of the class folder (<sysfs>/class/block). A disk's
// type and identity come from the path of its device folder below sysfs:
// Removable when its removable flag is 1 or when it hangs off a USB or MMC
// bus, identified by its USB port when it is on USB and by that path
// otherwise. Virtual block devices are Fixed without their flag being read.
class TSysfsLook
{
public:
    // sysfs is the sys folder ("/sys"), blockClass its class/block folder,
    // both without a trailing slash.
    TSysfsLook(const QByteArray &sysfs, const QByteArray &blockClass);
    ~TSysfsLook();
    TSysfsLook(const TSysfsLook &) = delete;
    TSysfsLook &operator=(const TSysfsLook &) = delete;

    // The block device of that name; number is the device number a mount
    // line gives it ("7:3"), when the device is known from one.
    const TBlockDevice &device(QByteArrayView name, QByteArrayView number = {});

private:
    TBlockDevice loopDevice(const QByteArray &name) const;
    TBlockDevice describe(const QByteArray &name);
    TBlockDevice describeDisk(const QByteArray &disk, const std::optional<QByteArray> &flag) const;
    QByteArray diskHolding(const QByteArray &partition);

    const QByteArray FSysfs;
    const QByteArray FBlockClass;
    const int FClassFolder; // sys/class/block, or -1 when there is none
    const QByteArray FVirtualBlocks;
    QHash<QByteArray, TBlockDevice> FDevices;
    std::optional<QStringList> FClassEntries;
};
