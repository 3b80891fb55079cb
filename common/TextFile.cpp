#include "common/TextFile.h"

#include <QStringDecoder>
#include <QStringEncoder>

QString ansiDecode(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::System);
    return decoder.decode(bytes);
}

QByteArray ansiEncode(const QString &text)
{
    QStringEncoder encoder(QStringEncoder::System);
    return encoder.encode(text);
}

QString decodeText(const QByteArray &bytes)
{
    QString text;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        text = decoder.decode(bytes.mid(3));
    } else if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder decoder(QStringDecoder::Utf16LE);
        text = decoder.decode(bytes.mid(2));
    } else if (bytes.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(QStringDecoder::Utf16BE);
        text = decoder.decode(bytes.mid(2));
    } else {
        text = ansiDecode(bytes);
    }
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

QStringList splitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text.at(i);
        if (c == u'\r' || c == u'\n') {
            lines.append(text.mid(start, i - start));
            if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
                ++i;
            start = i + 1;
        }
        ++i;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

QStringList decodeTextLines(const QByteArray &bytes)
{
    return splitLines(decodeText(bytes));
}
