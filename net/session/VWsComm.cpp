#include "net/session/VWsComm.h"

#include "base/UserNotifier.h"
#include "base/VClock.h"
#include "net/http/VHttpComm.h"
#include "net/session/ProtoIdRegistry.h"
#include "net/session/ZebServerComm.h"

#include <QDebug>
#include <QMap>
#include <QMetaObject>
#include <QMutexLocker>
#include <QNetworkProxy>
#include <QSslPreSharedKeyAuthenticator>
#include <QUrl>

#include <new>

namespace {

const char* const timeFormat = "yyyyMMddHHmmsszzz";

quint64 pointerNumber(const QObject* object)
{
    return quint64(quintptr(object));
}

} // namespace

VWsComm::VWsComm() : QObject(nullptr), m_socket(QString(), QWebSocketProtocol::Version13, nullptr)
{
    qRegisterMetaType<QAbstractSocket::SocketError>("QAbstractSocket::SocketError");
    qRegisterMetaType<QList<QSslError>>("QList<QSslError>");
    vProtoMsgPtrTypeId();
    m_socket.setProxy(QNetworkProxy::NoProxy);

    connect(&m_socket, SIGNAL(connected()), this, SLOT(onConnected()));
    connect(&m_socket, SIGNAL(disconnected()), this, SLOT(onDisconnected()));
    connect(&m_socket, SIGNAL(error(QAbstractSocket::SocketError)), this,
            SLOT(onError(QAbstractSocket::SocketError)));
    connect(&m_socket, SIGNAL(sslErrors(const QList<QSslError>&)), this,
            SLOT(onSslErrors(const QList<QSslError>&)));
    connect(&m_socket, SIGNAL(preSharedKeyAuthenticationRequired(QSslPreSharedKeyAuthenticator*)), this,
            SLOT(onPreSharedKeyAuthenticationRequired(QSslPreSharedKeyAuthenticator*)));
    connect(&m_socket, SIGNAL(binaryFrameReceived(const QByteArray&, bool)), this,
            SLOT(onBinaryFrameReceived(const QByteArray&, bool)));
    // Whole messages are handled in a later turn of the event loop, never inside the socket's
    // own signal.
    connect(this, SIGNAL(sigQueueBinaryMessageReceived(QByteArray)), this,
            SLOT(sltQueueBinaryMessageReceived(QByteArray)), Qt::QueuedConnection);
    connect(&m_queueTimer, SIGNAL(timeout()), this, SLOT(sltTimerQueue()));

    // The protoId table shipped beside the schemas.
    ProtoIdRegistry::table();
}

// Stops the tick and closes the socket with code 1000 (destroyInstance of the singleton).
VWsComm::~VWsComm()
{
    m_destroyed = true;
    m_queueTimer.stop();
    m_socket.close(QWebSocketProtocol::CloseCodeNormal, QString());
    // Hand the close frame to the system before the socket goes with this object.
    m_socket.flush();
}

void VWsComm::setUrl(const QString& url)
{
    m_url = url;
}

QString VWsComm::stamp()
{
    return VClock::now().toString(QLatin1String(timeFormat));
}

int VWsComm::queuedCount()
{
    QMutexLocker locker(&m_queueMutex);
    return m_queue.size();
}

bool VWsComm::isPending(quint64 uuid) const
{
    return m_receivers.contains(uuid) || m_replySlots.contains(uuid) || m_withUids.contains(uuid) ||
           m_sendTimes.contains(uuid);
}

