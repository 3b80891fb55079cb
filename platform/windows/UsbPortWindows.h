#pragma once

#include <QString>

// The USB port of the volume with that drive letter root ("E:\"), as
// usbPortLocation gives it; empty when Windows does not tell it or the drive
// is on no USB device.
QString usbPortOfVolume(const QString &root);
