#include "net/http/VHttpComm.h"

#include "base/VClock.h"
#include "config/VGlobalConfig.h"
#include "net/http/ReplyTimeout.h"

#include <QDebug>
#include <QEventLoop>
#include <QMetaEnum>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>
#include <QSharedPointer>
#include <QUrlQuery>

namespace {

const char* const kUserAgent = "ZebDesktop";
const char* const kOctetStream = "application/octet-stream";
const char* const kJson = "application/json";
const int kSyncAbortMs = 10000;

const char* errorName(QNetworkReply::NetworkError error)
{
    const char* name = QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(error);
    return name ? name : "UnknownError";
}

// Qt reports an HTTP error status (404, 500, ...) as a network error too; the server did answer,
// though, so the blocking request must not call that a transport failure.
bool serverAnswered(QNetworkReply* reply)
{
    const QNetworkReply::NetworkError error = reply->error();
    const bool statusError =
        (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError) ||
        (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
    return statusError && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
}

QUrl maskedUrl(const QUrl& url)
{
    return QUrl(VHttpComm::maskForLog(url.toString()), QUrl::TolerantMode);
}

QByteArray maskedBytes(const QByteArray& bytes)
{
    return VHttpComm::maskForLog(QString::fromUtf8(bytes)).toUtf8();
}

} // namespace

VHttpComm::VHttpComm() : QObject(nullptr)
{
    m_manager.setProxy(QNetworkProxy(QNetworkProxy::NoProxy, QString(), 0, QString(), QString()));
}

VHttpComm::~VHttpComm() = default;

QString VHttpComm::maskForLog(const QString& text)
{
    // Form or query parameter: password=<value up to the next separator>, wherever it stands.
    static const QRegularExpression queryParam(QStringLiteral("(?<![A-Za-z0-9_])(password=)[^&#\\s\"]*"));
    // JSON member: "password": "<value>" (escaped quotes inside included) or a bare value.
    static const QRegularExpression jsonMember(
        QStringLiteral("(\"password\"\\s*:\\s*)(?:\"(?:[^\"\\\\]|\\\\.)*\"?|[^,}\\s]+)"));
    QString masked = text;
    masked.replace(queryParam, QStringLiteral("\\1***"));
    masked.replace(jsonMember, QStringLiteral("\\1\"***\""));
    return masked;
}

QNetworkRequest VHttpComm::makeRequest(const QUrl& url, const char* contentType)
{
    QNetworkRequest request(url);
    if (contentType)
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(contentType));
    request.setRawHeader("User-Agent", kUserAgent);
    return request;
}

void VHttpComm::settleOnFinish(QNetworkReply* reply, const QPromiseResolve<QByteArray>& resolve,
                               const QPromiseReject<QByteArray>& reject, const Completion& complete)
{
    const ZebPromiseError gone{QStringLiteral("httpcomm already destroy"), 0};
    if (!reply) {
        reject(gone);
        return;
    }
    // A reply deleted before it finished (the manager goes down with the transport) must not leave
    // its promise pending.
    QObject::connect(reply, &QObject::destroyed, [reject, gone]() { reject(gone); });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, resolve, reject, complete, gone]() {
        // Completions that arrive while the manager goes down see the transport as gone.
        if (!isAlive()) {
            reject(gone);
            return;
        }
        complete(reply, resolve, reject);
        reply->deleteLater();
    });
}

QPromise<QByteArray> VHttpComm::get(const QUrl& url)
{
    if (url.isEmpty())
        return QPromise<QByteArray>::rejected(ZebPromiseError{QStringLiteral("httpcomm url empty"), 0});

    const QNetworkRequest request = makeRequest(url, kOctetStream);
    qDebug() << "HTTP-Get asyn" << maskedUrl(url);
    return QPromise<QByteArray>([this, request](const QPromiseResolve<QByteArray>& resolve,
                                                const QPromiseReject<QByteArray>& reject) {
        settleOnFinish(m_manager.get(request), resolve, reject,
                       [](QNetworkReply* reply, const QPromiseResolve<QByteArray>& resolveWith,
                          const QPromiseReject<QByteArray>& rejectWith) {
                           if (reply->error() != QNetworkReply::NoError)
                               rejectWith(ZebPromiseError{QStringLiteral("Http_get_error"),
                                                          static_cast<int>(reply->error())});
                           else
                               resolveWith(reply->readAll());
                       });
    });
}

