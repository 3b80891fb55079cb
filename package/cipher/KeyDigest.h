#pragma once

#include "package/cipher/CipherTypes.h"

#include <QByteArray>
#include <array>

// The key-derivation digest of the package cipher: a 256-byte state seeded
// with the digits of pi, stirred by two word mixers and finished by a small
// 128-bit Feistel cipher. A package deciphers only if this matches bit for
// bit, so every shift and word order below is deliberate.

// The first 256 bytes of the hexadecimal expansion of pi's fractional part.
const std::array<quint8, 256> &PiTable();

// Returns min(size, 256) bytes (none for a negative size) derived from data.
QByteArray DigestKey(const QByteArray &data, int size);

void MixWords4(quint32 &A, quint32 &B, quint32 &C, quint32 &D);
void MixWords8(quint32 &a, quint32 &b, quint32 &c, quint32 &d, quint32 &e, quint32 &f, quint32 &g, quint32 &h);

using TMixBlock = std::array<quint8, 16>;

struct TMixCipherSchedule
{
    std::array<std::array<quint32, 2>, 16> subkeys{};
    int rounds = 0;
    bool encrypt = true;
};

// rounds is clamped to 4..16. The decrypt direction reverses the first
// `rounds` subkeys so that EncryptMixCipher undoes an encryption.
TMixCipherSchedule InitMixCipher(const TKey128 &key, int rounds, bool encrypt);
TMixBlock EncryptMixCipher(const TMixCipherSchedule &schedule, const TMixBlock &block);
