#include "probe/QV58LinkConfigFile.h"

#include "common/StrUtils.h"
#include "common/TextFile.h"
#include "platform/FileSystem.h"

#include <QStringList>

TQV58LinkConfigFile::TQV58LinkConfigFile(const QString &AFileName, QObject *parent)
    : QObject(parent)
{
    parseDetails(AFileName);
}

void TQV58LinkConfigFile::parseDetails(const QString &AFileName)
{
    const qsizetype slash = AFileName.lastIndexOf(u'/');
    const QByteArray bytes = readFileInRoot(AFileName.left(slash + 1), AFileName.mid(slash + 1), DetailsFileMaxBytes);
    const QStringList lines = decodeTextLines(bytes);
    for (const QString &line : lines) {
        switch (keyIndexOf(line)) {
        case 0:
            FBeep = parseBeep(line);
            break;
        case 1:
            FVoltageOutput = parseVoltageOutput(line);
            break;
        case 2:
            FHICID = detailValue(line);
            break;
        case 3:
            FMode = detailValue(line);
            break;
        case 4:
            FAppVersion = detailValue(line);
            break;
        case 5:
            FBootVersion = detailValue(line);
            break;
        default:
            break;
        }
    }
}

const QList<QRegularExpression> &detailKeys()
{
    static const QList<QRegularExpression> keys{
        QRegularExpression(QStringLiteral("^Beep Mode:")),
        QRegularExpression(QStringLiteral("^Target Power output:")),
        QRegularExpression(QStringLiteral("^HIC ID:")),
        QRegularExpression(QStringLiteral("^QV58-LINK Mode:")),
        QRegularExpression(QStringLiteral("^Interface Version:")),
        QRegularExpression(QStringLiteral("^Bootloader Version:")),
    };
    return keys;
}

int keyIndexOf(const QString &line)
{
    const QList<QRegularExpression> &keys = detailKeys();
    for (int i = 0; i < keys.size(); ++i) {
        const QRegularExpressionMatch match = keys.at(i).match(line);
        if (match.hasMatch() && match.capturedLength() > 0)
            return i;
    }
    return int(keys.size());
}

QString detailValue(const QString &line)
{
    return splitAtFirst(line, QStringLiteral(":")).tail;
}

bool parseBeep(const QString &line)
{
    return !sameText(detailValue(line), QStringLiteral("OFF"));
}

TVoltageOutput parseVoltageOutput(const QString &line)
{
    const QString value = detailValue(line);
    if (sameText(value, QStringLiteral("OFF")))
        return voNone;
    if (sameText(value, QStringLiteral("5V")))
        return vo5V;
    return vo33V;
}
