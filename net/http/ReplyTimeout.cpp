#include "net/http/ReplyTimeout.h"

#include <QDebug>
#include <QNetworkReply>

ReplyTimeout::ReplyTimeout(QNetworkReply* reply) : QObject(reply) {}

void ReplyTimeout::onTimeout()
{
    auto* reply = qobject_cast<QNetworkReply*>(parent());
    if (!reply || !reply->isRunning())
        return;
    qDebug() << reply << "HTTP请求超时，主动放弃";
    reply->abort();
    // The completion slot is connected queued, so it sees the mark set here.
    reply->setProperty("isAborted", true);
}
