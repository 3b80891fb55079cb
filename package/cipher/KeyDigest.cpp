#include "package/cipher/KeyDigest.h"

#include <QtEndian>
#include <algorithm>
#include <utility>

namespace {

constexpr std::array<quint8, 256> kPi = {
    0x24, 0x3F, 0x6A, 0x88, 0x85, 0xA3, 0x08, 0xD3, 0x13, 0x19, 0x8A, 0x2E, 0x03, 0x70, 0x73, 0x44,
    0xA4, 0x09, 0x38, 0x22, 0x29, 0x9F, 0x31, 0xD0, 0x08, 0x2E, 0xFA, 0x98, 0xEC, 0x4E, 0x6C, 0x89,
    0x45, 0x28, 0x21, 0xE6, 0x38, 0xD0, 0x13, 0x77, 0xBE, 0x54, 0x66, 0xCF, 0x34, 0xE9, 0x0C, 0x6C,
    0xC0, 0xAC, 0x29, 0xB7, 0xC9, 0x7C, 0x50, 0xDD, 0x3F, 0x84, 0xD5, 0xB5, 0xB5, 0x47, 0x09, 0x17,
    0x92, 0x16, 0xD5, 0xD9, 0x89, 0x79, 0xFB, 0x1B, 0xD1, 0x31, 0x0B, 0xA6, 0x98, 0xDF, 0xB5, 0xAC,
    0x2F, 0xFD, 0x72, 0xDB, 0xD0, 0x1A, 0xDF, 0xB7, 0xB8, 0xE1, 0xAF, 0xED, 0x6A, 0x26, 0x7E, 0x96,
    0xBA, 0x7C, 0x90, 0x45, 0xF1, 0x2C, 0x7F, 0x99, 0x24, 0xA1, 0x99, 0x47, 0xB3, 0x91, 0x6C, 0xF7,
    0x08, 0x01, 0xF2, 0xE2, 0x85, 0x8E, 0xFC, 0x16, 0x63, 0x69, 0x20, 0xD8, 0x71, 0x57, 0x4E, 0x69,
    0xA4, 0x58, 0xFE, 0xA3, 0xF4, 0x93, 0x3D, 0x7E, 0x0D, 0x95, 0x74, 0x8F, 0x72, 0x8E, 0xB6, 0x58,
    0x71, 0x8B, 0xCD, 0x58, 0x82, 0x15, 0x4A, 0xEE, 0x7B, 0x54, 0xA4, 0x1D, 0xC2, 0x5A, 0x59, 0xB5,
    0x9C, 0x30, 0xD5, 0x39, 0x2A, 0xF2, 0x60, 0x13, 0xC5, 0xD1, 0xB0, 0x23, 0x28, 0x60, 0x85, 0xF0,
    0xCA, 0x41, 0x79, 0x18, 0xB8, 0xDB, 0x38, 0xEF, 0x8E, 0x79, 0xDC, 0xB0, 0x60, 0x3A, 0x18, 0x0E,
    0x6C, 0x9E, 0x0E, 0x8B, 0xB0, 0x1E, 0x8A, 0x3E, 0xD7, 0x15, 0x77, 0xC1, 0xBD, 0x31, 0x4B, 0x27,
    0x78, 0xAF, 0x2F, 0xDA, 0x55, 0x60, 0x5C, 0x60, 0xE6, 0x55, 0x25, 0xF3, 0xAA, 0x55, 0xAB, 0x94,
    0x57, 0x48, 0x98, 0x62, 0x63, 0xE8, 0x14, 0x40, 0x55, 0xCA, 0x39, 0x6A, 0x2A, 0xAB, 0x10, 0xB6,
    0xB4, 0xCC, 0x5C, 0x34, 0x11, 0x41, 0xE8, 0xCE, 0xA1, 0x54, 0x86, 0xAF, 0x7C, 0x72, 0xE9, 0x93,
};

quint32 wordAt(const quint8 *bytes, int index)
{
    return qFromLittleEndian<quint32>(bytes + 4 * index);
}

void putWord(quint8 *bytes, int index, quint32 value)
{
    qToLittleEndian<quint32>(value, bytes + 4 * index);
}

struct TKeyDigestState
{
    std::array<quint8, 256> buffer = kPi;
    int bufferPos = 0;
    std::array<quint8, 16> accumulator{};
    int accumulatorPos = 0;

    TKeyDigestState()
    {
        for (int i = 0; i < 4; ++i)
            putWord(accumulator.data(), i, 0x55555555u);
    }

    // The words go in last-first and come back first-first; packages were
    // made that way, so the asymmetry stays.
    void stir()
    {
        quint32 A = wordAt(accumulator.data(), 3);
        quint32 B = wordAt(accumulator.data(), 2);
        quint32 C = wordAt(accumulator.data(), 1);
        quint32 D = wordAt(accumulator.data(), 0);
        for (int i = 0; i < 4; ++i)
            MixWords4(A, B, C, D);
        putWord(accumulator.data(), 0, A);
        putWord(accumulator.data(), 1, B);
        putWord(accumulator.data(), 2, C);
        putWord(accumulator.data(), 3, D);
    }

