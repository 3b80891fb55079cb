#include "platform/linux/MountTable.h"

#include <QFile>
#include <QHash>
#include <optional>

#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// The whole of an open file, read from its start.
std::optional<QByteArray> readFromStart(int fd)
{
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return std::nullopt;
    QByteArray bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            return bytes;
        bytes.append(buffer, got);
    }
}

// True when the kernel has reported a change of the mount table open as fd
// since it last told; it reports one at most once.
bool mountTableChanged(int fd)
{
    pollfd watch{fd, POLLPRI, 0};
    int ready;
    do {
        ready = ::poll(&watch, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready != 0;
}

bool isProcFile(int fd)
{
    struct statfs info;
    return ::fstatfs(fd, &info) == 0 && info.f_type == PROC_SUPER_MAGIC;
}

bool isOctalDigit(char c)
{
    return c >= '0' && c <= '7';
}

} // namespace

QString decodeMountField(QByteArrayView field)
{
    if (!field.contains('\\'))
        return QFile::decodeName(field.toByteArray());
    QByteArray bytes;
    bytes.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size() && isOctalDigit(field.at(i + 1))
            && isOctalDigit(field.at(i + 2)) && isOctalDigit(field.at(i + 3))) {
            bytes += char((field.at(i + 1) - '0') * 64 + (field.at(i + 2) - '0') * 8 + (field.at(i + 3) - '0'));
            i += 3;
        } else {
            bytes += field.at(i);
        }
    }
    return QFile::decodeName(bytes);
}

QList<TMount> visibleMounts(const QByteArray &text)
{
    QList<TMount> mounts;
    QHash<QByteArrayView, qsizetype> byPoint;
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        const QByteArrayView line(text.constData() + start, end - start);
        start = end + 1;

        // id parent major:minor root mount-point options [optional…] - fstype source super-options
        // Only the device number, the mount point and what follows the "-"
        // are needed; no field holds a blank, the kernel writes it as \040.
        qsizetype from = 0; // the mount point's start, after four blanks
        qsizetype device = -1;
        for (int blanks = 0; blanks < 4 && from >= 0; ++blanks) {
            const qsizetype blank = line.indexOf(' ', from);
            from = blank < 0 ? -1 : blank + 1;
            if (blanks == 1)
                device = from;
        }
        const qsizetype pointEnd = from < 0 ? -1 : line.indexOf(' ', from);
        const qsizetype dash = pointEnd < 0 ? -1 : line.indexOf(" - ", pointEnd + 1);
        if (dash < 0)
            continue;
        const qsizetype typeEnd = line.indexOf(' ', dash + 3);
        if (typeEnd < 0)
            continue;
        qsizetype sourceEnd = line.indexOf(' ', typeEnd + 1);
        if (sourceEnd < 0)
            sourceEnd = line.size();
        const TMount mount{line.sliced(device, line.indexOf(' ', device) - device),
                           line.sliced(from, pointEnd - from),
                           line.sliced(typeEnd + 1, sourceEnd - typeEnd - 1),
                           line.sliced(dash + 3, typeEnd - dash - 3)};
        const auto seen = byPoint.constFind(mount.point);
        if (seen != byPoint.constEnd()) {
            mounts[*seen] = mount;
        } else {
            byPoint.insert(mount.point, mounts.size());
            mounts.append(mount);
        }
    }
    return mounts;
}

TMountTable::TMountTable(const QByteArray &path)
    : FPath(path)
{
}

TMountTable::~TMountTable()
{
    if (FFile >= 0)
        ::close(FFile);
}

QByteArray TMountTable::text() const
{
    const QMutexLocker lock(&FLock);
    if (FFile >= 0) {
        // An error counts as a change: the table is read again.
        if (!mountTableChanged(FFile))
            return FText;
        if (const std::optional<QByteArray> text = readFromStart(FFile)) {
            FText = *text;
            return FText;
        }
        ::close(FFile);
        FFile = -1;
        FText.clear();
    }
    const int fd = ::open(FPath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    // A change from here on is reported at the next look, so none is missed
    // between this read and the next.
    const std::optional<QByteArray> text = readFromStart(fd);
    if (text && isProcFile(fd)) {
        FFile = fd;
        FText = *text;
    } else {
        ::close(fd);
    }
    return text.value_or(QByteArray());
}
