#include "package/cipher/LbSymmetricCipher.h"

TLbSymmetricCipher::TLbSymmetricCipher(QObject *AOwner)
    : TLbCipher(AOwner)
{
}
