#ifndef ORVELEXTLIB_QSTOMPRESPONSEFRAME_P_H
#define ORVELEXTLIB_QSTOMPRESPONSEFRAME_P_H

#include "qstompframe_p.h"
#include "qstompresponseframe.h"

class QStompResponseFramePrivate : public QStompFramePrivate
{
public:
    QStompResponseFrame::ResponseType type = QStompResponseFrame::ResponseInvalid;
};

#endif // ORVELEXTLIB_QSTOMPRESPONSEFRAME_P_H
