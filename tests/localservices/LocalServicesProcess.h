#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <memory>

// The local services program on a free port, and a plain HTTP client for it (not the one under test).
class LocalServicesProcess
{
public:
    ~LocalServicesProcess() { stop(); }

    // Starts with --port 0 and the extra arguments; true once the listening line was printed.
    bool start(const QStringList& extraArguments = QStringList())
    {
        m_process.start(QStringLiteral(TAVIO_LOCALSERVICES_PATH),
                        QStringList{"--port", "0"} + extraArguments);
        const QRegularExpression listening(QStringLiteral("listening on (http://127\\.0\\.0\\.1:(\\d+)/)"));
        QByteArray output;
        while (m_process.waitForReadyRead(5000)) {
            output += m_process.readAllStandardOutput();
            const auto match = listening.match(QString::fromUtf8(output));
            m_baseUrl = match.captured(1);
            m_port = match.captured(2).toInt();
            if (match.hasMatch())
                return true;
        }
        return false;
    }

    void stop()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }

    QProcess& process() { return m_process; }
    QString baseUrl() const { return m_baseUrl; }
    int port() const { return m_port; }

    // One request to the program; status 0 when no HTTP answer came.
    QByteArray request(const QByteArray& method, const QString& pathAndQuery, const QByteArray& body,
                       int* status = nullptr)
    {
        QNetworkAccessManager manager;
        manager.setProxy(QNetworkProxy::NoProxy);
        QNetworkRequest req(QUrl(m_baseUrl + pathAndQuery.mid(pathAndQuery.startsWith('/') ? 1 : 0)));
        req.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        const std::unique_ptr<QNetworkReply> reply(manager.sendCustomRequest(req, method, body));
        (void)QTest::qWaitFor([&]() { return reply->isFinished(); }, 8000);
        if (status)
            *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        return reply->readAll();
    }

    // A GET whose answer is read as a JSON object (empty when it is none).
    QJsonObject getJson(const QString& pathAndQuery, int* status = nullptr)
    {
        return QJsonDocument::fromJson(request("GET", pathAndQuery, QByteArray(), status)).object();
    }

    QJsonObject admin(const QString& action, const QJsonObject& params)
    {
        const QByteArray body = QJsonDocument(params).toJson(QJsonDocument::Compact);
        return QJsonDocument::fromJson(request("POST", "admin/" + action, body)).object();
    }

private:
    QProcess m_process;
    QString m_baseUrl;
    int m_port = 0;
};
