#pragma once

#include <QObject>
#include <QStringConverter>

// Base of the cipher family: an object with an optional owner that frees it,
// and the encoding that turns texts (pass phrases, strings) into bytes.
class TLBBaseComponent : public QObject
{
    Q_OBJECT

public:
    explicit TLBBaseComponent(QObject *AOwner = nullptr);

    // The host's 8-bit code page unless set otherwise.
    QStringConverter::Encoding Encoding() const { return FEncoding; }
    void setEncoding(QStringConverter::Encoding value) { FEncoding = value; }

protected:
    QByteArray encodeText(const QString &text) const;
    QString decodeText(const QByteArray &bytes) const;

private:
    QStringConverter::Encoding FEncoding = QStringConverter::System;
};
