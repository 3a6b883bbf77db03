#ifndef ORVELEXTLIB_H
#define ORVELEXTLIB_H

// Every public header of the library.

#include <orvelextlib_export.h>

#include <workers/abstractworker.h>
#include <workers/abstractworkercontroller.h>
#include <workers/abstractworkerthread.h>

#include <logger/logbinary.h>
#include <logger/logencoded.h>
#include <logger/loglist.h>
#include <logger/logtab.h>
#include <logger/logvariant.h>

#include <qsettingsext/dircreator.h>

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
