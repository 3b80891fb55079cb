#include "package/cipher/LBBaseComponent.h"

#include <QStringDecoder>
#include <QStringEncoder>

TLBBaseComponent::TLBBaseComponent(QObject *AOwner)
    : QObject(AOwner)
{
}

QByteArray TLBBaseComponent::encodeText(const QString &text) const
{
    QStringEncoder encoder(FEncoding);
    return encoder.encode(text);
}

QString TLBBaseComponent::decodeText(const QByteArray &bytes) const
{
    QStringDecoder decoder(FEncoding);
    return decoder.decode(bytes);
}
