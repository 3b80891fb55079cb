#pragma once

#include "probe/QV58LinkConfig.h"

#include <QList>
#include <QObject>
#include <QRegularExpression>
#include <QString>

// The most of a details file that is read. A real one holds a few hundred
// bytes; the bound is a hundred times that and more, yet keeps a drive that
// offers a huge or endless file from filling the memory or stalling the
// window while it is read.
constexpr qint64 DetailsFileMaxBytes = 64 * 1024;

// Reads the probe's details file ("Key: value" lines) at construction. It has
// the probe record's six properties, in the same order with the same types,
// so copyProperties moves a whole load into the record.
class TQV58LinkConfigFile : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool beep READ beep WRITE setBeep)
    Q_PROPERTY(TVoltageOutput voltageOutput READ voltageOutput WRITE setVoltageOutput)
    Q_PROPERTY(QString HICID READ HICID WRITE setHICID)
    Q_PROPERTY(QString mode READ mode WRITE setMode)
    Q_PROPERTY(QString appVersion READ appVersion WRITE setAppVersion)
    Q_PROPERTY(QString bootVersion READ bootVersion WRITE setBootVersion)

public:
    // The file's name is matched ignoring case. Raises EFOpenError when it
    // cannot be read: missing, not a regular file (a link is not followed),
    // larger than DetailsFileMaxBytes, or refused by the system.
    explicit TQV58LinkConfigFile(const QString &AFileName, QObject *parent = nullptr);

    bool beep() const { return FBeep; }
    TVoltageOutput voltageOutput() const { return FVoltageOutput; }
    QString HICID() const { return FHICID; }
    QString mode() const { return FMode; }
    QString appVersion() const { return FAppVersion; }
    QString bootVersion() const { return FBootVersion; }

    void setBeep(bool value) { FBeep = value; }
    void setVoltageOutput(TVoltageOutput value) { FVoltageOutput = value; }
    void setHICID(const QString &value) { FHICID = value; }
    void setMode(const QString &value) { FMode = value; }
    void setAppVersion(const QString &value) { FAppVersion = value; }
    void setBootVersion(const QString &value) { FBootVersion = value; }

private:
    void parseDetails(const QString &AFileName);

    bool FBeep = false;
    TVoltageOutput FVoltageOutput = voNone;
    QString FHICID;
    QString FMode;
    QString FAppVersion;
    QString FBootVersion;
};

// The keys of the details file, tried in this order: Beep Mode, Target Power
// output, HIC ID, QV58-LINK Mode, Interface Version, Bootloader Version.
// Case matters and the key must start the line.
const QList<QRegularExpression> &detailKeys();

// Index into detailKeys of the first key the line starts with; 6 for none.
int keyIndexOf(const QString &line);
// The text after the first colon, trimmed; empty without a colon.
QString detailValue(const QString &line);
// Off only for the value "OFF" in any case; an empty value is on.
bool parseBeep(const QString &line);
// "OFF" -> voNone, "5V" -> vo5V (any case), anything else -> vo33V.
TVoltageOutput parseVoltageOutput(const QString &line);
