#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

// The probe's target power output.
enum TVoltageOutput { voNone = 0, vo33V = 1, vo5V = 2 };
Q_DECLARE_METATYPE(TVoltageOutput)

// The probe record: what the probe's details file said, kept by the window.
// The properties are described at run time in declaration order so that
// copyProperties can move a parsed file into the record by name.
class TQV58LinkConfig : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool beep READ beep WRITE setBeep)
    Q_PROPERTY(TVoltageOutput voltageOutput READ voltageOutput WRITE setVoltageOutput)
    Q_PROPERTY(QString HICID READ HICID WRITE setHICID)
    Q_PROPERTY(QString mode READ mode WRITE setMode)
    Q_PROPERTY(QString appVersion READ appVersion WRITE setAppVersion)
    Q_PROPERTY(QString bootVersion READ bootVersion WRITE setBootVersion)

public:
    explicit TQV58LinkConfig(QObject *parent = nullptr);

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
    bool FBeep = false;
    TVoltageOutput FVoltageOutput = voNone;
    QString FHICID;
    QString FMode;
    QString FAppVersion;
    QString FBootVersion;
};
