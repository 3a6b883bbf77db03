#ifndef ORVELEXTLIB_VMPC_H
#define ORVELEXTLIB_VMPC_H

#include <orvelextlib_export.h>

#include <QByteArray>

namespace encrypt {

/// The VMPC stream cipher with the VMPC key-scheduling algorithm (768 rounds
/// per pass) and its optional initialisation-vector pass.
///
/// Every call rebuilds the cipher state from its key and IV, so one object
/// serves any number of independent calls. An object must not be used by two
/// threads at once; separate objects are independent.
class ORVELEXTLIB_EXPORT VMPC
{
public:
    /// No key, no IV, an all-zero permutation.
    VMPC();
    ~VMPC();
    /// Copies take the key, the IV and the cipher state of the last call.
    ///@{
    VMPC(const VMPC &) = default;
    VMPC &operator=(const VMPC &) = default;
    ///@}

    /// Runs the key schedule on the stored key and IV: the permutation starts
    /// as the identity and gets one pass with the key, then one with the IV
    /// when the IV holds 16 to 64 bytes. Without a stored key of 16 to 64
    /// bytes (a fresh object, or after a refused call) only the identity is
    /// set up.
    void init();

    /// Encrypts or decrypts `data` (the operation is its own inverse) with
    /// `key` and `iv`; the result has the length of `data`.
    /// A key shorter than 16 or longer than 64 bytes, or empty data, returns
    /// `data` unchanged. An IV outside 16 to 64 bytes (an empty one included)
    /// is ignored.
    QByteArray operator()(const QByteArray &key, QByteArray iv, const QByteArray &data);

private:
    qint32 m_keyLength = 0;
    QByteArray m_key;
    qint32 m_ivLength = 0;
    QByteArray m_iv;
    quint8 m_s = 0;
    quint8 m_P[256] = {};
};

} // namespace encrypt

#endif // ORVELEXTLIB_VMPC_H
