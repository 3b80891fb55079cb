#pragma once

#include <QByteArray>

// One Intel HEX record with its byte count and checksum filled in.
inline QByteArray hexRecord(quint8 type, quint16 address, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(char(data.size()));
    bytes.append(char(address >> 8));
    bytes.append(char(address & 0xFF));
    bytes.append(char(type));
    bytes.append(data);
    quint8 sum = 0;
    for (const char b : bytes)
        sum = quint8(sum + quint8(b));
    bytes.append(char(quint8(0x100 - sum)));
    return ':' + bytes.toHex().toUpper();
}

// A small valid image: an extended address, two data records, a start
// address and the end record, CR LF line ends.
inline QByteArray sampleImage()
{
    return hexRecord(0x04, 0, QByteArray::fromHex("0800")) + "\r\n"
        + hexRecord(0x00, 0x0000, QByteArray::fromHex("00500020C1010008C3010008C5010008")) + "\r\n"
        + hexRecord(0x00, 0x0010, QByteArray::fromHex("C7010008C9010008")) + "\r\n"
        + hexRecord(0x05, 0, QByteArray::fromHex("080001C1")) + "\r\n" + hexRecord(0x01, 0, {}) + "\r\n";
}
