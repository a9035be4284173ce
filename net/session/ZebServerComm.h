#pragma once

#include "base/VSingleton.h"
#include "net/http/QPromise.h"
#include "net/session/VProtoMsg.h"
#include "net/session/ZebServerResponse.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// Turns "send this protobuf message to the session server" into a promise of the answer. Each
// request gets a fresh uuid (1..65535, never 0), goes through VWsComm with "sltRetZebServer" as
// reply slot and is settled when that slot is called. Transport failures fulfil the promise
// with code -200; a request the channel refuses, or a message name without a protoId, rejects
// it with ZebPromiseError(-200). Answers that cannot be decoded leave it pending.
class ZebServerComm : public QObject, public VSingleton<ZebServerComm>
{
    Q_OBJECT
    friend class VSingleton<ZebServerComm>;

public:
    using Resolver = std::function<void(const ZebServerResponse&)>;

    static constexpr int heartbeatIntervalMs = 60000;

    QPromise<ZebServerResponse> Send(const QString& messageName, VProtoMsg& message, bool reconnect = false,
                                     bool toFront = false);
    void startHeartBeat();
    void heartBeat();
    void Recv(int nHttpStatus, const QByteArray& bArrRecv, const Resolver& resolver);

    // Read-only views for supervision and tests.
    quint16 nextUuid() const { return m_nextUuid; }
    int inFlightCount() const { return m_resolvers.size(); }
    bool isHeartBeatActive() const { return m_heartbeatTimer.isActive(); }

signals:
    void sigSessionTimeLimit();
    void sigHeartBeatStatus(int status, qlonglong timeStamp);

private slots:
    void sltRetZebServer(int nHttpStatus, QByteArray bArrRecv, qulonglong uid);

private:
    ZebServerComm();

    quint16 m_nextUuid = 1;
    QTimer m_heartbeatTimer;
    QHash<quint64, Resolver> m_resolvers;
};
