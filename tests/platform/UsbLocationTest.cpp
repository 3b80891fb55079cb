#include "platform/UsbLocation.h"

#include <gtest/gtest.h>

namespace {

const QString Root = QStringLiteral("PCIROOT(0)#PCI(1400)#USBROOT(0)");
const QString AcpiPath = QStringLiteral("ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS03)");

// The nodes above a USB device: its hub's port, the root hub, the controller.
const QList<TDeviceNodeLocation> AboveTheDevice{
    {QStringLiteral("USB\\VID_05E3&PID_0610\\5&1A2B3C4D&0&2"), {Root + QStringLiteral("#USB(2)")},
     QStringLiteral("Port_#0002.Hub_#0001")},
    {QStringLiteral("USB\\ROOT_HUB30\\4&2B3C4D5E&0&0"), {Root}, QString()},
    {QStringLiteral("PCI\\VEN_8086&DEV_A36D&SUBSYS_00000000&REV_10\\3&11583659&0&A0"),
     {QStringLiteral("PCIROOT(0)#PCI(1400)")}, QStringLiteral("PCI bus 0, device 20, function 0")},
};

QList<TDeviceNodeLocation> withAbove(QList<TDeviceNodeLocation> nodes)
{
    nodes.append(AboveTheDevice);
    return nodes;
}

// The disk of a probe in its interface mode: mass storage on an interface of
// a composite device.
QList<TDeviceNodeLocation> compositeProbe(const QString &devicePath, const QString &information)
{
    return withAbove({
        {QStringLiteral("USBSTOR\\DISK&VEN_QV58&PROD_LINK&REV_1.0\\7&3A4B5C6D&0&0123456789&0"),
         {devicePath + QStringLiteral("#USBMI(0)#USBMSC(0)")}, QString()},
        {QStringLiteral("USB\\VID_C251&PID_F002&MI_00\\6&2C3D4E5F&0&0000"), {devicePath + QStringLiteral("#USBMI(0)")},
         QStringLiteral("0000.0014.0000.003.002.000.000.000.000")},
        {QStringLiteral("USB\\VID_C251&PID_F002\\0123456789"), {AcpiPath, devicePath}, information},
    });
}

// The same probe in its bootloader: another device, mass storage only.
QList<TDeviceNodeLocation> plainProbe(const QString &devicePath, const QString &information)
{
    return withAbove({
        {QStringLiteral("USBSTOR\\DISK&VEN_QV58&PROD_BOOT&REV_1.0\\8&1F2E3D4C&0"), {}, QString()},
        {QStringLiteral("USB\\VID_C251&PID_F00A\\7&2D3E4F50&0&3"), {devicePath}, information},
    });
}

} // namespace

// The port is what a probe keeps across its restarts, whatever device it
// comes back as; probes on other ports, also behind the same hub, differ.
TEST(UsbPortLocation, NamesThePortOfTheUsbDeviceTheDiskIsOn)
{
    const QString port3 = Root + QStringLiteral("#USB(2)#USB(3)");
    const QString port4 = Root + QStringLiteral("#USB(2)#USB(4)");
    const struct
    {
        const char *name;
        QList<TDeviceNodeLocation> chain;
        QString location;
    } cases[] = {
        {"composite, paths", compositeProbe(port3, QStringLiteral("Port_#0003.Hub_#0002")), "usb:" + port3},
        {"plain, paths", plainProbe(port3, QStringLiteral("Port_#0003.Hub_#0002")), "usb:" + port3},
        {"composite, next port", compositeProbe(port4, QStringLiteral("Port_#0004.Hub_#0002")), "usb:" + port4},
        {"composite, no paths", compositeProbe(QString(), QStringLiteral("Port_#0003.Hub_#0002")),
         "usb:Port_#0003.Hub_#0002"},
        {"plain, no paths", plainProbe(QString(), QStringLiteral("Port_#0003.Hub_#0002")), "usb:Port_#0003.Hub_#0002"},
        // Nothing told of the device's own port: the hub's would be shared
        // by every probe behind it.
        {"composite, nothing", compositeProbe(QString(), QString()), QString()},
        {"plain, nothing", plainProbe(QString(), QStringLiteral("USB Mass Storage")), QString()},
        // A disk on no USB device has no port, whatever its path says.
        {"SATA disk",
         {{QStringLiteral("SCSI\\DISK&VEN_&PROD_SSD\\4&2A3B4C5D&0&000000"),
           {QStringLiteral("PCIROOT(0)#PCI(1700)#ATA(C0T0L0)")}, QStringLiteral("Bus Number 0, Target Id 0, LUN 0")},
          {QStringLiteral("PCI\\VEN_8086&DEV_A352&SUBSYS_00000000&REV_10\\3&11583659&0&B8"),
           {QStringLiteral("PCIROOT(0)#PCI(1700)")}, QString()}},
         QString()},
        {"empty", {}, QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(usbPortLocation(c.chain).toStdString(), c.location.toStdString());
    }
}
