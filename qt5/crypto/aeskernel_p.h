// The block loops of the AES cipher, compiled twice by aes.cpp: once for
// any x86-64 (or other) processor and once with the BMI1 instruction BEXTR,
// which takes a byte out of the middle of a word in one step where a shift
// and a zero extension take two. The includer defines AES_BYTE2(x), the third
// byte from the low end of x, and opens the namespace.
// No include guard on purpose.

// One full round: output word c takes byte 0 of column c, byte 1 of column
// c + 1, byte 2 of column c + 2 and byte 3 of column c + 3 (ShiftRows).
Q_ALWAYS_INLINE quint32 encColumn(quint32 a, quint32 b, quint32 c, quint32 d, quint32 k)
{
    return T.te[0][a >> 24] ^ T.te[1][AES_BYTE2(b)] ^ T.te[2][(c >> 8) & 0xff] ^ T.te[3][d & 0xff] ^ k;
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
    return T.td[0][a >> 24] ^ T.td[1][AES_BYTE2(b)] ^ T.td[2][(c >> 8) & 0xff] ^ T.td[3][d & 0xff] ^ k;
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

inline void encryptOne(const quint32 *rk, int rounds, const quint8 *in, quint8 *out)
{
    State s = loadState(in, rk);
    for (int r = 1; r < rounds; ++r)
        s = encRound(s, rk += 4);
    storeState(out, encFinal(s, rk + 4));
}

inline void decryptOne(const quint32 *rk, int rounds, const quint8 *in, quint8 *out)
{
    State s = loadState(in, rk);
    for (int r = 1; r < rounds; ++r)
        s = decRound(s, rk += 4);
    storeState(out, decFinal(s, rk + 4));
}

// Two blocks side by side: the table look-ups of one block wait on each
// other, so an independent block fills the gaps (ECB has no chaining).
inline void encryptTwo(const quint32 *rk, int rounds, const quint8 *in, quint8 *out)
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

inline void decryptTwo(const quint32 *rk, int rounds, const quint8 *in, quint8 *out)
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

void encryptBlocks(const quint32 *schedule, int rounds, const quint8 *in, quint8 *out, qsizetype blocks)
{
    qsizetype b = 0;
    for (; b + 2 <= blocks; b += 2)
        encryptTwo(schedule, rounds, in + 16 * b, out + 16 * b);
    if (b < blocks)
        encryptOne(schedule, rounds, in + 16 * b, out + 16 * b);
}

void decryptBlocks(const quint32 *schedule, int rounds, const quint8 *in, quint8 *out, qsizetype blocks)
{
    qsizetype b = 0;
    for (; b + 2 <= blocks; b += 2)
        decryptTwo(schedule, rounds, in + 16 * b, out + 16 * b);
    if (b < blocks)
        decryptOne(schedule, rounds, in + 16 * b, out + 16 * b);
}
