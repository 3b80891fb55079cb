#pragma once

#include <QIODevice>
#include <QString>

// File and MD5 helpers; class operations only.
class TBinFile
{
public:
    TBinFile() = delete;

    // MD5 of the bytes from the stream's position to its end, as 32 upper-case
    // hex digits; leaves the stream at its end. Raises Exception "Stream read
    // error" when the stream cannot be read.
    static QString md5Stream(QIODevice &AMemoryStream);
    // The same over a whole file. Raises EFOpenError.
    static QString md5File(const QString &AFileName);
    // The low 32 bits of the file's size, or -1 when it cannot be opened.
    static qint64 fileSize(const QString &AFileName);
    // Copies the file's first ASize bytes (fewer for a shorter file) into
    // AData. Raises EFOpenError.
    static bool loadFromFile(const QString &AFileName, void *AData, qint64 ASize);
    // Creates or empties the file and writes ASize bytes of AData. Raises
    // EFCreateError or EWriteError.
    static bool saveToFile(const QString &AFileName, const void *AData, qint64 ASize);
    // With AOverWrite false an existing target makes the copy fail.
    static bool copyFile(const QString &ASource, const QString &ATarget, bool AOverWrite);
};
