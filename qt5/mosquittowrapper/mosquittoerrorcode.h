#ifndef ORVELEXTLIB_MOSQUITTOERRORCODE_H
#define ORVELEXTLIB_MOSQUITTOERRORCODE_H

#include <QMetaType>

namespace qtmosquitto {

/// Error code carried by the error signals of the MQTT clients. 0 to 16 are
/// libmosquitto's result codes of the same number; the values from 0x1000 up
/// are refused connection acknowledgements (CONNACK 1 to 3 of MQTT 3.1); every
/// other code reads as UnknownError.
enum MosquittoErrorCode {
    UnknownError = -1,
    Success = 0,
    NoMemory = 1,
    ProtocolError = 2,
    InvalidArguments = 3,
    NoConnection = 4,
    ConnectionRefused = 5,
    NotFound = 6,
    ConnectionLost = 7,
    TlsError = 8,
    PayloadSizeError = 9,
    NotSupported = 10,
    AuthError = 11,
    AclDenied = 12,
    UnknownMosquittoError = 13,
    SystemError = 14,
    LookupError = 15,
    ProxyError = 16,
    ConnackUnacceptableProtocol = 0x1000,
    ConnackIdentifierRejected = 0x2000,
    ConnackServerUnavailable = 0x3000
};

} // namespace qtmosquitto

Q_DECLARE_METATYPE(qtmosquitto::MosquittoErrorCode)

#endif // ORVELEXTLIB_MOSQUITTOERRORCODE_H
