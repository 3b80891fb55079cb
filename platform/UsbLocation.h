#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What the device tree tells of one node on the way up from a disk: its
// instance ID ("USB\VID_1234&PID_5678\…"), its location paths
// ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#…") and its location information
// ("Port_#0003.Hub_#0001"). Any of them may be missing.
struct TDeviceNodeLocation
{
    QString instanceId;
    QStringList locationPaths;
    QString locationInformation;
};

// The USB port a disk sits on, from its node and its ancestors, nearest
// first: "usb:" followed by the location path up to the port of the USB
// device, else by that device's own "Port_#….Hub_#…" text. Only nodes up to
// the first USB device count: above it are hubs, which several probes may
// share.
// Empty when the disk is on no USB device or no port is told.
QString usbPortLocation(const QList<TDeviceNodeLocation> &chain);
