#ifndef ORVELEXTLIB_MOSQUITTOERRORCODE_H
#define ORVELEXTLIB_MOSQUITTOERRORCODE_H

#include <QMetaType>

/// The MQTT stack's error codes.
namespace qtmosquitto {

/// Error code carried by the error signals of the MQTT clients. 0 to 16 are
/// libmosquitto's result codes of the same number; the values from 0x1000 up
/// are refused connection acknowledgements (CONNACK 1 to 3 of MQTT 3.1); every
/// other code reads as UnknownError.
enum MosquittoErrorCode {
    UnknownError = -1, ///< any result or CONNACK code without an entry
    Success = 0, ///< success
    NoMemory = 1, ///< out of memory
    ProtocolError = 2, ///< protocol error
    InvalidArguments = 3, ///< invalid arguments (a topic with a NUL byte too)
    NoConnection = 4, ///< not connected
    ConnectionRefused = 5, ///< connection refused
    NotFound = 6, ///< not found
    ConnectionLost = 7, ///< connection lost
    TlsError = 8, ///< TLS error
    PayloadSizeError = 9, ///< payload too large
    NotSupported = 10, ///< feature not supported (SOCKS5 in some builds)
    AuthError = 11, ///< authorisation failed
    AclDenied = 12, ///< access denied by ACL
    UnknownMosquittoError = 13, ///< unknown error reported by libmosquitto
    SystemError = 14, ///< system error; the text is the system's for errno
    LookupError = 15, ///< host name lookup failed
    ProxyError = 16, ///< proxy error
    ConnackUnacceptableProtocol = 0x1000, ///< refused: unacceptable protocol version (CONNACK 1)
    ConnackIdentifierRejected = 0x2000, ///< refused: client identifier rejected (CONNACK 2)
    ConnackServerUnavailable = 0x3000 ///< refused: server unavailable (CONNACK 3)
};

} // namespace qtmosquitto

Q_DECLARE_METATYPE(qtmosquitto::MosquittoErrorCode)

#endif // ORVELEXTLIB_MOSQUITTOERRORCODE_H
