#pragma once

#include "base/VSingleton.h"
#include "net/session/SessionElapsedTimer.h"
#include "net/session/VProtoMsg.h"
#include "net/session/WsEnvelope.h"
#include "net/session/WsPendingRequest.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QString>
#include <QTimer>
#include <QWebSocket>

class QSslPreSharedKeyAuthenticator;

// The process-wide binary WebSocket channel to the session (logic) server. Requests are framed
// by the caller (WsEnvelope), written at once while connected or queued and drained one per
// 100 ms tick; the tick also supervises the connection (reconnect at most once a second,
// force-off-line after 120 s without network) and fails requests that got no answer within
// 10 s. Answers go to the requester's reply slot by name, queued:
//     slot(int status, QByteArray message[, qulonglong uuid])
// with status 200 and the whole message (envelope included), or -200 and an empty array when
// the request failed. Messages with uuid 0 are broadcasts, emitted as sigRecvBroadCast.
class VWsComm : public QObject, public VSingleton<VWsComm>
{
    Q_OBJECT
    friend class VSingleton<VWsComm>;

public:
    static constexpr int queueTickMs = 100;
    static constexpr qint64 reconnectThrottleMs = 1000;
    static constexpr qint64 reconnectRequestMinSecs = 2;
    static constexpr qint64 noNetworkLimitMs = 120000;
    static constexpr qint64 sweepPeriodMs = 1000;
    static constexpr qint64 replyTimeoutMs = 10000;
    static constexpr int sslErrorsTolerated = 3;
    static constexpr int statusDelivered = 200;
    static constexpr int statusFailed = -200;

    void setUrl(const QString& url);
    QString url() const { return m_url; }

    // Returns the uuid when the request was written or queued, 0 when refused.
    qint64 request(quint16 uuid, const QByteArray& frame, QObject* receiver, const QString& replySlot,
                   const QString& messageName, bool withUid, bool reconnect, bool toFront);
    void disConnect();

    // Request tracking.
    void recordConfigInfo(quint64 uuid, QObject* receiver, const QString& replySlot, bool withUid);
    void releaseResponse();
    void releaseTimeout();
    VProtoMsgPtr parseSerialData(const WsEnvelope& header, const QByteArray& payload);

    // Read-only views for supervision and tests.
    int pendingCount() const { return m_receivers.size(); }
    bool isPending(quint64 uuid) const;
    int queuedCount();
    int sslErrorCount() const { return m_sslErrorCount; }
    bool isConnecting() const { return m_connecting; }
    bool wasConnected() const { return m_wasConnected; }
    bool isConnected() const { return m_socket.isValid(); }
    QString peerAddress() const { return m_peerAddress; }
    quint16 peerPort() const { return m_peerPort; }

signals:
    void sigRecvBroadCast(int protoId, VProtoMsgPtr msg);
    void sigParseError();
    void sigQueueBinaryMessageReceived(QByteArray message);
    void sigPopupNotify(QString notifyData);
    void sigDestroy();
    void sigForceOffLine(QString message);

protected slots:
    void onConnected();
    void onDisconnected();
    void onError(QAbstractSocket::SocketError error);
    void onSslErrors(const QList<QSslError>& errors);
    void onPreSharedKeyAuthenticationRequired(QSslPreSharedKeyAuthenticator* authenticator);
    void onBinaryFrameReceived(const QByteArray& frame, bool isLastFrame);
    void sltQueueBinaryMessageReceived(QByteArray message);
    void onBinaryMessageReceived(QByteArray message);
    void sltTimerQueue();

private:
    VWsComm();
    ~VWsComm() override;

    void writeRequest(const WsPendingRequest& pending);
    void invokeReply(QObject* receiver, const QString& replySlot, int status, const QByteArray& message,
                     bool withUid, quint64 uuid);
    QString sendTimeText(quint64 uuid) const;
    static QString stamp();

    bool m_destroyed = false;
    QWebSocket m_socket;
    QString m_url;
    bool m_connecting = false;
    bool m_inDisConnect = false;
    bool m_wasConnected = false;
    SessionElapsedTimer m_noNetTimer;
    SessionElapsedTimer m_reconnectTimer;
    SessionElapsedTimer m_timeoutTimer;
    QByteArray m_frameBuffer;
    int m_sslErrorCount = 0;
    QHash<quint64, QPointer<QObject>> m_receivers;
    QHash<quint64, QString> m_replySlots;
    QHash<quint64, quint64> m_withUids;
    QHash<quint64, QDateTime> m_sendTimes;
    QList<WsPendingRequest> m_queue;
    QDateTime m_lastReconnectRequest;
    QMutex m_queueMutex;
    QTimer m_queueTimer;
    QString m_peerAddress;
    QString m_peerName;
    quint16 m_peerPort = 0;
};
