#include "logtab.h"

#include "logging_p.h"

QTextStream &logtab(QTextStream &stream)
{
    stream << Qt::endl << logIndent();
    return stream;
}