    void absorb(quint8 x)
    {
        buffer[bufferPos] ^= x;
        bufferPos = (bufferPos + 1) % 256;
        accumulator[accumulatorPos] ^= x;
        if (++accumulatorPos == 8) {
            stir();
            accumulatorPos = 0;
        }
    }

    // Always ends on a stir, also for input whose length is a multiple of 8.
    void close()
    {
        const int count = 8 - accumulatorPos;
        for (int i = 0; i < count; ++i)
            absorb(i == 0 ? 1 : 0);
    }
};

} // namespace

const std::array<quint8, 256> &PiTable()
{
    return kPi;
}

void MixWords4(quint32 &A, quint32 &B, quint32 &C, quint32 &D)
{
    A += D; D += A; A ^= A >> 7;
    B += A; A += B; B ^= B << 13;
    C += B; B += C; C ^= C >> 17;
    D += C; C += D; D ^= D << 9;
    A += D; D += A; A ^= A >> 3;
    B += A; A += B; B ^= B << 7;
    C += B; B += C; C ^= D >> 15; // D, not C: existing packages depend on it
    D += C; C += D; D ^= D << 11;
}

void MixWords8(quint32 &a, quint32 &b, quint32 &c, quint32 &d, quint32 &e, quint32 &f, quint32 &g, quint32 &h)
{
    a ^= b << 11; d += a; b += c;
    b ^= c >> 2;  e += b; c += d;
    c ^= d << 8;  f += c; d += e;
    d ^= e >> 16; g += d; e += f;
    e ^= f << 10; h += e; f += g;
    f ^= g >> 4;  a += f; g += h;
    g ^= h << 8;  b += g; h += a;
    h ^= a >> 9;  c += h; a += b;
}

TMixCipherSchedule InitMixCipher(const TKey128 &key, int rounds, bool encrypt)
{
    static constexpr quint32 kConstants[4] = {0x55555555u, 0xAAAAAAAAu, 0x33333333u, 0xCCCCCCCCu};
    TMixCipherSchedule schedule;
    schedule.rounds = std::clamp(rounds, 4, 16);
    schedule.encrypt = encrypt;

    std::array<quint32, 32> words{};
    int next = 0;
    for (const quint32 s : kConstants) {
        quint32 a = wordAt(key.data(), 0), b = s;
        quint32 c = wordAt(key.data(), 1), d = s;
        quint32 e = wordAt(key.data(), 2), f = s;
        quint32 g = wordAt(key.data(), 3), h = s;
        for (int i = 0; i < 8; ++i)
            MixWords8(a, b, c, d, e, f, g, h);
        for (const quint32 w : {a, b, c, d, e, f, g, h})
            words[next++] = w;
    }
    for (int i = 0; i < 16; ++i)
        schedule.subkeys[i] = {words[2 * i], words[2 * i + 1]};
    if (!encrypt)
        std::reverse(schedule.subkeys.begin(), schedule.subkeys.begin() + schedule.rounds);
    return schedule;
}

TMixBlock EncryptMixCipher(const TMixCipherSchedule &schedule, const TMixBlock &block)
{
    quint32 R0 = wordAt(block.data(), 0), R1 = wordAt(block.data(), 1);
    quint32 L0 = wordAt(block.data(), 2), L1 = wordAt(block.data(), 3);
    for (int i = 0; i < schedule.rounds; ++i) {
        quint32 A = R0, B = schedule.subkeys[i][0], C = R1, D = schedule.subkeys[i][1];
        MixWords4(A, B, C, D);
        std::swap(A, C);
        std::swap(B, D);
        MixWords4(A, B, C, D);
        const quint32 N0 = L0 ^ A ^ B;
        const quint32 N1 = L1 ^ C ^ D;
        L0 = R0;
        L1 = R1;
        R0 = N0;
        R1 = N1;
    }
    TMixBlock out;
    putWord(out.data(), 0, L0);
    putWord(out.data(), 1, L1);
    putWord(out.data(), 2, R0);
    putWord(out.data(), 3, R1);
    return out;
}

QByteArray DigestKey(const QByteArray &data, int size)
{
    TKeyDigestState state;
    for (const char x : data)
        state.absorb(quint8(x));
    state.close();

    TKey128 key;
    std::copy(state.accumulator.begin(), state.accumulator.end(), key.begin());
    const TMixCipherSchedule schedule = InitMixCipher(key, 8, true);
    for (int offset = 0; offset < 256; offset += 16) {
        TMixBlock block;
        std::copy_n(state.buffer.begin() + offset, 16, block.begin());
        block = EncryptMixCipher(schedule, block);
        std::copy(block.begin(), block.end(), state.buffer.begin() + offset);
    }
    const int count = std::clamp(size, 0, 256);
    return QByteArray(reinterpret_cast<const char *>(state.buffer.data()), count);
}
