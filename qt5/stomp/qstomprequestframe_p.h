#ifndef ORVELEXTLIB_QSTOMPREQUESTFRAME_P_H
#define ORVELEXTLIB_QSTOMPREQUESTFRAME_P_H

#include "qstompframe_p.h"
#include "qstomprequestframe.h"

class QStompRequestFramePrivate : public QStompFramePrivate
{
public:
    QStompRequestFrame::RequestType type = QStompRequestFrame::RequestInvalid;
};

#endif // ORVELEXTLIB_QSTOMPREQUESTFRAME_P_H
