// Everything the library does when it is loaded happens here, in one
// translation unit, so that the order of initialisation is the order below.

#include <qsettingsext/dircreator.h>
#include <serial/rs232settings.h>

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

// --- serial port record keys ---
const QString RS232Settings::PORT_NAME = QStringLiteral("portName");
const QString RS232Settings::PORT_BAUDRATE = QStringLiteral("baudrate");
const QString RS232Settings::PORT_FLOW_CONTROL = QStringLiteral("flowControl");
const QString RS232Settings::PORT_PARITY = QStringLiteral("parity");
const QString RS232Settings::PORT_DATABITS = QStringLiteral("dataBits");
const QString RS232Settings::PORT_STOPBIT = QStringLiteral("stopBit");
