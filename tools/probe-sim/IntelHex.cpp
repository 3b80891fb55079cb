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
