#pragma once

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

// An HTTP server on 127.0.0.1 giving odd answers and keeping the raw requests; one per connection.
class TestHttpServer
{
public:
    struct Request
    {
        QByteArray method;
        QByteArray target;                    // path and query exactly as sent
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };

    struct Answer
    {
        int status = 200;
        QByteArray body;
        bool never = false;   // keep the connection open and say nothing
        int delayMs = 0;      // answer this much later
        int stallAtByte = -1; // send only this many bytes of the answer, then keep the connection open
    };

    using Responder = std::function<Answer(const Request&)>;

    TestHttpServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this]() { accept(); });
    }
    ~TestHttpServer() { dropAll(); }

    quint16 port() const { return m_server.serverPort(); }
    QString url(const QString& pathAndQuery = QStringLiteral("/")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(pathAndQuery);
    }
    // A loopback port on which nothing listens (connections are refused), and its address.
    static quint16 closedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }
    static QString closedUrl() { return QStringLiteral("http://127.0.0.1:%1/").arg(closedPort()); }

    void setResponder(Responder responder) { m_responder = std::move(responder); }
    void answerWith(int status, const QByteArray& body) { answerAlways({status, body}); }
    void neverAnswer() { answerAlways({0, QByteArray(), true}); }
    // A 200 answer with this body that stops after its first bytes.
    void stallAt(int byte, const QByteArray& body) { answerAlways({200, body, false, 0, byte}); }
    // The whole answer as it goes on the wire.
    static QByteArray answerBytes(int status, const QByteArray& body)
    {
        return "HTTP/1.1 " + QByteArray::number(status) + " Status\r\nContent-Type: application/json\r\n" +
               "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }
    void dropAll()
    {
        for (const auto& socket : m_open)
            if (socket)
                socket->abort();
    }

    const QList<Request>& requests() const { return m_requests; }
    int connectionCount() const { return int(m_open.size()); }
    bool waitForRequests(int count, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&]() { return m_requests.size() >= count; }, timeoutMs);
    }

private:
    void answerAlways(const Answer& answer)
    {
        m_responder = [answer](const Request&) { return answer; };
    }

    void accept()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            m_open.append(socket);
            auto data = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, data]() {
                *data += socket->readAll();
                Request request;
                if (parse(*data, request))
                    respond(socket, request);
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    static bool parse(const QByteArray& data, Request& request)
    {
        const int end = data.indexOf("\r\n\r\n");
        const QList<QByteArray> lines = data.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        for (const QByteArray& line : lines.mid(1))
            if (line.indexOf(':') > 0)
                request.headers.insert(line.left(line.indexOf(':')).trimmed().toLower(),
                                       line.mid(line.indexOf(':') + 1).trimmed());
        const int length = request.headers.value("content-length", "0").toInt();
        request.body = data.mid(end + 4, length);
        return end >= 0 && data.size() >= end + 4 + length;
    }

    void respond(QTcpSocket* socket, const Request& request)
    {
        m_requests.append(request);
        const Answer answer = m_responder ? m_responder(request) : Answer{200, "ok"};
        QPointer<QTcpSocket> guarded(socket);
        QTimer::singleShot(answer.delayMs, [guarded, answer]() {
            if (!guarded || answer.never)
                return;
            const QByteArray bytes = answerBytes(answer.status, answer.body);
            guarded->write(answer.stallAtByte >= 0 ? bytes.left(answer.stallAtByte) : bytes);
            if (answer.stallAtByte < 0)
                guarded->disconnectFromHost();
        });
    }

    QTcpServer m_server;
    Responder m_responder;
    QList<Request> m_requests;
    QList<QPointer<QTcpSocket>> m_open;
};
