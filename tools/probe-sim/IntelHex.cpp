#include "IntelHex.h"

#include <QList>
#include <cctype>

namespace {

THexCheck refuse(int lineNo, const QString &why)
{
    THexCheck check;
    check.error = QStringLiteral("line %1: %2").arg(lineNo).arg(why);
    return check;
}

} // namespace

THexCheck checkIntelHex(const QByteArray &image)
{
    THexCheck result;
    bool ended = false;
    const QList<QByteArray> lines = image.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNo = int(i + 1);
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        if (ended)
            return refuse(lineNo, QStringLiteral("data after the end record"));
        if (!line.startsWith(':'))
            return refuse(lineNo, QStringLiteral("record does not start with ':'"));
        const QByteArray digits = line.mid(1);
        for (const char c : digits) {
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return refuse(lineNo, QStringLiteral("not a hexadecimal digit"));
        }
        if (digits.size() % 2 != 0 || digits.size() < 10)
            return refuse(lineNo, QStringLiteral("record too short or odd length"));
        const QByteArray bytes = QByteArray::fromHex(digits);
        const int count = quint8(bytes.at(0));
        const int type = quint8(bytes.at(3));
        if (bytes.size() != count + 5)
            return refuse(lineNo, QStringLiteral("byte count %1 does not match the record").arg(count));
        quint8 sum = 0;
        for (const char b : bytes)
            sum = quint8(sum + quint8(b));
        if (sum != 0)
            return refuse(lineNo, QStringLiteral("checksum mismatch"));
        switch (type) {
        case 0x00:
            ++result.dataRecords;
            break;
        case 0x01:
            if (count != 0)
                return refuse(lineNo, QStringLiteral("end record with data"));
            ended = true;
            break;
        case 0x02:
        case 0x04:
            if (count != 2)
                return refuse(lineNo, QStringLiteral("address record of %1 bytes").arg(count));
            break;
        case 0x03:
        case 0x05:
            if (count != 4)
                return refuse(lineNo, QStringLiteral("start address record of %1 bytes").arg(count));
            break;
        default:
            return refuse(lineNo, QStringLiteral("unknown record type %1").arg(type));
        }
    }
    if (!ended) {
        result.error = QStringLiteral("no end record");
        result.dataRecords = 0;
        return result;
    }
    result.ok = true;
    return result;
}

namespace {

void appendRecord(QByteArray &out, quint16 address, quint8 type, const QByteArray &payload)
{
    QByteArray record;
    record.append(char(payload.size()));
    record.append(char(address >> 8));
    record.append(char(address & 0xFF));
    record.append(char(type));
    record.append(payload);
    quint8 sum = 0;
    for (char byte : record)
        sum = quint8(sum + quint8(byte));
    record.append(char(quint8(0x100 - sum)));
    out.append(':');
    out.append(record.toHex().toUpper());
    out.append("\r\n");
}

} // namespace

QByteArray makeIntelHex(const QByteArray &data)
{
    QByteArray out;
    for (qsizetype offset = 0; offset < data.size(); offset += 16) {
        if (offset % 0x10000 == 0) {
            const quint16 upper = quint16(offset >> 16);
            QByteArray address;
            address.append(char(upper >> 8));
            address.append(char(upper & 0xFF));
            appendRecord(out, 0, 0x04, address);
        }
        appendRecord(out, quint16(offset & 0xFFFF), 0x00, data.mid(offset, 16));
    }
    appendRecord(out, 0, 0x01, QByteArray());
    return out;
}

QByteArray makeFirmwareImage(int size, const QString &seed)
{
    // A small linear congruential sequence: reproducible, and it differs per seed.
    quint32 state = 2166136261u;
    for (QChar c : seed)
        state = (state ^ c.unicode()) * 16777619u;
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        data[i] = char(state >> 24);
    }
    return makeIntelHex(data);
}
