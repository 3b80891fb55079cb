#pragma once

#include <QtGlobal>
#include <array>

// A two-key triple-DES key: bytes 0-7 are K1, bytes 8-15 are K2.
using TKey128 = std::array<quint8, 16>;

// The stream framing of the symmetric ciphers. Packages only use cmECB.
enum TLbCipherMode { cmECB = 0, cmCBC = 1 };
