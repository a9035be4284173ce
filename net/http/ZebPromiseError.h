#pragma once

#include <QMetaType>
#include <QString>

// Rejection value of every promise of the program: a message text and a numeric code
// (a QNetworkReply::NetworkError value for transport failures, 0 otherwise).
struct ZebPromiseError
{
    QString text;
    int code = 0;
};

Q_DECLARE_METATYPE(ZebPromiseError)
