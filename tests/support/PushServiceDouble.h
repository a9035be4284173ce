#pragma once

#include "base/MuSettings.h"
#include "net/http/TestHttpServer.h"
#include "service/MuServer.h"

#include <QMap>
#include <QUrl>
#include <QUrlQuery>

#include <functional>

// The push-stream service on loopback for the workflow's and the panel's tests: a cooperative answer per
// endpoint, one-shot answers queued on top ("HTTP <status> <body>" for not 200), every query recorded.
namespace PushServiceDouble {

inline QByteArray envelope(int code, const QString& msg = QString(), const QByteArray& data = "{}")
{
    return QStringLiteral("{\"code\":%1,\"msg\":\"%2\",\"data\":%3}").arg(code).arg(msg, data).toUtf8();
}

inline const QByteArray kDown = "down"; // stands for a service that is not running

struct Service
{
    explicit Service(const QByteArray& streamUrl = "rtmp://127.0.0.1:1935/live/room42")
    {
        defaults = {{"checkEnterRoom", envelope(1, {}, "{\"roomId\":\"room42\"}")},
                    {"changeLiveStatus", envelope(1, {}, "{\"streamUrl\":\"" + streamUrl + "\"}")},
                    {"checkLiveStatus", envelope(1, {}, "{\"closeMic\":false}")},
                    {"mute", envelope(1)}};
        http.setResponder([this](const TestHttpServer::Request& request) {
            const QUrl url(QString::fromUtf8(request.target));
            const QString op = url.path().section(QLatin1Char('/'), -1);
            queries[op] << QUrlQuery(url);
            if (onRequest)
                onRequest(op);
            QList<QByteArray>& queued = once[op];
            const QByteArray body = queued.isEmpty() ? defaults.value(op) : queued.takeFirst();
            if (body.startsWith("HTTP "))
                return TestHttpServer::Answer{body.mid(5, 3).toInt(), body.mid(9), false, delayMs};
            return TestHttpServer::Answer{200, body, false, delayMs};
        });
    }
    int count(const QString& op) const { return queries.value(op).size(); }
    // The values of one parameter over every call of op, in order.
    QStringList values(const QString& op, const QString& key) const
    {
        QStringList all;
        for (const QUrlQuery& query : queries.value(op))
            all << query.queryItemValue(key);
        return all;
    }
    // Points the push-stream client at this service, or at a closed port.
    void setUp(bool up)
    {
        MuServer::instance()->setServer(up ? http.url() : TestHttpServer::closedUrl(), "1000");
    }

    TestHttpServer http;
    QMap<QString, QByteArray> defaults;
    QMap<QString, QList<QByteArray>> once;
    QMap<QString, QList<QUrlQuery>> queries;
    int delayMs = 0;
    // Runs as a request arrives, while the program waits for its answer.
    std::function<void(const QString& op)> onRequest;
};

// The demo user as the login window leaves it.
inline void saveLogin()
{
    MuSettings::instance()->saveLogin(QStringLiteral("10001"), QStringLiteral("x"), QStringLiteral("20001"));
}

inline QString roomChannel()
{
    QString channel, account, rtcUid;
    MuSettings::instance()->roomIdentity(channel, account, rtcUid);
    return channel;
}

} // namespace PushServiceDouble
