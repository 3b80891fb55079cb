#pragma once

#include "support/TestSystem.h"

#include <QByteArray>
#include <QString>
#include <ostream>

// Readable failure output for Qt bytes (texts: support/TestSystem.h).
inline void PrintTo(const QByteArray &bytes, std::ostream *os)
{
    *os << '"' << bytes.toStdString() << '"';
}
