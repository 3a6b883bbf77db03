#include "aes_p.h"

#include <QtEndian>

#include <atomic>

#if defined(__GNUC__) && !defined(__clang__) && (defined(__x86_64__) || defined(__i386__))
#  define ORVEL_AES_BMI 1
#  include <immintrin.h>
#else
#  define ORVEL_AES_BMI 0
#endif

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

namespace generic {
#define AES_BYTE2(x) (((x) >> 16) & 0xff)
#include "aeskernel_p.h"
#undef AES_BYTE2
} // namespace generic

#if ORVEL_AES_BMI
} // namespace

#pragma GCC push_options
#pragma GCC target("bmi")
namespace {
namespace bmi {
#define AES_BYTE2(x) _bextr_u32((x), 16, 8)
#include "aeskernel_p.h"
#undef AES_BYTE2
} // namespace bmi
} // namespace
#pragma GCC pop_options

namespace {
#endif

using BlocksFunction = void (*)(const quint32 *, int, const quint8 *, quint8 *, qsizetype);

struct Kernels
{
    BlocksFunction encrypt;
    BlocksFunction decrypt;
};

std::atomic<bool> allowBmi{true};

const Kernels &kernels()
{
    static const Kernels portable{generic::encryptBlocks, generic::decryptBlocks};
#if ORVEL_AES_BMI
    static const Kernels withBmi{bmi::encryptBlocks, bmi::decryptBlocks};
    static const bool hasBmi = [] {
        __builtin_cpu_init(); // in case the first call comes from a static constructor
        return __builtin_cpu_supports("bmi") != 0;
    }();
    if (hasBmi && allowBmi.load(std::memory_order_relaxed))
        return withBmi;
#endif
    return portable;
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
    generic::encryptOne(schedule, rounds, in, out);
}

void aesDecryptBlock(const quint32 *schedule, int rounds, const quint8 *in, quint8 *out)
{
    generic::decryptOne(schedule, rounds, in, out);
}

void aesEncryptBlocks(const quint32 *schedule, int rounds, const quint8 *in, quint8 *out, qsizetype blocks)
{
    kernels().encrypt(schedule, rounds, in, out, blocks);
}

void aesDecryptBlocks(const quint32 *schedule, int rounds, const quint8 *in, quint8 *out, qsizetype blocks)
{
    kernels().decrypt(schedule, rounds, in, out, blocks);
}

void aesAllowBmi(bool allow)
{
    allowBmi.store(allow, std::memory_order_relaxed);
}