qint64 VWsComm::request(quint16 uuid, const QByteArray& frame, QObject* receiver, const QString& replySlot,
                        const QString& messageName, bool withUid, bool reconnect, bool toFront)
{
    if (m_destroyed) {
        qInfo() << "VWsComm::request already destroy";
        emit sigDestroy();
        return 0;
    }
    if (m_url.isEmpty() || !receiver || replySlot.isEmpty()) {
        qInfo() << "VWsComm::request para error" << m_url << pointerNumber(receiver) << replySlot;
        return 0;
    }
    if (!m_queueTimer.isActive())
        m_queueTimer.start(queueTickMs);

    WsPendingRequest pending;
    pending.created = VClock::now();
    pending.uuid = uuid;
    pending.frame = frame;
    pending.receiver = receiver;
    pending.replySlot = replySlot;
    pending.messageName = messageName;
    pending.withUid = withUid;

    QMutexLocker locker(&m_queueMutex);
    const QDateTime now = VClock::now();
    if (reconnect && m_lastReconnectRequest.isValid() &&
        m_lastReconnectRequest.secsTo(now) <= reconnectRequestMinSecs) {
        qInfo() << "VWsComm::request reconnect ignore frequent" << uuid
                << m_lastReconnectRequest.toString(Qt::ISODate);
        return 0;
    }
    if (reconnect) {
        m_lastReconnectRequest = now;
        disConnect();
    } else if (m_socket.isValid()) {
        writeRequest(pending);
        return uuid;
    }
    if (toFront)
        m_queue.prepend(pending);
    else
        m_queue.append(pending);
    return uuid;
}

void VWsComm::writeRequest(const WsPendingRequest& pending)
{
    m_socket.sendBinaryMessage(pending.frame);
    m_socket.flush();
    recordConfigInfo(pending.uuid, pending.receiver.data(), pending.replySlot, pending.withUid);
}

void VWsComm::disConnect()
{
    if (m_inDisConnect) {
        qInfo() << "VWsComm::disConnect reenter return";
        return;
    }
    m_inDisConnect = true;
    m_socket.close(QWebSocketProtocol::CloseCodeNormal, QString());
    m_connecting = false;
    qInfo() << "VWsComm::disConnect";
    m_inDisConnect = false;
}

void VWsComm::sltTimerQueue()
{
    if (m_socket.isValid()) {
        if (m_noNetTimer.isValid()) {
            qInfo() << "websocket no net end";
            m_noNetTimer.invalidate();
            m_sslErrorCount = 0;
        }
        m_connecting = false;
        m_wasConnected = true;
        if (!m_timeoutTimer.isValid()) {
            m_timeoutTimer.start();
        } else if (m_timeoutTimer.elapsed() > sweepPeriodMs) {
            releaseTimeout();
            m_timeoutTimer.start();
        }
        QMutexLocker locker(&m_queueMutex);
        if (!m_queue.isEmpty())
            writeRequest(m_queue.takeFirst());
        return;
    }

    if (!m_noNetTimer.isValid()) {
        qInfo() << "websocket no net start";
        m_noNetTimer.start();
    }
    if (m_noNetTimer.elapsed() > noNetworkLimitMs) {
        qInfo() << "websocket no net timeout";
        emit sigForceOffLine(QStringLiteral("建立网络连接超时，请重新登录！"));
        return;
    }
    if (m_connecting)
        return;

    releaseResponse();
    if (m_wasConnected) {
        qInfo() << "网络出现异常，正在重连";
        bool addLogon = false;
        {
            QMutexLocker locker(&m_queueMutex);
            addLogon = m_queue.isEmpty() || m_queue.first().messageName != QLatin1String("UserCmd.logon");
        }
        if (addLogon) {
            qInfo() << "reconnect add logon after login";
            emit ZebServerComm::instance()->sigSessionTimeLimit();
        }
    }
    if (m_reconnectTimer.isValid() && m_reconnectTimer.elapsed() < reconnectThrottleMs)
        return;
    m_reconnectTimer.start();
    m_connecting = true;
    m_socket.open(QUrl(m_url));
    m_frameBuffer.clear();
    qInfo() << "webSocket open" << m_url;
}

void VWsComm::onConnected()
{
    m_peerAddress = m_socket.peerAddress().toString();
    m_peerName = m_socket.peerName();
    m_peerPort = m_socket.peerPort();
    qInfo() << "VWsComm::onConnected" << m_url << stamp() << "peerAddress:" << m_peerAddress
            << "peerName:" << m_peerName << "peerPort:" << m_peerPort;
}

void VWsComm::onDisconnected()
{
    qInfo() << "VWsComm::onDisconnected" << m_url << stamp();
}

void VWsComm::onError(QAbstractSocket::SocketError error)
{
    qInfo() << "VWsComm::onError" << error << stamp();
    disConnect();
}

