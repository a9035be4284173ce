#pragma once

#include "net/session/VProtoMsg.h"

#include <QMetaType>
#include <QString>

// The answer of the session server to one request of ZebServerComm.
struct ZebServerResponse
{
    // The envelope's state of a decoded answer; -200 when the channel failed the request.
    int code = 0;
    // The decoded answer message; null when there is none.
    VProtoMsgPtr msg;
    // The description of an "ErrorResult.Info" answer or the transport error text.
    QString text;
};

Q_DECLARE_METATYPE(ZebServerResponse)
