#pragma once

#include <QObject>

class QNetworkReply;

// Watchdog of one callback-style reply: a child of the reply (it dies with it) whose onTimeout aborts
// the reply if it is still running and marks it with the dynamic property "isAborted".
class ReplyTimeout : public QObject
{
    Q_OBJECT

public:
    explicit ReplyTimeout(QNetworkReply* reply);

public slots:
    void onTimeout();
};
