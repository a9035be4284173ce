#pragma once

// Peers of the login and workflow tests: a small scripted HTTP server on 127.0.0.1 for odd
// replies, and the local services program started on a free port.

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSharedPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrlQuery>

#include <functional>

// Answers each request with what the handler returns for its target ("/path?query") and
// records the targets. A silent reply is never sent (a service that hangs).
class ScriptedHttpServer
{
public:
    struct Reply
    {
        int status = 200;
        QByteArray body;
        bool silent = false;
        int delayMs = 0;
    };
    using Handler = std::function<Reply(const QString& target)>;

    ScriptedHttpServer()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this]() { acceptPending(); });
        m_server.listen(QHostAddress::LocalHost, 0);
    }

    bool isListening() const { return m_server.isListening(); }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1/").arg(m_server.serverPort()); }
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    QStringList targets() const { return m_targets; }
    void clearTargets() { m_targets.clear(); }
    int countPath(const QString& path) const
    {
        return m_targets
            .filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(path) + "(\\?|$)"))
            .size();
    }

private:
    void acceptPending()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(&m_server);
            auto buffer = QSharedPointer<QByteArray>::create();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer]() {
                buffer->append(socket->readAll());
                if (!buffer->contains("\r\n\r\n"))
                    return;
                const QList<QByteArray> requestLine = buffer->left(buffer->indexOf("\r\n")).split(' ');
                buffer->clear();
                const QString target = QString::fromUtf8(requestLine.value(1));
                m_targets << target;
                const Reply reply = m_handler ? m_handler(target) : Reply{404, QByteArray(), false, 0};
                if (reply.silent)
                    return;
                const QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) +
                                       " X\r\nContent-Type: application/json\r\nConnection: close\r\n"
                                       "Content-Length: " +
                                       QByteArray::number(reply.body.size()) + "\r\n\r\n" + reply.body;
                QTimer::singleShot(reply.delayMs, socket, [socket, out]() {
                    socket->write(out);
                    socket->disconnectFromHost();
                });
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    QTcpServer m_server;
    Handler m_handler;
    QStringList m_targets;
};

// The local services program on a free port with its own data file; stopped on destruction.
class LocalServices
{
public:
    LocalServices()
    {
#ifdef TAVIO_LOCALSERVICES_PATH
        m_process.start(QStringLiteral(TAVIO_LOCALSERVICES_PATH),
                        {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"),
                         m_dir.filePath(QStringLiteral("accounts.json"))});
        const QRegularExpression listening(QStringLiteral("listening on (http://127\\.0\\.0\\.1:\\d+/)"));
        QByteArray seen;
        const QDeadlineTimer deadline(15000);
        while (m_baseUrl.isEmpty() && !deadline.hasExpired() && m_process.waitForReadyRead(1000)) {
            seen += m_process.readAllStandardOutput();
            m_baseUrl = listening.match(QString::fromUtf8(seen)).captured(1);
        }
#endif
    }

    ~LocalServices()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

    static bool isBuilt()
    {
#ifdef TAVIO_LOCALSERVICES_PATH
        return true;
#else
        return false;
#endif
    }

    // "http://127.0.0.1:N/", empty when the program did not come up.
    QString baseUrl() const
    {
        return m_baseUrl;
    }

    // Plays the phone side through the admin API ("room", "mic", "ban", "end", "state", ...);
    // returns the reply's envelope, empty when there was none.
    QJsonObject admin(const QString& operation, const QUrlQuery& query, bool post = true)
    {
        QUrl url(m_baseUrl + QLatin1String("admin/") + operation);
        url.setQuery(query);
        QNetworkAccessManager manager;
        manager.setProxy(QNetworkProxy::NoProxy);
        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QStringLiteral("application/x-www-form-urlencoded"));
        QScopedPointer<QNetworkReply> reply(post ? manager.post(request, QByteArray())
                                                 : manager.get(request));
        QEventLoop loop;
        QObject::connect(reply.data(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        return QJsonDocument::fromJson(reply->readAll()).object();
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_baseUrl;
};
