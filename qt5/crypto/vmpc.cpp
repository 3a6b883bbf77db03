#include "vmpc.h"

#include <cstring>

namespace encrypt {

namespace {

constexpr int MinLength = 16;
constexpr int MaxLength = 64;

bool usable(qint32 length, const QByteArray &bytes)
{
    return length >= MinLength && length <= MaxLength && bytes.size() >= length;
}

// One pass of the key schedule: 768 rounds over `bytes` (of `length` bytes).
void schedulePass(quint8 *P, quint8 &s, const QByteArray &bytes, int length)
{
    const auto *k = reinterpret_cast<const quint8 *>(bytes.constData());
    quint8 state = s;
    for (int m = 0; m < 768; ++m) {
        const quint8 n = quint8(m);
        const quint8 a = P[n];
        state = P[quint8(state + a + k[m % length])];
        P[n] = P[state];
        P[state] = a;
    }
    s = state;
}

} // namespace

VMPC::VMPC() = default;

VMPC::~VMPC() = default;

void VMPC::init()
{
    m_s = 0;
    for (int i = 0; i < 256; ++i)
        m_P[i] = quint8(i);
    if (!usable(m_keyLength, m_key))
        return;
    schedulePass(m_P, m_s, m_key, m_keyLength);
    if (usable(m_ivLength, m_iv))
        schedulePass(m_P, m_s, m_iv, m_ivLength);
}

QByteArray VMPC::operator()(const QByteArray &key, QByteArray iv, const QByteArray &data)
{
    m_keyLength = key.size();
    if (m_keyLength < MinLength || m_keyLength > MaxLength || data.isEmpty())
        return data;
    m_key = key;
    m_iv = std::move(iv);
    m_ivLength = m_iv.size();
    init();

    // A local copy of the permutation: stores to the output (char) could
    // alias a member array and would force reloads in the loop.
    quint8 P[256];
    std::memcpy(P, m_P, sizeof P);
    unsigned s = m_s;
    const qsizetype size = data.size();
    QByteArray result(size, Qt::Uninitialized);
    const auto *in = reinterpret_cast<const quint8 *>(data.constData());
    auto *out = reinterpret_cast<quint8 *>(result.data());
    for (qsizetype j = 0; j < size; ++j) {
        const unsigned n = unsigned(j) & 255;
        const quint8 a = P[n];
        s = P[(s + a) & 255];
        out[j] = quint8(P[(P[P[s]] + 1) & 255] ^ in[j]);
        P[n] = P[s];
        P[s] = a;
    }
    std::memcpy(m_P, P, sizeof P);
    m_s = quint8(s);
    return result;
}

} // namespace encrypt
