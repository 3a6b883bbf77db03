#ifndef ORVELEXTLIB_H
#define ORVELEXTLIB_H

// Every public header of the library.

#include <orvelextlib_export.h>

#include <workers/abstractworker.h>
#include <workers/abstractworkercontroller.h>
#include <workers/abstractworkerthread.h>

#include <logger/logbinary.h>
#include <logger/logencoded.h>
#include <logger/loggermanager.h>
#include <logger/loglist.h>
#include <logger/logtab.h>
#include <logger/logvariant.h>

#include <values/appversion.h>
#include <values/bcd.h>
#include <values/extfixnumber.h>
#include <values/fixnumber.h>

#include <qsettingsext/dircreator.h>
#include <qsettingsext/initconfig.h>
#include <qsettingsext/jsonsettings.h>
#include <qsettingsext/xmlsettings.h>

#include <sqlite/basesqlitedbconnector.h>
#include <zip/unzip.h>
#include <zip/zip.h>
#include <zip/zipentry.h>
#include <zip/zipglobal.h>
#include <sys/sysutils.h>

#include <serial/irs232settings.h>
#include <serial/portsettings.h>
#include <serial/rs232settings.h>

#include <gz/gzipstreamwrapper.h>

#include <crypto/aeswrapper.h>
#include <crypto/cryptedsettingsstorage.h>
#include <crypto/cryptodatamanager.h>
#include <crypto/keynumber.h>
#include <crypto/vmpc.h>

#include <stomp/qstompclient.h>
#include <stomp/qstompframe.h>
#include <stomp/qstomprequestframe.h>
#include <stomp/qstompresponseframe.h>

#include <httpfileloader/httpfileloader.h>

#include <mosquittowrapper/basemosquittocontroller.h>
#include <mosquittowrapper/basemosquittohandler.h>
#include <mosquittowrapper/basemosquittoworker.h>
#include <mosquittowrapper/mosquittoconfig.h>
#include <mosquittowrapper/mosquittoerrorcode.h>
#include <mosquittowrapper/mosquittohandlersfactory.h>
#include <mosquittowrapper/mosquittomessage.h>
#include <mosquittowrapper/mosquittoworker.h>
#include <mosquittowrapper/qtmosquittoclient.h>
#include <mosquittowrapper/qtmosquittoclientasync.h>
#include <mosquittowrapper/qtmosquittoclientbase.h>
#include <mosquittowrapper/qtmosquittoclientsync.h>

#endif // ORVELEXTLIB_H
