#pragma once

#include "net/session/WsEnvelope.h"

#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSslKey>
#include <QWebSocket>
#include <QWebSocketServer>

#include <functional>

// A scripted session server on 127.0.0.1: records every binary message, answers through
// `answer` (an empty answer sends nothing), pushes messages split into frames, drops connections.
class WsTestPeer
{
public:
    explicit WsTestPeer(QWebSocketServer::SslMode mode = QWebSocketServer::NonSecureMode)
        : m_server(QStringLiteral("session-test-peer"), mode)
    {
        QObject::connect(&m_server, &QWebSocketServer::newConnection, &m_server, [this]() {
            while (QWebSocket* socket = m_server.nextPendingConnection()) {
                m_clients.append(socket);
                QObject::connect(
                    socket, &QWebSocket::binaryMessageReceived, socket, [=](const QByteArray& in) {
                        received.append(in);
                        WsEnvelope request;
                        if (answer && WsEnvelope::read(in, request) && !answer(request).isEmpty())
                            send(answer(request), answerFrameSize, socket);
                    });
                QObject::connect(socket, &QWebSocket::disconnected, socket,
                                 [=]() { lastCloseCode = int(socket->closeCode()); });
            }
        });
    }
    ~WsTestPeer() { qDeleteAll(m_clients); }

    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QString url() const
    {
        const bool secure = m_server.secureMode() == QWebSocketServer::SecureMode;
        return QStringLiteral("%1://127.0.0.1:%2").arg(secure ? "wss" : "ws").arg(m_server.serverPort());
    }

    // Sends one whole message (to the latest connection by default) in frames of frameSize bytes.
    void send(const QByteArray& message, quint64 frameSize = 0, QWebSocket* socket = nullptr)
    {
        socket = socket ? socket : m_clients.last().data();
        socket->setOutgoingFrameSize(frameSize ? frameSize : 512 * 1024);
        socket->sendBinaryMessage(message);
    }

    // Cuts every connection without a closing handshake.
    void dropAll()
    {
        for (const QPointer<QWebSocket>& socket : m_clients) {
            if (socket)
                socket->abort();
        }
    }

    // A self-signed certificate for 127.0.0.1 made with the openssl tool into dir (an EC key: quick to make).
    bool useFreshCertificate(const QString& dir)
    {
        QProcess openssl;
        openssl.start(
            QStringLiteral("openssl"),
            QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "
                           "/CN=127.0.0.1")
                    .split(' ')
                << QStringLiteral("-keyout") << dir + "/peer.key" << QStringLiteral("-out")
                << dir + "/peer.crt");
        QFile key(dir + "/peer.key");
        if (!openssl.waitForFinished(60000) || !key.open(QIODevice::ReadOnly))
            return false;
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(QSslCertificate::fromPath(dir + "/peer.crt").value(0));
        configuration.setPrivateKey(QSslKey(&key, QSsl::Ec));
        m_server.setSslConfiguration(configuration);
        return !configuration.privateKey().isNull() && !configuration.localCertificate().isNull();
    }

    std::function<QByteArray(const WsEnvelope&)> answer;
    quint64 answerFrameSize = 0;
    QList<QByteArray> received;
    int lastCloseCode = -1;

private:
    QWebSocketServer m_server;
    QList<QPointer<QWebSocket>> m_clients;
};