QPromise<QByteArray> VHttpComm::post(const QUrl& url, const QByteArray& body, int contentKind)
{
    const char* contentType = nullptr;
    if (contentKind == OctetStream)
        contentType = kOctetStream;
    else if (contentKind == Json)
        contentType = kJson;
    const QNetworkRequest request = makeRequest(url, contentType);

    return QPromise<QByteArray>(
        [this, request, url, body, contentKind](const QPromiseResolve<QByteArray>& resolve,
                                                const QPromiseReject<QByteArray>& reject) {
            QNetworkReply* reply = m_manager.post(request, body);
            qInfo() << "HTTP-Post" << reply << maskedUrl(url) << contentKind
                    << (contentKind != OctetStream ? maskForLog(QString::fromUtf8(body)) : QString());
            settleOnFinish(reply, resolve, reject,
                           [](QNetworkReply* finished, const QPromiseResolve<QByteArray>& resolveWith,
                              const QPromiseReject<QByteArray>& rejectWith) {
                               if (finished->error() == QNetworkReply::NoError) {
                                   const QByteArray answer = finished->readAll();
                                   qInfo().noquote()
                                       << "HTTP-Response" << finished << maskedBytes(answer.left(300));
                                   resolveWith(answer);
                               } else {
                                   qInfo().noquote()
                                       << "HTTP-Response" << finished << errorName(finished->error());
                                   rejectWith(ZebPromiseError{QStringLiteral("Http_post_error"),
                                                              static_cast<int>(finished->error())});
                               }
                           });
        });
}

QByteArray VHttpComm::syncPost(const QUrl& url, const QByteArray& body, bool& networkFailed)
{
    networkFailed = false;
    if (url.isEmpty())
        return QByteArray();

    const bool isGet = body.isEmpty();
    const QNetworkRequest request = makeRequest(url, isGet ? kOctetStream : kJson);
    qDebug() << "HTTP-Post Sync" << maskedUrl(url) << maskedBytes(body.left(100));

    QNetworkReply* reply = isGet ? m_manager.get(request) : m_manager.post(request, body);
    if (!reply) {
        qDebug() << "HTTP-Post Sync Reply is NULL";
        networkFailed = true;
        return QByteArray();
    }

    QSharedPointer<QEventLoop> loop = QSharedPointer<QEventLoop>::create();
    QWeakPointer<QEventLoop> weakLoop = loop;
    const QMetaObject::Connection quitOnFinish = connect(reply, &QNetworkReply::finished, [weakLoop]() {
        if (QSharedPointer<QEventLoop> running = weakLoop.toStrongRef())
            running->quit();
    });
    {
        // The abort timer lives as long as this scope.
        QObject abortTimer;
        QPointer<QNetworkReply> watched(reply);
        VClock::callAfter(kSyncAbortMs, &abortTimer, [watched]() {
            if (watched)
                watched->abort();
        });
        if (!reply->isFinished())
            loop->exec();
    }
    disconnect(quitOnFinish);

    QByteArray answer;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError || serverAnswered(reply)) {
        qDebug() << "HTTP-Post Sync Reply Status" << status;
        if (status == 200) {
            answer = reply->readAll();
            qDebug().noquote() << "HTTP-Post Sync Reply:" << maskForLog(QString::fromUtf8(answer));
        }
    } else {
        qDebug() << "HTTP-Post Sync Reply Status" << status;
        qDebug() << "HTTP-Post Sync Reply Error" << errorName(reply->error());
        networkFailed = true;
    }
    reply->deleteLater();
    return answer;
}

bool VHttpComm::callbackAccepted(const QUrl& url, QObject* receiver, const QString& slotName)
{
    if (!receiver || slotName.isEmpty()) {
        qWarning() << "post para error";
        return false;
    }
    return !url.isEmpty();
}

qint64 VHttpComm::getWithCallback(const QUrl& url, QObject* receiver, const QString& slotName, bool withId)
{
    if (!callbackAccepted(url, receiver, slotName))
        return 0;
    const QNetworkRequest request = makeRequest(url, kOctetStream);
    qDebug() << "HTTP-Get" << maskedUrl(url);
    return registerCallback(m_manager.get(request), receiver, slotName, withId);
}

