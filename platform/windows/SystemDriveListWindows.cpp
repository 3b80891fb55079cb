#include "platform/DriveList.h"

#include "common/windows/SystemError.h"
#include "platform/DriveRoot.h"
#include "platform/SystemDrives.h"
#include "platform/windows/UsbPortWindows.h"

#include <QDir>

#include <vector>

#include <windows.h>

namespace {

TDriveType typeOf(UINT type)
{
    switch (type) {
    case DRIVE_NO_ROOT_DIR:
        return TDriveType::NoRootDir;
    case DRIVE_REMOVABLE:
        return TDriveType::Removable;
    case DRIVE_FIXED:
        return TDriveType::Fixed;
    case DRIVE_REMOTE:
        return TDriveType::Remote;
    case DRIVE_CDROM:
        return TDriveType::CDRom;
    case DRIVE_RAMDISK:
        return TDriveType::RamDisk;
    default:
        return TDriveType::Unknown;
    }
}

// The drive letters in the system's order ("C:\", "E:\" …); empty when the
// list cannot be had, which only means no drives.
QStringList driveLetterRoots()
{
    const DWORD needed = ::GetLogicalDriveStringsW(0, nullptr);
    if (needed == 0)
        return {};
    std::vector<wchar_t> buffer(needed + 1, L'\0');
    const DWORD written = ::GetLogicalDriveStringsW(DWORD(buffer.size()), buffer.data());
    // A drive that arrived between the two calls makes the list too long for
    // the buffer; it is not read half.
    if (written == 0 || written >= buffer.size())
        return {};
    QStringList roots;
    for (const wchar_t *root = buffer.data(); *root != L'\0'; root += wcslen(root) + 1)
        roots.append(QString::fromWCharArray(root));
    return roots;
}

// Windows has no mounting for the tool to do: a removable drive has its
// letter as soon as it arrives. The identity of a removable drive is the USB
// port of its device where Windows tells it. Elsewhere it is the letter,
// marked so: Windows gives a device that comes back from a restart the
// letter it had before, so the letter stands for the port only as long as
// no other drive takes it meanwhile. Other drives are never probes; their
// devices are not asked, as a network drive could keep the look waiting.
class TWindowsDriveList final : public IDriveList
{
public:
    QList<TDriveInfo> drives() override
    {
        QList<TDriveInfo> found;
        for (const QString &root : driveLetterRoots()) {
            const QString ownRoot = withTrailingSlash(QDir::fromNativeSeparators(root));
            TDriveInfo drive{ownRoot, typeOf(::GetDriveTypeW(nativePath(root).c_str())), ownRoot};
            if (drive.type == TDriveType::Removable) {
                const QString port = usbPortOfVolume(root);
                if (port.isEmpty())
                    drive.portUnknown = true;
                else
                    drive.identity = port;
            }
            found.append(drive);
        }
        return found;
    }
};

} // namespace

std::unique_ptr<IDriveList> makeSystemDriveList()
{
    return std::make_unique<TWindowsDriveList>();
}
