#include "platform/windows/UsbPortWindows.h"

#include "platform/UsbLocation.h"

#include <memory>
#include <optional>
#include <vector>

#include <windows.h>
// Defines the interface class GUIDs of the header that follows here rather
// than taking them from a library.
#include <initguid.h>
#include <winioctl.h>
#include <cfgmgr32.h>
#include <setupapi.h>

namespace {

// Gives a system handle back with the function that frees its kind, on every
// way out; an invalid handle is not given back.
template <auto Free>
struct TFree
{
    void operator()(void *handle) const
    {
        if (handle != INVALID_HANDLE_VALUE)
            Free(handle);
    }
};
using THandle = std::unique_ptr<void, TFree<&::CloseHandle>>;
using TDeviceInfoSet = std::unique_ptr<void, TFree<&::SetupDiDestroyDeviceInfoList>>;

// The storage device number of a volume or disk. Opened with no access at
// all: nothing is read from the device, so the open neither waits on it nor
// needs rights, and the request asks for no access either.
std::optional<STORAGE_DEVICE_NUMBER> deviceNumber(const wchar_t *path)
{
    const THandle device(::CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                       nullptr));
    if (device.get() == INVALID_HANDLE_VALUE)
        return std::nullopt;
    STORAGE_DEVICE_NUMBER number{};
    DWORD returned = 0;
    if (!::DeviceIoControl(device.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number,
                           &returned, nullptr)
        || returned < sizeof number)
        return std::nullopt;
    return number;
}

// The disk node whose device number is the volume's.
std::optional<DEVINST> diskNode(const STORAGE_DEVICE_NUMBER &volume)
{
    const TDeviceInfoSet disks(
        ::SetupDiGetClassDevsW(&GUID_DEVINTERFACE_DISK, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (disks.get() == INVALID_HANDLE_VALUE)
        return std::nullopt;
    SP_DEVICE_INTERFACE_DATA diskInterface{};
    diskInterface.cbSize = sizeof diskInterface;
    for (DWORD index = 0; ::SetupDiEnumDeviceInterfaces(disks.get(), nullptr, &GUID_DEVINTERFACE_DISK, index,
                                                        &diskInterface);
         ++index) {
        DWORD needed = 0;
        ::SetupDiGetDeviceInterfaceDetailW(disks.get(), &diskInterface, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
            continue;
        // DWORD-aligned storage for a structure of variable length.
        std::vector<DWORD> storage(needed / sizeof(DWORD) + 1);
        auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W *>(storage.data());
        detail->cbSize = sizeof *detail;
        SP_DEVINFO_DATA node{};
        node.cbSize = sizeof node;
        if (!::SetupDiGetDeviceInterfaceDetailW(disks.get(), &diskInterface, detail,
                                                DWORD(storage.size() * sizeof(DWORD)), nullptr, &node))
            continue;
        const std::optional<STORAGE_DEVICE_NUMBER> disk = deviceNumber(detail->DevicePath);
        if (disk && disk->DeviceType == volume.DeviceType && disk->DeviceNumber == volume.DeviceNumber)
            return node.DevInst;
    }
    return std::nullopt;
}

// A text property of a device node: every string of a multi-string, or the
// one string; nothing when the node has no such property.
QStringList nodeStrings(DEVINST node, ULONG property)
{
    ULONG size = 0;
    if (::CM_Get_DevNode_Registry_PropertyW(node, property, nullptr, nullptr, &size, 0) != CR_BUFFER_SMALL
        || size == 0)
        return {};
    // Two spare characters end the text even when the stored one is not.
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
    ULONG type = 0;
    if (::CM_Get_DevNode_Registry_PropertyW(node, property, &type, buffer.data(), &size, 0) != CR_SUCCESS)
        return {};
    QStringList strings;
    for (const wchar_t *text = buffer.data(); *text != L'\0'; text += wcslen(text) + 1) {
        strings.append(QString::fromWCharArray(text));
        if (type != REG_MULTI_SZ)
            break;
    }
    return strings;
}

QString instanceId(DEVINST node)
{
    ULONG length = 0;
    if (::CM_Get_Device_ID_Size(&length, node, 0) != CR_SUCCESS)
        return {};
    std::vector<wchar_t> buffer(length + 1, L'\0');
    if (::CM_Get_Device_IDW(node, buffer.data(), ULONG(buffer.size()), 0) != CR_SUCCESS)
        return {};
    return QString::fromWCharArray(buffer.data());
}

} // namespace

QString usbPortOfVolume(const QString &root)
{
    QString volume = root;
    while (volume.endsWith(u'\\') || volume.endsWith(u'/'))
        volume.chop(1);
    volume.prepend(QStringLiteral("\\\\.\\"));
    const std::optional<STORAGE_DEVICE_NUMBER> number = deviceNumber(volume.toStdWString().c_str());
    if (!number)
        return {};
    std::optional<DEVINST> node = diskNode(*number);
    // A disk hangs below its USB device within a few levels (mass storage,
    // perhaps an diskInterface of a composite device); the bound only guards
    // against a tree that never ends.
    QList<TDeviceNodeLocation> chain;
    for (int level = 0; node && level < 8; ++level) {
        chain.append({instanceId(*node), nodeStrings(*node, CM_DRP_LOCATION_PATHS),
                      nodeStrings(*node, CM_DRP_LOCATION_INFORMATION).value(0)});
        DEVINST parent = 0;
        if (::CM_Get_Parent(&parent, *node, 0) == CR_SUCCESS)
            node = parent;
        else
            node.reset();
    }
    return usbPortLocation(chain);
}
