#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// Reads a whole file. Raises EFOpenError with the system's reason.
QByteArray readWholeFile(const QString &fileName);

// Creates a file, or empties an existing one, and writes it unbuffered so a
// full or vanished device shows up at the write that failed, not at close.
class TFileWriter
{
public:
    // Raises EFCreateError with the system's reason.
    explicit TFileWriter(const QString &fileName);
    ~TFileWriter();
    TFileWriter(const TFileWriter &) = delete;
    TFileWriter &operator=(const TFileWriter &) = delete;

    // Raises EWriteError when fewer bytes than asked reach the file.
    void write(const char *data, qint64 size);
    void write(const QByteArray &data) { write(data.constData(), data.size()); }
    // Flushes the file to its device (the probe reads it after we let go)
    // and closes it. Raises EWriteError when the device refuses.
    void close();

    // Test seam: when set, called before each write with the byte count asked
    // for; it returns how many bytes to let through, so a short write can be
    // provoked without a full device.
    using WriteLimiter = std::function<qint64(const QString &fileName, qint64 size)>;
    static void setWriteLimiter(WriteLimiter limiter);

private:
    QString FFileName;
    int FHandle = -1;
};

// Writes data to a new or emptied file in one go.
void writeWholeFile(const QString &fileName, const QByteArray &data);
