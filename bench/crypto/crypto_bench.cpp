// Prints the throughput of AesWrapper::rEncrypt/rDecrypt and of the VMPC
// operator over 64 MiB, next to OpenSSL's AES-128-ECB (EVP interface) measured
// in the same run with hardware AES and without it (a child process of this
// program started with OPENSSL_ia32cap masking AES-NI and PCLMULQDQ), and next
// to a plain byte-serial VMPC loop; then the cost of one VMPC call on a small
// store. MB are 10^6 bytes.
//
// Throughput is counted in CPU time of the measuring thread, so time the
// thread spends waiting for a core on a busy machine does not count. The
// measurements take turns, round after round, and each figure is the best of
// its rounds: a burst of load then hits every contender alike.
//
// The allocator keeps freed memory here: faulting in a fresh 64 MiB result
// costs this VM about as much as enciphering it, and would measure the kernel
// rather than the ciphers (OpenSSL writes into a buffer it is given).

#include <crypto/aeswrapper.h>
#include <crypto/vmpc.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QProcess>
#include <QRandomGenerator>

#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <malloc.h>

namespace {

constexpr qsizetype kBulkBytes = 64 * 1024 * 1024;
constexpr int kRounds = 5;
const char kChildFlag[] = "--openssl-only";
const char kSoftwareMask[] = "~0x200000200000000";

struct Best
{
    double value = 0;
    void add(double x) { value = qMax(value, x); }
};

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// MB per CPU second of one call of `step` over `bytes` bytes.
template<typename Step>
double rate(qsizetype bytes, Step step)
{
    const double start = threadSeconds();
    step();
    return double(bytes) / 1e6 / (threadSeconds() - start);
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(20240611);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

// OpenSSL's AES-128-ECB without padding, once each way; returns {encrypt, decrypt} MB/s.
class OpenSslAes
{
public:
    OpenSslAes(const QByteArray &data, const QByteArray &key)
        : m_data(data), m_key(key), m_out(data.size() + 32, Qt::Uninitialized),
          m_back(data.size() + 32, Qt::Uninitialized), m_ctx(EVP_CIPHER_CTX_new())
    {
    }
    ~OpenSslAes() { EVP_CIPHER_CTX_free(m_ctx); }

    QPair<double, double> measure()
    {
        const double enc = rate(m_data.size(), [&] { run(true, m_data.constData(), m_out.data()); });
        const double dec = rate(m_data.size(), [&] { run(false, m_out.constData(), m_back.data()); });
        if (std::memcmp(m_back.constData(), m_data.constData(), size_t(m_data.size())) != 0)
            std::fprintf(stderr, "OpenSSL round trip failed\n");
        return {enc, dec};
    }

private:
    void run(bool encrypt, const char *in, char *out)
    {
        int length = 0;
        EVP_CipherInit_ex(m_ctx, EVP_aes_128_ecb(), nullptr,
                          reinterpret_cast<const unsigned char *>(m_key.constData()), nullptr, encrypt ? 1 : 0);
        EVP_CIPHER_CTX_set_padding(m_ctx, 0);
        EVP_CipherUpdate(m_ctx, reinterpret_cast<unsigned char *>(out), &length,
                         reinterpret_cast<const unsigned char *>(in), int(m_data.size()));
    }

    QByteArray m_data;
    QByteArray m_key;
    QByteArray m_out;
    QByteArray m_back;
    EVP_CIPHER_CTX *m_ctx;
};

// OpenSSL without AES-NI: the capability mask is read when libcrypto starts,
// so it runs in a child process started with the mask in its environment.
bool measureSoftwareOpenSsl(Best &enc, Best &dec)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("OPENSSL_ia32cap"), QLatin1String(kSoftwareMask));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QLatin1String(kChildFlag)});
    if (!child.waitForFinished(300000) || child.exitCode() != 0)
        return false;
    const QList<QByteArray> parts = child.readAllStandardOutput().simplified().split(' ');
    if (parts.size() != 2)
        return false;
    enc.add(parts.at(0).toDouble());
    dec.add(parts.at(1).toDouble());
    return true;
}

// The reference: VMPC written as the plainest byte-serial loop.
void plainVmpc(const QByteArray &key, const QByteArray &iv, const QByteArray &in, QByteArray &out)
{
    unsigned char P[256];
    unsigned s = 0;
    for (int i = 0; i < 256; ++i)
        P[i] = static_cast<unsigned char>(i);
    const auto pass = [&](const QByteArray &k) {
        for (int m = 0; m < 768; ++m) {
            const unsigned n = m & 255;
            const unsigned char a = P[n];
            s = P[(s + a + static_cast<unsigned char>(k[m % k.size()])) & 255];
            P[n] = P[s];
            P[s] = a;
        }
    };
    pass(key);
    pass(iv);
    const auto *src = reinterpret_cast<const unsigned char *>(in.constData());
    auto *dst = reinterpret_cast<unsigned char *>(out.data());
    for (qsizetype j = 0; j < in.size(); ++j) {
        const unsigned n = j & 255;
        const unsigned char a = P[n];
        s = P[(s + a) & 255];
        dst[j] = P[(P[P[s]] + 1) & 255] ^ src[j];
        P[n] = P[s];
        P[s] = a;
    }
}

