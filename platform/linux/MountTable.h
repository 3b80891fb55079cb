#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QMutex>
#include <QString>

// One line of the mount table, as views into its text.
struct TMount
{
    QByteArrayView device; // "major:minor"
    QByteArrayView point;
    QByteArrayView source;
    QByteArrayView fsType;
};

// The lines of the mount table in text, as the processes see them: when a
// later mount covers an earlier one at the same point, only the later one is
// reachable. The lines are views into text.
QList<TMount> visibleMounts(const QByteArray &text);

// Decodes the octal escapes (\040 for a blank) the kernel writes in mount points.
QString decodeMountField(QByteArrayView field);

// A mount table in the format of /proc/self/mountinfo, read whole on every
// call. The kernel writes its own afresh on every read, at a cost that grows
// with its lines; so when the file is the kernel's, it is kept open and read
// again only when the kernel reports a change (a mount or an unmount in the
// process's mount namespace). Any other file, a fixture's, is read on every
// call. Safe to call from several threads at once.
class TMountTable
{
public:
    explicit TMountTable(const QByteArray &path);
    ~TMountTable();
    TMountTable(const TMountTable &) = delete;
    TMountTable &operator=(const TMountTable &) = delete;

    // The table as it is now; empty when it cannot be read.
    QByteArray text() const;

private:
    const QByteArray FPath;

    // The kernel's table as last read, kept open to be told of changes.
    mutable QMutex FLock;
    mutable int FFile = -1;
    mutable QByteArray FText;
};
