#pragma once

#include "base/VSingleton.h"
#include "net/http/QPromise.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkReply;
class QNetworkRequest;

// The program's single HTTP transport: one QNetworkAccessManager without proxy and three styles of
// request over it (promise, blocking, callback). Every request carries "User-Agent: ZebDesktop".
// Lives on the GUI thread; created on first use, deleted by release() at shutdown.
class VHttpComm : public QObject, public VSingleton<VHttpComm>
{
    Q_OBJECT
    friend class VSingleton<VHttpComm>;

public:
    // Content-Type of post(): 0 octet-stream, 2 JSON, anything else none of ours (form encoding).
    enum ContentKind
    {
        OctetStream = 0,
        Form = 1,
        Json = 2
    };

    QNetworkAccessManager* networkManager() { return &m_manager; }
    int replyTimeoutMs() const { return m_replyTimeoutMs; }

    // Promise style: resolved with the body of any answer without a network error, whatever its
    // status; rejected with "httpcomm url empty", "Http_get_error"/"Http_post_error" (code = the
    // network error) or "httpcomm already destroy".
    QPromise<QByteArray> get(const QUrl& url);
    QPromise<QByteArray> post(const QUrl& url, const QByteArray& body, int contentKind);

    // Blocking style: a GET when the body is empty, else a POST of JSON. Waits in a nested event
    // loop, at most 10000 ms. Returns the body of a 200 answer, empty otherwise; networkFailed
    // tells a transport failure (including the abort) from an answer of another status.
    QByteArray syncPost(const QUrl& url, const QByteArray& body, bool& networkFailed);

    // Callback style: the receiver's method slotName is invoked queued with (int status, QByteArray
    // body) or, with withId, (int status, QByteArray body, unsigned long long requestId). Status is
    // -200 (body empty) when no status could be read, e.g. after the 15000 ms watchdog aborted the
    // request. Returns the request id, 0 when refused. A receiver deleted meanwhile is skipped.
    qint64 getWithCallback(const QUrl& url, QObject* receiver, const QString& slotName, bool withId);
    qint64 postWithCallback(const QUrl& url, const QByteArray& body, QObject* receiver,
                            const QString& slotName, bool withId);

    // Posts a click event, form-encoded, to "<ApiLogServer>/burySite/appClickEvent".
    QPromise<QByteArray> reportClickEvent(const QString& channelId, const QString& label,
                                          const QMap<QString, QString>& extra);

    // "ApiLogServer" with "/burySite/appClickEvent" appended to its decoded path, not normalised.
    static QUrl clickEventUrl();

    // The click-event body: fixed pairs and the extra ones merged, sorted by key (an extra pair
    // whose key repeats a fixed one comes first), in the URL query's default text form.
    static QByteArray clickEventBody(const QString& channelId, const QString& label,
                                     const QMap<QString, QString>& extra);

    // The text with the value of every "password" parameter (query or JSON) written as "***".
    static QString maskForLog(const QString& text);

public slots:
    void response();

private:
    VHttpComm();
    ~VHttpComm() override;

    using Completion = std::function<void(QNetworkReply*, const QPromiseResolve<QByteArray>&,
                                          const QPromiseReject<QByteArray>&)>;
    // Settles the promise when the reply finishes: "httpcomm already destroy" without a reply or
    // once the transport is gone, otherwise as the completion decides; then deletes the reply later.
    static void settleOnFinish(QNetworkReply* reply, const QPromiseResolve<QByteArray>& resolve,
                               const QPromiseReject<QByteArray>& reject, const Completion& complete);
    static QNetworkRequest makeRequest(const QUrl& url, const char* contentType);
    // False (with a warning when receiver or slot is missing) for a callback request that must not be sent.
    static bool callbackAccepted(const QUrl& url, QObject* receiver, const QString& slotName);
    qint64 registerCallback(QNetworkReply* reply, QObject* receiver, const QString& slotName, bool withId);

    QNetworkAccessManager m_manager;
    QHash<QNetworkReply*, QPointer<QObject>> m_receivers;
    QHash<QNetworkReply*, QString> m_slotNames;
    QHash<QNetworkReply*, qint64> m_withId;
    int m_replyTimeoutMs = 15000;
};