qint64 VHttpComm::postWithCallback(const QUrl& url, const QByteArray& body, QObject* receiver,
                                   const QString& slotName, bool withId)
{
    if (!callbackAccepted(url, receiver, slotName))
        return 0;
    const QNetworkRequest request = makeRequest(url, kOctetStream);
    return registerCallback(m_manager.post(request, body), receiver, slotName, withId);
}

qint64 VHttpComm::registerCallback(QNetworkReply* reply, QObject* receiver, const QString& slotName,
                                   bool withId)
{
    if (!reply)
        return 0;
    connect(reply, &QNetworkReply::finished, this, &VHttpComm::response, Qt::QueuedConnection);
    m_receivers.insert(reply, QPointer<QObject>(receiver));
    m_slotNames.insert(reply, slotName);
    m_withId.insert(reply, withId ? 1 : 0);
    auto* watchdog = new ReplyTimeout(reply);
    if (reply->isRunning())
        VClock::callAfter(m_replyTimeoutMs, watchdog, [watchdog]() { watchdog->onTimeout(); });
    return static_cast<qint64>(reinterpret_cast<quintptr>(reply));
}

void VHttpComm::response()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply) {
        qWarning() << "Response reply == NULL";
        return;
    }
    bool ok = false;
    int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(&ok);
    const QVariant aborted = reply->property("isAborted");
    if (aborted.isValid() && aborted.toBool())
        ok = false;
    QByteArray body;
    if (!ok) {
        qWarning() << "response get http status failed";
        status = -200;
    } else {
        body = reply->readAll();
    }

    const QPointer<QObject> receiver = m_receivers.value(reply);
    const QString slotName = m_slotNames.value(reply);
    const qint64 withId = m_withId.value(reply);
    if (receiver && !slotName.isEmpty()) {
        const QByteArray method = slotName.toLatin1();
        if (withId == 0) {
            QMetaObject::invokeMethod(receiver.data(), method.constData(), Qt::QueuedConnection,
                                      Q_ARG(int, status), Q_ARG(QByteArray, body));
        } else {
            const auto requestId = static_cast<unsigned long long>(reinterpret_cast<quintptr>(reply));
            QMetaObject::invokeMethod(receiver.data(), method.constData(), Qt::QueuedConnection,
                                      Q_ARG(int, status), Q_ARG(QByteArray, body),
                                      Q_ARG(unsigned long long, requestId));
        }
    }
    m_receivers.remove(reply);
    m_slotNames.remove(reply);
    m_withId.remove(reply);
    reply->deleteLater();
}

QByteArray VHttpComm::clickEventBody(const QString& channelId, const QString& label,
                                     const QMap<QString, QString>& extra)
{
    QMultiMap<QString, QString> pairs;
    pairs.insert(QStringLiteral("mcId"), QStringLiteral("M0"));
    pairs.insert(QStringLiteral("scId"), QStringLiteral("M0_S0"));
    pairs.insert(QStringLiteral("deviceType"), QStringLiteral("4"));
    pairs.insert(QStringLiteral("deviceId"), VGlobalConfig::instance()->value(QStringLiteral("deviceId")));
    pairs.insert(QStringLiteral("channelId"), channelId);
    pairs.insert(QStringLiteral("label"), label);
    pairs.insert(QStringLiteral("product"), QStringLiteral("pc_anchor"));
    pairs.insert(QStringLiteral("appId"), QStringLiteral("PC001"));
    // Each insert puts an equal key in front of the existing ones: an extra pair reads first.
    for (auto it = extra.constEnd(); it != extra.constBegin();) {
        --it;
        pairs.insert(it.key(), it.value());
    }
    QUrlQuery query;
    for (auto it = pairs.constBegin(); it != pairs.constEnd(); ++it)
        query.addQueryItem(it.key(), it.value());
    return query.query().toUtf8();
}

QUrl VHttpComm::clickEventUrl()
{
    QUrl url(VGlobalConfig::instance()->value(QStringLiteral("ApiLogServer")), QUrl::TolerantMode);
    url.setPath(url.path(QUrl::FullyDecoded) + QStringLiteral("/burySite/appClickEvent"), QUrl::DecodedMode);
    return url;
}

QPromise<QByteArray> VHttpComm::reportClickEvent(const QString& channelId, const QString& label,
                                                 const QMap<QString, QString>& extra)
{
    return post(clickEventUrl(), clickEventBody(channelId, label, extra), Form);
}
