#pragma once

#include "common/FileIO.h"
#include "probe/QV58LinkConfig.h"

#include <QString>
#include <QStringEncoder>
#include <ostream>

// The six values of a probe record or parser, compared as one.
struct TDetails
{
    bool beep = false;
    TVoltageOutput voltageOutput = voNone;
    QString HICID;
    QString mode;
    QString appVersion;
    QString bootVersion;

    bool operator==(const TDetails &) const = default;
};

template<typename T>
TDetails detailsOf(const T &record)
{
    return {record.beep(), record.voltageOutput(), record.HICID(),
            record.mode(), record.appVersion(),    record.bootVersion()};
}

inline void PrintTo(const TDetails &d, std::ostream *os)
{
    *os << "{beep " << d.beep << ", power " << int(d.voltageOutput) << ", HIC ID \"" << d.HICID.toStdString()
        << "\", mode \"" << d.mode.toStdString() << "\", app \"" << d.appVersion.toStdString() << "\", boot \""
        << d.bootVersion.toStdString() << "\"}";
}

inline QByteArray utf16le(const QString &text)
{
    QStringEncoder encoder(QStringEncoder::Utf16LE);
    return QByteArray("\xFF\xFE", 2) + QByteArray(encoder.encode(text));
}