void print(const char *what, double value, const char *unit)
{
    std::printf(unit[0] == 'x' ? "%-56s %9.2f %s\n" : "%-56s %9.1f %s\n", what, value, unit);
}

} // namespace

int main(int argc, char **argv)
{
    mallopt(M_MMAP_THRESHOLD, 512 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
    QCoreApplication app(argc, argv);
    const QByteArray key = QByteArrayLiteral("\x2b\x7e\x15\x16\x28\xae\xd2\xa6\xab\xf7\x15\x88\x09\xcf\x4f\x3c");
    const QByteArray data = randomBytes(kBulkBytes);

    if (argc > 1 && std::strcmp(argv[1], kChildFlag) == 0) {
        OpenSslAes openssl(data, key);
        const QPair<double, double> figures = openssl.measure();
        std::printf("%.1f %.1f\n", figures.first, figures.second);
        return 0;
    }

    std::printf("crypto_bench: %lld MiB per call, best of %d rounds\n\n",
                static_cast<long long>(kBulkBytes / (1024 * 1024)), kRounds);

    AesWrapper aes;
    aes.key = key;
    OpenSslAes openssl(data, key);
    const QByteArray vmpcKey = QCryptographicHash::hash(data.left(64), QCryptographicHash::Md5);
    const QByteArray vmpcIv = QCryptographicHash::hash(vmpcKey, QCryptographicHash::Md5);
    encrypt::VMPC vmpc;
    QByteArray cipher;
    QByteArray plain;
    QByteArray stream;
    QByteArray reference(data.size(), Qt::Uninitialized);
    Best aesEnc, aesDec, hardEnc, hardDec, softEnc, softDec, vmpcRate, plainRate;
    bool software = true;
    for (int round = 0; round < kRounds; ++round) {
        aesEnc.add(rate(data.size(), [&] { cipher = aes.rEncrypt(data); }));
        aesDec.add(rate(data.size(), [&] { plain = aes.rDecrypt(cipher); }));
        software = measureSoftwareOpenSsl(softEnc, softDec) && software;
        const QPair<double, double> hardware = openssl.measure();
        hardEnc.add(hardware.first);
        hardDec.add(hardware.second);
        vmpcRate.add(rate(data.size(), [&] { stream = vmpc(vmpcKey, vmpcIv, data); }));
        plainRate.add(rate(data.size(), [&] { plainVmpc(vmpcKey, vmpcIv, data, reference); }));
    }
    if (plain != data)
        std::fprintf(stderr, "AesWrapper round trip failed\n");
    if (stream != reference)
        std::fprintf(stderr, "VMPC differs from the reference loop\n");

    print("AesWrapper::rEncrypt (AES-128 ECB, T-tables)", aesEnc.value, "MB/s");
    print("AesWrapper::rDecrypt", aesDec.value, "MB/s");
    print("OpenSSL EVP AES-128-ECB encrypt, hardware AES", hardEnc.value, "MB/s");
    print("OpenSSL EVP AES-128-ECB decrypt, hardware AES", hardDec.value, "MB/s");
    if (software) {
        print("OpenSSL EVP AES-128-ECB encrypt, software (no AES-NI)", softEnc.value, "MB/s");
        print("OpenSSL EVP AES-128-ECB decrypt, software (no AES-NI)", softDec.value, "MB/s");
        print("  AesWrapper / OpenSSL software, encrypt (target >= 1.3)", aesEnc.value / softEnc.value, "x");
        print("  AesWrapper / OpenSSL software, decrypt (target >= 1.3)", aesDec.value / softDec.value, "x");
    } else {
        std::printf("OpenSSL software AES: the child process failed\n");
    }
    std::printf("\n");
    print("encrypt::VMPC operator (16-byte key and IV)", vmpcRate.value, "MB/s");
    print("plain byte-serial VMPC loop", plainRate.value, "MB/s");
    print("  VMPC / plain loop (target >= 0.9)", vmpcRate.value / plainRate.value, "x");

    // A single byte costs the key schedule alone; 600 bytes are a typical
    // compressed settings store.
    for (const qsizetype size : {qsizetype(1), qsizetype(600)}) {
        const QByteArray small = data.left(size);
        const int calls = 20000;
        double best = 1e30;
        for (int round = 0; round < kRounds; ++round) {
            const double start = threadSeconds();
            qsizetype sink = 0;
            for (int i = 0; i < calls; ++i)
                sink += vmpc(vmpcKey, vmpcIv, small).size();
            best = qMin(best, (threadSeconds() - start) * 1e6 / calls);
            if (sink != calls * size)
                std::fprintf(stderr, "VMPC length mismatch\n");
        }
        char label[96];
        std::snprintf(label, sizeof label, "one VMPC call on %lld byte%s (key and IV schedule)",
                      static_cast<long long>(size), size == 1 ? "" : "s");
        print(label, best, "us");
    }
    return 0;
}
