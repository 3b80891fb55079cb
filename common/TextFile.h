#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Decodes bytes in the host's 8-bit code page (on Linux: the locale's codec).
QString ansiDecode(const QByteArray &bytes);
// Encodes text in the host's 8-bit code page.
QByteArray ansiEncode(const QString &text);

// Decodes the bytes of a text file: a leading byte-order mark selects UTF-8
// (EF BB BF), UTF-16 LE (FF FE) or UTF-16 BE (FE FF); otherwise the host's code
// page. A NUL character ends the text.
QString decodeText(const QByteArray &bytes);

// Splits text at CR LF, CR or LF. A line end at the very end adds no line;
// LF followed by CR is two line ends.
QStringList splitLines(const QString &text);

// decodeText followed by splitLines.
QStringList decodeTextLines(const QByteArray &bytes);
