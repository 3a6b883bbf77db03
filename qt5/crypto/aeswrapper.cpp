#include "aeswrapper.h"
#include "aes_p.h"

#include <QDateTime>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/rand.h>

#include <limits>
#include <utility>

namespace {
constexpr int KeyBytes = 16;
} // namespace

AesWrapper::AesWrapper()
{
    const QDateTime now = QDateTime::currentDateTime();
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    qsrand(now.toTime_t());
    QT_WARNING_POP
    const QByteArray text = now.toString().toUtf8();
    RAND_seed(text.constData(), text.size());
}

AesWrapper::~AesWrapper() = default;

namespace {

// ECB over whole blocks. When the caller handed over its only reference, the
// input array itself becomes the result, so a large array is neither
// allocated nor faulted in a second time.
template<typename Cipher>
QByteArray processBlocks(QByteArray data, Cipher cipher)
{
    const qsizetype blocks = data.size() / AesWrapper::BLOCK_SIZE;
    if (data.isDetached()) {
        auto *buffer = reinterpret_cast<quint8 *>(data.data());
        cipher(buffer, buffer, blocks);
        return data;
    }
    QByteArray result(data.size(), Qt::Uninitialized);
    cipher(reinterpret_cast<const quint8 *>(data.constData()), reinterpret_cast<quint8 *>(result.data()), blocks);
    return result;
}

} // namespace

QByteArray AesWrapper::rEncrypt(QByteArray data) const
{
    if (key.size() < KeyBytes || data.isEmpty())
        return QByteArray();
    quint32 schedule[AesMaxScheduleWords];
    const int rounds = aesKeySetupEncrypt(schedule, reinterpret_cast<const quint8 *>(key.constData()), 128);
    const int tail = data.size() % BLOCK_SIZE;
    if (tail)
        data.append(BLOCK_SIZE - tail, '\0');
    return processBlocks(std::move(data), [&](const quint8 *in, quint8 *out, qsizetype blocks) {
        aesEncryptBlocks(schedule, rounds, in, out, blocks);
    });
}

QByteArray AesWrapper::rDecrypt(QByteArray data) const
{
    if (key.size() < KeyBytes || data.isEmpty() || data.size() % BLOCK_SIZE)
        return QByteArray();
    quint32 schedule[AesMaxScheduleWords];
    const int rounds = aesKeySetupDecrypt(schedule, reinterpret_cast<const quint8 *>(key.constData()), 128);
    return processBlocks(std::move(data), [&](const quint8 *in, quint8 *out, qsizetype blocks) {
        aesDecryptBlocks(schedule, rounds, in, out, blocks);
    });
}

// Failures leave no entry in OpenSSL's error queue: hosts (and Qt's TLS code)
// read that queue after their own calls.
KeyNumber AesWrapper::generatePrime(unsigned int bits) const
{
    if (bits > 64)
        return KeyNumber();
    BIGNUM *number = BN_new();
    const bool ok = number && BN_generate_prime_ex(number, int(bits), 1, nullptr, nullptr, nullptr) == 1;
    if (!ok)
        ERR_clear_error();
    const KeyNumber result = ok ? KeyNumber(number) : KeyNumber();
    BN_free(number);
    return result;
}

KeyNumber AesWrapper::generateRnd(unsigned int bits) const
{
    if (bits > unsigned(std::numeric_limits<int>::max()))
        return KeyNumber();
    BIGNUM *number = BN_new();
    const bool ok = number && BN_rand(number, int(bits), BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ODD) == 1;
    if (!ok)
        ERR_clear_error();
    const KeyNumber result = ok ? KeyNumber(number) : KeyNumber();
    BN_free(number);
    return result;
}
