#include "platform/UsbLocation.h"

#include <QRegularExpression>

namespace {

// A USB device proper, not one of the interfaces of a composite device
// ("…&MI_00"), nor the mass storage node below it ("USBSTOR\…").
bool isUsbDevice(const QString &instanceId)
{
    return instanceId.startsWith(QStringLiteral("USB\\"), Qt::CaseInsensitive)
        && !instanceId.contains(QStringLiteral("&MI_"), Qt::CaseInsensitive);
}

// The path cut after its last "USB(n)" element, so that what the storage
// stack or a composite device adds below the port ("#USBMI(0)#…") does not
// count: a probe that comes back from a restart as another kind of device
// still gives the same text. Empty when the path passes through no port.
QString pathToPort(const QString &path)
{
    const QStringList elements = path.split(u'#');
    for (qsizetype i = elements.size(); i-- > 0;) {
        if (elements.at(i).startsWith(QStringLiteral("USB("), Qt::CaseInsensitive))
            return elements.first(i + 1).join(u'#');
    }
    return {};
}

} // namespace

QString usbPortLocation(const QList<TDeviceNodeLocation> &chain)
{
    qsizetype end = 0;
    while (end < chain.size() && !isUsbDevice(chain.at(end).instanceId))
        ++end;
    if (end == chain.size())
        return {};
    const QList<TDeviceNodeLocation> below = chain.first(end + 1);

    // Location paths name the whole way from the root bus, so they are
    // preferred over the hub-relative port number wherever any node has one.
    for (const TDeviceNodeLocation &node : below) {
        for (const QString &path : node.locationPaths) {
            const QString port = pathToPort(path);
            if (!port.isEmpty())
                return QStringLiteral("usb:") + port;
        }
    }
    // The port number is told by the hub the device sits on, so only the
    // device's own text names its port.
    static const QRegularExpression portOnHub(QStringLiteral("^Port_#\\d+\\.Hub_#\\d+$"));
    const QString &information = below.last().locationInformation;
    if (portOnHub.match(information).hasMatch())
        return QStringLiteral("usb:") + information;
    return {};
}
