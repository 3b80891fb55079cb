#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// A file the system has open: a descriptor on Unix, a HANDLE on Windows.
#ifdef Q_OS_WIN
using TFileHandle = void *;
inline constexpr TFileHandle NoFileHandle = nullptr;
#else
using TFileHandle = int;
inline constexpr TFileHandle NoFileHandle = -1;
#endif

// Reads a whole file. Raises EFOpenError with the system's reason. Meant for
// files the user names on the host: it follows links and reads pipes to
// their end, with no limit on the size.
QByteArray readWholeFile(const QString &fileName);

// Reads a whole regular file of at most maxBytes (links followed). Anything
// else is refused before a byte is read, so a pipe or a device never blocks
// or floods the reader, and no more than maxBytes + 1 bytes are ever read,
// so a file that grows while it is read cannot exceed the bound either.
// Raises EFOpenError naming the file and the reason.
QByteArray readWholeFile(const QString &fileName, qint64 maxBytes);

// The same on a file the caller has opened for reading: takes over handle
// and closes it whatever happens.
QByteArray readRegularFile(const QString &fileName, TFileHandle handle, qint64 maxBytes);

// The reasons given when a file is not read or written.
namespace fileReason {
QString folder();
QString special();
QString tooLarge(qint64 maxBytes);
QString otherNames();
} // namespace fileReason

// Creates a file, or empties an existing one, and writes it unbuffered so a
// full or vanished device shows up at the write that failed, not at close.
class TFileWriter
{
public:
    // Raises EFCreateError with the system's reason.
    explicit TFileWriter(const QString &fileName);
    // Takes over handle, a file the caller has opened for writing without
    // emptying it: anything but a regular file of one name is refused (and
    // closed) before it is emptied. Raises EFCreateError.
    TFileWriter(const QString &fileName, TFileHandle handle);
    TFileWriter(TFileWriter &&other) noexcept;
    ~TFileWriter();
    TFileWriter(const TFileWriter &) = delete;
    TFileWriter &operator=(const TFileWriter &) = delete;
    TFileWriter &operator=(TFileWriter &&) = delete;

    QString fileName() const { return FFileName; }

    // Raises EFWriteError, naming the file and the reason, when fewer bytes
    // than asked reach the file.
    void write(const char *data, qint64 size);
    void write(const QByteArray &data) { write(data.constData(), data.size()); }
    // Flushes the file to its device (the probe reads it after we let go)
    // and closes it. Raises EFWriteError when the device refuses.
    void close();

    // Test seam: when set, called before each write with the byte count asked
    // for; it returns how many bytes to let through, so a short write can be
    // provoked without a full device.
    using WriteLimiter = std::function<qint64(const QString &fileName, qint64 size)>;
    static void setWriteLimiter(WriteLimiter limiter);

private:
    // The system's side of write: as many of size bytes as the device takes.
    qint64 writeAll(const char *data, qint64 size);

    QString FFileName;
    TFileHandle FHandle = NoFileHandle;
};

// Writes data to a new or emptied file in one go.
void writeWholeFile(const QString &fileName, const QByteArray &data);