void VWsComm::onSslErrors(const QList<QSslError>& errors)
{
    qInfo() << "VWsComm::onSslErrors" << errors << stamp();
    if (m_sslErrorCount >= sslErrorsTolerated) {
        qInfo() << "websocket onSslErrors exit";
        emit sigForceOffLine(QStringLiteral("网络证书错误，请校正本机日期时间"));
    } else {
        ++m_sslErrorCount;
    }
    disConnect();
}

void VWsComm::onPreSharedKeyAuthenticationRequired(QSslPreSharedKeyAuthenticator* authenticator)
{
    qInfo() << "VWsComm::onPreSharedKeyAuthenticationRequired" << static_cast<void*>(authenticator)
            << stamp();
    disConnect();
}

void VWsComm::onBinaryFrameReceived(const QByteArray& frame, bool isLastFrame)
{
    m_frameBuffer.append(frame);
    if (isLastFrame) {
        emit sigQueueBinaryMessageReceived(m_frameBuffer);
        m_frameBuffer.clear();
    }
}

void VWsComm::sltQueueBinaryMessageReceived(QByteArray message)
{
    onBinaryMessageReceived(message);
}

QString VWsComm::sendTimeText(quint64 uuid) const
{
    const QDateTime sent = m_sendTimes.value(uuid);
    return sent.isValid() ? sent.toString(QLatin1String(timeFormat)) : QString();
}

void VWsComm::recordConfigInfo(quint64 uuid, QObject* receiver, const QString& replySlot, bool withUid)
{
    const bool hadReceiver = m_receivers.contains(uuid);
    const bool hadSlot = m_replySlots.contains(uuid);
    const bool hadWithUid = m_withUids.contains(uuid);
    const bool hadSendTime = m_sendTimes.contains(uuid);
    if (hadReceiver || hadSlot || hadWithUid || hadSendTime) {
        qInfo() << "VWsComm::recordConfigInfo replace" << uuid << pointerNumber(receiver) << hadReceiver
                << replySlot << hadSlot << withUid << hadWithUid << hadSendTime;
    }
    m_replySlots[uuid] = replySlot;
    m_receivers[uuid] = receiver;
    m_withUids[uuid] = withUid ? 1 : 0;
    m_sendTimes[uuid] = VClock::now();
}

void VWsComm::invokeReply(QObject* receiver, const QString& replySlot, int status, const QByteArray& message,
                          bool withUid, quint64 uuid)
{
    const QByteArray slotName = replySlot.toUtf8();
    const bool invoked = withUid
                             ? QMetaObject::invokeMethod(receiver, slotName.constData(), Qt::QueuedConnection,
                                                         Q_ARG(int, status), Q_ARG(QByteArray, message),
                                                         Q_ARG(qulonglong, uuid))
                             : QMetaObject::invokeMethod(receiver, slotName.constData(), Qt::QueuedConnection,
                                                         Q_ARG(int, status), Q_ARG(QByteArray, message));
    if (!invoked)
        qInfo() << "VWsComm::invokeReply no such slot" << pointerNumber(receiver) << replySlot << uuid;
}

void VWsComm::onBinaryMessageReceived(QByteArray message)
{
    WsEnvelope header;
    if (!WsEnvelope::read(message, header)) {
        qInfo() << "VWsComm::onBinaryMessageReceived message invalid and ignore because of size"
                << message.size();
        return;
    }
    if (header.uuid != 0) {
        const quint64 uuid = header.uuid;
        QObject* receiver = m_receivers.value(uuid).data();
        const QString replySlot = m_replySlots.value(uuid);
        if (!receiver || replySlot.isEmpty()) {
            qInfo() << "VWsComm::onBinaryMessageReceived response unmatch and ignore because of pReceiver:"
                    << pointerNumber(receiver) << "strReplySlot:" << replySlot
                    << "timeSend:" << sendTimeText(uuid);
        } else {
            invokeReply(receiver, replySlot, statusDelivered, message, m_withUids.value(uuid) != 0, uuid);
        }
        m_receivers.remove(uuid);
        m_replySlots.remove(uuid);
        m_withUids.remove(uuid);
        m_sendTimes.remove(uuid);
        return;
    }
    if (header.protoId == 0) {
        qInfo() << "VWsComm::onBinaryMessageReceived broadcast protoId empty and ignore uuid : " << 0
                << " protoId : " << 0 << " state : " << header.state << " size : " << message.size();
        return;
    }
    const VProtoMsgPtr msg = parseSerialData(header, WsEnvelope::payloadOf(message));
    emit sigRecvBroadCast(header.protoId, msg);
}

