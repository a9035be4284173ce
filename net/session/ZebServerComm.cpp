#include "net/session/ZebServerComm.h"

#include "net/session/ProtoIdRegistry.h"
#include "net/session/VWsComm.h"
#include "net/session/WsEnvelope.h"

#include <QDebug>
#include <QElapsedTimer>

namespace {

const int transportFailure = -200;

} // namespace

ZebServerComm::ZebServerComm() : QObject(nullptr)
{
    qRegisterMetaType<ZebServerResponse>("ZebServerResponse");
    m_heartbeatTimer.setInterval(heartbeatIntervalMs);
    connect(&m_heartbeatTimer, &QTimer::timeout, this, &ZebServerComm::heartBeat, Qt::UniqueConnection);
}

QPromise<ZebServerResponse> ZebServerComm::Send(const QString& messageName, VProtoMsg& message,
                                                bool reconnect, bool toFront)
{
    QElapsedTimer elapsed;
    elapsed.start();
    qInfo() << "[D]"
            << "Send start [" << messageName << "]";

    bool known = false;
    const quint16 protoId = ProtoIdRegistry::idOf(messageName, &known);
    if (!known) {
        const QString text = QStringLiteral("逻辑服请求失败，proto文件丢失或损坏") + messageName;
        qInfo() << text;
        return QPromise<ZebServerResponse>::rejected(ZebPromiseError{text, transportFailure});
    }

    WsEnvelope header;
    header.uuid = m_nextUuid;
    header.protoId = protoId;
    const QByteArray frame = header.frame(message.serialize());
    const quint16 uuid = m_nextUuid;
    if (++m_nextUuid == 0)
        m_nextUuid = 1;
    qInfo() << "Send(" << messageName << ") : uuid - " << uuid << "  protoId - " << protoId;

    VWsComm* channel = VWsComm::instance();
    const qint64 result = channel ? channel->request(uuid, frame, this, QStringLiteral("sltRetZebServer"),
                                                     messageName, true, reconnect, toFront)
                                  : 0;
    if (result == 0)
        return QPromise<ZebServerResponse>::rejected(
            ZebPromiseError{QStringLiteral("发起网络请求失败"), transportFailure});

    qInfo() << "[D]"
            << "Send end [" << messageName << "]" << elapsed.elapsed();
    return QPromise<ZebServerResponse>([this, result](const QPromiseResolve<ZebServerResponse>& resolve,
                                                      const QPromiseReject<ZebServerResponse>&) {
        m_resolvers.insert(quint64(result), resolve);
    });
}

void ZebServerComm::sltRetZebServer(int nHttpStatus, QByteArray bArrRecv, qulonglong uid)
{
    QElapsedTimer elapsed;
    elapsed.start();
    qInfo() << "[D]"
            << "Recv start [" << uid << "]";
    if (m_resolvers.contains(uid))
        Recv(nHttpStatus, bArrRecv, m_resolvers.take(uid));
    qInfo() << "[D]"
            << "Recv end [" << uid << "]" << elapsed.elapsed();
}

void ZebServerComm::Recv(int nHttpStatus, const QByteArray& bArrRecv, const Resolver& resolver)
{
    if (!resolver) {
        qInfo() << "functor为空";
        return;
    }
    if (nHttpStatus != VWsComm::statusDelivered) {
        const QString text = QStringLiteral("网络错误:%1").arg(nHttpStatus, 0, 10, QLatin1Char(' '));
        qInfo() << text << bArrRecv.size() << bArrRecv;
        resolver(ZebServerResponse{transportFailure, VProtoMsgPtr(), text});
        return;
    }
    WsEnvelope header;
    if (!WsEnvelope::read(bArrRecv, header)) {
        qInfo() << "数据长度少于6字节";
        return;
    }
    if (header.state == WsEnvelope::stateUserNotLogin) {
        qInfo() << "Recv USER_NOT_LOGIN uuid : " << header.uuid << "  protoId : " << header.protoId
                << "  state : " << header.state;
        emit sigSessionTimeLimit();
        return;
    }
    if (header.protoId == 0) {
        qInfo() << "Recv  uuid : " << header.uuid << "  protoId : " << 0 << "  state : " << header.state;
        resolver(ZebServerResponse{header.state, VProtoMsgPtr(), QString()});
        return;
    }
    VProtoMsgPtr msg(new VProtoMsg());
    const QString name = ProtoIdRegistry::nameOf(header.protoId);
    if (name.isEmpty()) {
        qInfo() << "Recv  uuid : " << header.uuid << "  protoId : " << header.protoId
                << "  state : " << header.state;
        qInfo() << "数据解析失败，proto文件丢失或损坏" << header.protoId;
        return;
    }
    qInfo() << "Recv  uuid : " << header.uuid << "  protoId : " << header.protoId
            << "  state : " << header.state << "  result : " << name;
    msg->createByNameOrExit(name);
    if (!msg->parse(WsEnvelope::payloadOf(bArrRecv))) {
        qInfo() << "retToFunctor反序列化失败" << name;
        return;
    }
    QString text;
    if (name == QLatin1String("ErrorResult.Info")) {
        QString errorCode;
        QString description;
        msg->getString(QStringLiteral("errorCode"), errorCode, QString());
        msg->getString(QStringLiteral("description"), description, QString());
        qInfo() << "ErrorResult uuid : " << header.uuid << " errorCode : " << errorCode
                << " description : " << description;
        text = description;
    }
    resolver(ZebServerResponse{header.state, msg, text});
}

void ZebServerComm::startHeartBeat()
{
    if (!m_heartbeatTimer.isActive())
        heartBeat();
    m_heartbeatTimer.start();
}

void ZebServerComm::heartBeat()
{
    VProtoMsg message;
    message.createOrExit(QStringLiteral("HeartBeatCmd.proto"), QStringLiteral("HeartBeatCmd.heartBeat"));
    QPointer<ZebServerComm> self(this);
    Send(QStringLiteral("HeartBeatCmd.heartBeat"), message, false, false)
        .then([self](const ZebServerResponse& response) {
            if (!self)
                return;
            qint64 timeStamp = 0;
            if (response.msg && response.msg->hasField(QStringLiteral("data")))
                response.msg->getInt64(QStringLiteral("data"), timeStamp);
            emit self->sigHeartBeatStatus(response.code, timeStamp);
        });
}
