// Everything the library does when it is loaded happens here, in one
// translation unit, so that the order of initialisation is the order below.

#include <qsettingsext/dircreator.h>
#include <stomp/qstompframe_p.h>

// --- directory and file permission sets ---
const QFileDevice::Permissions DirCreator::DEFAULT_GROUP =
    DirCreator::DEFAULT_OWNER | QFileDevice::ReadGroup | QFileDevice::WriteGroup
    | QFileDevice::ExeGroup;
const QFileDevice::Permissions DirCreator::DEFAULT_ALL =
    DirCreator::DEFAULT_GROUP | QFileDevice::ReadOther | QFileDevice::WriteOther
    | QFileDevice::ExeOther;
const QFileDevice::Permissions DirCreator::FILE_DEFAULT_GROUP =
    DirCreator::FILE_DEFAULT_OWNER | QFileDevice::ReadGroup | QFileDevice::WriteGroup;
const QFileDevice::Permissions DirCreator::FILE_DEFAULT_ALL =
    DirCreator::FILE_DEFAULT_GROUP | QFileDevice::ReadOther | QFileDevice::WriteOther;

// --- STOMP command words, in the order of the protocol's command list ---
const QList<QByteArray> stompCommandList = {
    QByteArrayLiteral("ABORT"),   QByteArrayLiteral("ACK"),         QByteArrayLiteral("BEGIN"),
    QByteArrayLiteral("COMMIT"),  QByteArrayLiteral("CONNECT"),     QByteArrayLiteral("DISCONNECT"),
    QByteArrayLiteral("CONNECTED"), QByteArrayLiteral("MESSAGE"),   QByteArrayLiteral("SEND"),
    QByteArrayLiteral("SUBSCRIBE"), QByteArrayLiteral("UNSUBSCRIBE"), QByteArrayLiteral("RECEIPT"),
    QByteArrayLiteral("ERROR"),   QByteArrayLiteral("NACK"),        QByteArrayLiteral("STOMP")};
