#pragma once

#include <QByteArray>
#include <QString>

// What the simulated bootloader makes of an image: Intel HEX records with
// valid syntax and checksums, closed by an end record.
struct THexCheck
{
    bool ok = false;
    QString error;       // why it was refused, with the line number
    int dataRecords = 0; // records of type 00 before the end record
};

THexCheck checkIntelHex(const QByteArray &image);

// Writes data as Intel HEX from address 0: sixteen bytes a record, an
// extended linear address record at each 64 KiB boundary, an end record.
QByteArray makeIntelHex(const QByteArray &data);

// A firmware image this probe accepts: size bytes of data that follow from
// seed, so different seeds give different images of the same size.
QByteArray makeFirmwareImage(int size, const QString &seed);
