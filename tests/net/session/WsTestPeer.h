#pragma once

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QWebSocket>
#include <QWebSocketServer>

#include <functional>
#include <memory>

// A scripted session server on 127.0.0.1: records every binary message it gets and lets the
// test answer, push broadcasts, split messages into frames or drop the connection.
class WsTestPeer
{
public:
    using Handler = std::function<void(QWebSocket*, const QByteArray&)>;

    explicit WsTestPeer(QWebSocketServer::SslMode mode = QWebSocketServer::NonSecureMode)
        : m_server(QStringLiteral("session-test-peer"), mode)
    {
        QObject::connect(&m_server, &QWebSocketServer::newConnection, &m_server, [this]() {
            while (QWebSocket* socket = m_server.nextPendingConnection()) {
                ++connections;
                m_clients.append(socket);
                QObject::connect(socket, &QWebSocket::binaryMessageReceived, socket,
                                 [this, socket](const QByteArray& message) {
                                     received.append(message);
                                     if (onMessage)
                                         onMessage(socket, message);
                                 });
                QObject::connect(socket, &QWebSocket::disconnected, socket, [this, socket]() {
                    lastCloseCode = int(socket->closeCode());
                    ++disconnections;
                });
            }
        });
    }

    ~WsTestPeer()
    {
        for (const QPointer<QWebSocket>& socket : m_clients)
            delete socket.data();
    }

    bool listen(quint16 port = 0) { return m_server.listen(QHostAddress::LocalHost, port); }
    void close() { m_server.close(); }
    quint16 port() const { return m_server.serverPort(); }
    QString url() const
    {
        const char* scheme = m_server.secureMode() == QWebSocketServer::SecureMode ? "wss" : "ws";
        return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port());
    }
    QWebSocketServer& server() { return m_server; }

    QWebSocket* latest() const
    {
        for (int i = m_clients.size() - 1; i >= 0; --i) {
            if (m_clients.at(i) && m_clients.at(i)->isValid())
                return m_clients.at(i);
        }
        return nullptr;
    }

    // Sends one whole message to the latest connection, split into frames of frameSize bytes.
    bool send(const QByteArray& message, quint64 frameSize = 0)
    {
        QWebSocket* socket = latest();
        if (!socket)
            return false;
        socket->setOutgoingFrameSize(frameSize ? frameSize : 512 * 1024);
        socket->sendBinaryMessage(message);
        socket->flush();
        return true;
    }

    // Cuts every connection without a closing handshake.
    void dropAll()
    {
        for (const QPointer<QWebSocket>& socket : m_clients) {
            if (socket)
                socket->abort();
        }
    }

    // A self-signed certificate for 127.0.0.1 made with the openssl tool into dir.
    bool useFreshCertificate(const QString& dir)
    {
        const QString keyPath = dir + QStringLiteral("/peer.key");
        const QString certPath = dir + QStringLiteral("/peer.crt");
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                       QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                       keyPath, QStringLiteral("-out"), certPath, QStringLiteral("-days"),
                       QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")});
        if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0)
            return false;
        QFile keyFile(keyPath);
        QFile certFile(certPath);
        if (!keyFile.open(QIODevice::ReadOnly) || !certFile.open(QIODevice::ReadOnly))
            return false;
        const QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem);
        const QSslCertificate certificate(&certFile, QSsl::Pem);
        if (key.isNull() || certificate.isNull())
            return false;
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(certificate);
        configuration.setPrivateKey(key);
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        m_server.setSslConfiguration(configuration);
        return true;
    }

    Handler onMessage;
    QList<QByteArray> received;
    int connections = 0;
    int disconnections = 0;
    int lastCloseCode = -1;

private:
    QWebSocketServer m_server;
    QList<QPointer<QWebSocket>> m_clients;
};
