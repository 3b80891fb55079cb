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
