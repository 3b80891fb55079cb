#pragma once

#include <QString>

// Removes leading and trailing characters whose code is 32 or less.
QString Trim(const QString &text);

// Equality with the ASCII letters A-Z and a-z folded together; every other
// character compares by its code.
bool sameText(const QString &a, const QString &b);

struct SplitParts
{
    QString head; // before the first separator, untrimmed; the whole text when absent
    QString tail; // after the first separator, trimmed; empty when absent
};

SplitParts splitAtFirst(const QString &text, const QString &separator);
