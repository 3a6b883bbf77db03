#include "aes_p.h"

#include <QtEndian>

namespace {

// The tables of the standard, computed at compile time from the field
// arithmetic: the S-box and its inverse, four encryption tables (SubBytes with
// MixColumns, one per byte position) and four decryption tables (InvSubBytes
// with InvMixColumns).
struct AesTables
{
    quint8 sbox[256];
    quint8 isbox[256];
    quint32 te[4][256];
    quint32 td[4][256];
    quint32 rcon[11];
};

constexpr quint8 xtime(quint8 x)
{
    return quint8((x << 1) ^ ((x & 0x80) ? 0x1b : 0x00));
}

constexpr quint8 gmul(quint8 a, quint8 b)
{
    quint8 product = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (b & 1)
            product ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return product;
}

constexpr quint8 rotl8(quint8 x, int n)
{
    return quint8((x << n) | (x >> (8 - n)));
}

constexpr quint32 ror32(quint32 x, int n)
{
    return (x >> n) | (x << (32 - n));
}

constexpr quint32 word(quint8 b0, quint8 b1, quint8 b2, quint8 b3)
{
    return (quint32(b0) << 24) | (quint32(b1) << 16) | (quint32(b2) << 8) | quint32(b3);
}

constexpr AesTables makeTables()
{
    AesTables t{};
    // Powers and logarithms of the generator 3 give the multiplicative inverse.
    quint8 power[256] = {};
    quint8 logarithm[256] = {};
    quint8 x = 1;
    for (int i = 0; i < 255; ++i) {
        power[i] = x;
        logarithm[x] = quint8(i);
        x = gmul(x, 3);
    }
    for (int i = 0; i < 256; ++i) {
        const quint8 inverse = i == 0 ? 0 : power[(255 - logarithm[i]) % 255];
        const quint8 s = quint8(inverse ^ rotl8(inverse, 1) ^ rotl8(inverse, 2) ^ rotl8(inverse, 3)
                                ^ rotl8(inverse, 4) ^ 0x63);
        t.sbox[i] = s;
        t.isbox[s] = quint8(i);
    }
    for (int i = 0; i < 256; ++i) {
        const quint8 s = t.sbox[i];
        const quint32 e = word(xtime(s), s, s, quint8(xtime(s) ^ s));
        const quint8 v = t.isbox[i];
        const quint32 d = word(gmul(v, 0x0e), gmul(v, 0x09), gmul(v, 0x0d), gmul(v, 0x0b));
        for (int k = 0; k < 4; ++k) {
            t.te[k][i] = k ? ror32(e, 8 * k) : e;
            t.td[k][i] = k ? ror32(d, 8 * k) : d;
        }
    }
    quint8 r = 1;
    t.rcon[0] = 0;
    for (int i = 1; i < 11; ++i) {
        t.rcon[i] = quint32(r) << 24;
        r = xtime(r);
    }
    return t;
}

alignas(64) constexpr AesTables T = makeTables();

static_assert(T.sbox[0x00] == 0x63 && T.sbox[0x53] == 0xed && T.sbox[0xff] == 0x16, "S-box");
static_assert(T.isbox[0x63] == 0x00 && T.te[0][0] == 0xc66363a5u && T.td[0][0] == 0x51f4a750u, "tables");
static_assert(T.rcon[10] == 0x36000000u, "round constants");

inline quint32 load(const quint8 *p)
{
    return qFromBigEndian<quint32>(p);
}

inline void store(quint8 *p, quint32 v)
{
    qToBigEndian<quint32>(v, p);
}

inline quint32 subWord(quint32 w)
{
    return word(T.sbox[w >> 24], T.sbox[(w >> 16) & 0xff], T.sbox[(w >> 8) & 0xff], T.sbox[w & 0xff]);
}

int roundsFor(int keyBits)
{
    switch (keyBits) {
    case 128:
        return 10;
    case 192:
        return 12;
    case 256:
        return 14;
    default:
        return 0;
    }
}

struct State
{
    quint32 w0, w1, w2, w3;
};

Q_ALWAYS_INLINE State loadState(const quint8 *in, const quint32 *rk)
{
    return {load(in) ^ rk[0], load(in + 4) ^ rk[1], load(in + 8) ^ rk[2], load(in + 12) ^ rk[3]};
}

Q_ALWAYS_INLINE void storeState(quint8 *out, const State &s)
{
    store(out, s.w0);
    store(out + 4, s.w1);
    store(out + 8, s.w2);
    store(out + 12, s.w3);
}

// One full round: output word c takes byte 0 of column c, byte 1 of column
// c + 1, byte 2 of column c + 2 and byte 3 of column c + 3 (ShiftRows).
Q_ALWAYS_INLINE quint32 encColumn(quint32 a, quint32 b, quint32 c, quint32 d, quint32 k)
{
    return T.te[0][a >> 24] ^ T.te[1][(b >> 16) & 0xff] ^ T.te[2][(c >> 8) & 0xff] ^ T.te[3][d & 0xff] ^ k;
}

Q_ALWAYS_INLINE State encRound(const State &s, const quint32 *rk)
{
    return {encColumn(s.w0, s.w1, s.w2, s.w3, rk[0]), encColumn(s.w1, s.w2, s.w3, s.w0, rk[1]),
            encColumn(s.w2, s.w3, s.w0, s.w1, rk[2]), encColumn(s.w3, s.w0, s.w1, s.w2, rk[3])};
}

Q_ALWAYS_INLINE quint32 encLast(quint32 a, quint32 b, quint32 c, quint32 d, quint32 k)
{
    return word(T.sbox[a >> 24], T.sbox[(b >> 16) & 0xff], T.sbox[(c >> 8) & 0xff], T.sbox[d & 0xff]) ^ k;
}

Q_ALWAYS_INLINE State encFinal(const State &s, const quint32 *rk)
{
    return {encLast(s.w0, s.w1, s.w2, s.w3, rk[0]), encLast(s.w1, s.w2, s.w3, s.w0, rk[1]),
            encLast(s.w2, s.w3, s.w0, s.w1, rk[2]), encLast(s.w3, s.w0, s.w1, s.w2, rk[3])};
}

// InvShiftRows takes the bytes from the columns c + 3, c + 2, c + 1 instead.
Q_ALWAYS_INLINE quint32 decColumn(quint32 a, quint32 b, quint32 c, quint32 d, quint32 k)
{
    return T.td[0][a >> 24] ^ T.td[1][(b >> 16) & 0xff] ^ T.td[2][(c >> 8) & 0xff] ^ T.td[3][d & 0xff] ^ k;
}

Q_ALWAYS_INLINE State decRound(const State &s, const quint32 *rk)
{
    return {decColumn(s.w0, s.w3, s.w2, s.w1, rk[0]), decColumn(s.w1, s.w0, s.w3, s.w2, rk[1]),
            decColumn(s.w2, s.w1, s.w0, s.w3, rk[2]), decColumn(s.w3, s.w2, s.w1, s.w0, rk[3])};
}

Q_ALWAYS_INLINE quint32 decLast(quint32 a, quint32 b, quint32 c, quint32 d, quint32 k)
{
    return word(T.isbox[a >> 24], T.isbox[(b >> 16) & 0xff], T.isbox[(c >> 8) & 0xff], T.isbox[d & 0xff]) ^ k;
}

Q_ALWAYS_INLINE State decFinal(const State &s, const quint32 *rk)
{
    return {decLast(s.w0, s.w3, s.w2, s.w1, rk[0]), decLast(s.w1, s.w0, s.w3, s.w2, rk[1]),
            decLast(s.w2, s.w1, s.w0, s.w3, rk[2]), decLast(s.w3, s.w2, s.w1, s.w0, rk[3])};
}

void encryptOne(const quint32 *rk, int rounds, const quint8 *in, quint8 *out)
{
    State s = loadState(in, rk);
    for (int r = 1; r < rounds; ++r)
        s = encRound(s, rk += 4);
    storeState(out, encFinal(s, rk + 4));
}

void decryptOne(const quint32 *rk, int rounds, const quint8 *in, quint8 *out)
{
    State s = loadState(in, rk);
    for (int r = 1; r < rounds; ++r)
        s = decRound(s, rk += 4);
    storeState(out, decFinal(s, rk + 4));
}

// Two blocks side by side: the table look-ups of one block wait on each
// other, so an independent block fills the gaps (ECB has no chaining).
void encryptTwo(const quint32 *rk, int rounds, const quint8 *in, quint8 *out)
{
    State a = loadState(in, rk);
    State b = loadState(in + 16, rk);
    for (int r = 1; r < rounds; ++r) {
        rk += 4;
        a = encRound(a, rk);
        b = encRound(b, rk);
    }
    storeState(out, encFinal(a, rk + 4));
    storeState(out + 16, encFinal(b, rk + 4));
}

void decryptTwo(const quint32 *rk, int rounds, const quint8 *in, quint8 *out)
{
    State a = loadState(in, rk);
    State b = loadState(in + 16, rk);
    for (int r = 1; r < rounds; ++r) {
        rk += 4;
        a = decRound(a, rk);
        b = decRound(b, rk);
    }
    storeState(out, decFinal(a, rk + 4));
    storeState(out + 16, decFinal(b, rk + 4));
}

} // namespace