VProtoMsgPtr VWsComm::parseSerialData(const WsEnvelope& header, const QByteArray& payload)
{
    VProtoMsgPtr msg(new VProtoMsg());
    if (header.protoId == 0)
        return msg;
    const QString name = ProtoIdRegistry::nameOf(header.protoId);
    if (name.isEmpty()) {
        qInfo() << "找不到正确的proto映射" << header.protoId;
        return msg;
    }
    msg->createByNameOrExit(name);
    if (msg->parse(payload))
        return msg;

    qInfo() << "反序列化失败parseSerialData Recv  uuid : " << header.uuid << "  protoId : " << header.protoId
            << "  state : " << header.state << "  result : " << name;
    QPointer<VWsComm> self(this);
    UserNotifier::tellUser(UserNotifier::Style::Warning, QStringLiteral("温馨提示"),
                           QStringLiteral("系统配置文件被损坏，现在为您关闭程序，请您重新登录。"));
    if (self) {
        QMap<QString, QString> extra;
        extra.insert(QStringLiteral("action"), QStringLiteral("1"));
        VHttpComm::instance()
            ->reportClickEvent(QStringLiteral("10"), QStringLiteral("1"), extra)
            .then([self](const QByteArray&) {
                if (self)
                    emit self->sigParseError();
            });
    }
    // A half-parsed message is no message: receivers see an invalid one.
    return VProtoMsgPtr(new VProtoMsg());
}

void VWsComm::releaseResponse()
{
    if (m_receivers.isEmpty()) {
        m_replySlots.clear();
        m_withUids.clear();
        m_sendTimes.clear();
        return;
    }
    qInfo() << "VWsComm::releaseResponse begin";
    const QHash<quint64, QPointer<QObject>> receivers = m_receivers;
    for (auto it = receivers.constBegin(); it != receivers.constEnd(); ++it) {
        const quint64 uuid = it.key();
        QObject* receiver = it.value().data();
        const QString replySlot = m_replySlots.value(uuid);
        const bool withUid = m_withUids.value(uuid) != 0;
        qInfo() << "VWsComm::releaseResponse" << uuid << pointerNumber(receiver) << replySlot << withUid
                << sendTimeText(uuid);
        if (receiver && !replySlot.isEmpty())
            invokeReply(receiver, replySlot, statusFailed, QByteArray(), withUid, uuid);
    }
    qInfo() << "VWsComm::releaseResponse end";
    m_receivers.clear();
    m_replySlots.clear();
    m_withUids.clear();
    m_sendTimes.clear();
}

void VWsComm::releaseTimeout()
{
    const QDateTime now = VClock::now();
    for (auto it = m_sendTimes.begin(); it != m_sendTimes.end();) {
        const quint64 uuid = it.key();
        const QDateTime sent = it.value();
        const qint64 elapsed = sent.isValid() ? sent.msecsTo(now) : -1;
        if (sent.isValid() && elapsed <= replyTimeoutMs) {
            ++it;
            continue;
        }
        it = m_sendTimes.erase(it);
        QObject* receiver = m_receivers.take(uuid).data();
        const QString replySlot = m_replySlots.take(uuid);
        const bool withUid = m_withUids.take(uuid) != 0;
        if (!sent.isValid()) {
            qInfo() << "VWsComm::releaseTimeout timeSend invalid and ignore" << uuid
                    << pointerNumber(receiver) << replySlot << withUid;
        } else {
            qInfo() << "VWsComm::releaseTimeout timeSend timeout and ignore" << uuid
                    << pointerNumber(receiver) << replySlot << withUid << "elapsedTime:" << elapsed;
        }
        if (receiver && !replySlot.isEmpty())
            invokeReply(receiver, replySlot, statusFailed, QByteArray(), withUid, uuid);
    }
}
