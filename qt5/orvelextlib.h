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

#include <httpfileloader/httpfileloader.h>

#endif // ORVELEXTLIB_H