int aesKeySetupEncrypt(quint32 *schedule, const quint8 *keyBytes, int keyBits)
{
    const int rounds = roundsFor(keyBits);
    if (rounds == 0)
        return 0;
    const int nk = keyBits / 32;
    const int total = 4 * (rounds + 1);
    for (int i = 0; i < nk; ++i)
        schedule[i] = load(keyBytes + 4 * i);
    for (int i = nk; i < total; ++i) {
        quint32 temp = schedule[i - 1];
        if (i % nk == 0)
            temp = subWord((temp << 8) | (temp >> 24)) ^ T.rcon[i / nk];
        else if (nk > 6 && i % nk == 4)
            temp = subWord(temp);
        schedule[i] = schedule[i - nk] ^ temp;
    }
    return rounds;
}

int aesKeySetupDecrypt(quint32 *schedule, const quint8 *keyBytes, int keyBits)
{
    const int rounds = aesKeySetupEncrypt(schedule, keyBytes, keyBits);
    if (rounds == 0)
        return 0;
    for (int i = 0, j = 4 * rounds; i < j; i += 4, j -= 4) {
        for (int c = 0; c < 4; ++c)
            qSwap(schedule[i + c], schedule[j + c]);
    }
    for (int i = 4; i < 4 * rounds; ++i) {
        const quint32 w = schedule[i];
        schedule[i] = T.td[0][T.sbox[w >> 24]] ^ T.td[1][T.sbox[(w >> 16) & 0xff]]
                      ^ T.td[2][T.sbox[(w >> 8) & 0xff]] ^ T.td[3][T.sbox[w & 0xff]];
    }
    return rounds;
}

void aesEncryptBlock(const quint32 *schedule, int rounds, const quint8 *in, quint8 *out)
{
    encryptOne(schedule, rounds, in, out);
}

void aesDecryptBlock(const quint32 *schedule, int rounds, const quint8 *in, quint8 *out)
{
    decryptOne(schedule, rounds, in, out);
}

void aesEncryptBlocks(const quint32 *schedule, int rounds, const quint8 *in, quint8 *out, qsizetype blocks)
{
    qsizetype b = 0;
    for (; b + 2 <= blocks; b += 2)
        encryptTwo(schedule, rounds, in + 16 * b, out + 16 * b);
    if (b < blocks)
        encryptOne(schedule, rounds, in + 16 * b, out + 16 * b);
}

void aesDecryptBlocks(const quint32 *schedule, int rounds, const quint8 *in, quint8 *out, qsizetype blocks)
{
    qsizetype b = 0;
    for (; b + 2 <= blocks; b += 2)
        decryptTwo(schedule, rounds, in + 16 * b, out + 16 * b);
    if (b < blocks)
        decryptOne(schedule, rounds, in + 16 * b, out + 16 * b);
}
