#ifndef ORVELEXTLIB_LOGTAB_H
#define ORVELEXTLIB_LOGTAB_H

#include <orvelextlib_export.h>

#include <QTextStream>

/// Stream manipulator: a line end (with flush), then the 15 blanks that
/// indent continuation lines of a log entry. Any thread.
ORVELEXTLIB_EXPORT QTextStream &logtab(QTextStream &stream);

#endif // ORVELEXTLIB_LOGTAB_H
