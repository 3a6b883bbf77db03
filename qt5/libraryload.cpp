// Everything the library does when it is loaded happens here, in one
// translation unit, so that the order of initialisation is the order below.

#include <qsettingsext/dircreator.h>
#include <values/appversion.h>
#include <values/appversion_p.h>

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

// --- the library's own version and build moment ---
const QString AppVersion::VERSION = QStringLiteral("4.2.6");
const QString AppVersion::BUILD = appVersionBuildMoment(__DATE__, __TIME__);
