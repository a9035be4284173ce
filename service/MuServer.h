#pragma once

#include "base/VSingleton.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>

// Client of the push-stream service (endpoints under "pushStreamHelper/"). Every operation sends a
// signed GET through the blocking request of the HTTP transport, decodes the JSON envelope
// {"code", "msg", "data"} and hands the results back in out-values. It returns only when the request
// has completed or was aborted (at most 10 s), running a nested event loop meanwhile.
//
// Out-value convention: code starts at -1 (nothing read) and msg empty; on success both keep these
// starting values; on failure they carry what the service sent. networkFailed is what the transport
// reported (no reply, network error or the 10 s abort).
class MuServer : public QObject, public VSingleton<MuServer>
{
    Q_OBJECT
    friend class VSingleton<MuServer>;

public:
    // Sets the base address (ends with a slash), the application id "PC002", and adopts the signing
    // key of the server type when it is a known one.
    void setServer(const QString& baseUrl, const QString& serverType);

    // Adopts the key of the decimal server type when known (1000, 1002), otherwise keeps the key in
    // force; returns the key in force.
    QString signKey(const QString& serverType);

    // Always "PC002", whether or not setServer has run.
    QString appId() const;

    // The query text "k=v&...&sign=<md5 of the same text followed by the key>", keys in map order,
    // nothing percent-encoded.
    static QString signQuery(const QMap<QString, QString>& params, const QString& key);

    // The envelope of one reply, each field read only when it has the expected JSON type.
    struct Envelope
    {
        bool isObject = false;
        int code = -1;
        QString msg;
        QJsonObject data;
    };
    static Envelope readEnvelope(const QByteArray& body);
    // The payload text under key in "data"; empty unless it is a JSON string.
    static QString dataString(const Envelope& env, const char* key);

    bool login(const QString& phoneNumber, const QString& password, QString& userId, int& code, QString& msg,
               bool& networkFailed);
    bool checkEnterRoom(const QString& userId, QString& roomId, int& code, QString& msg, bool& networkFailed);
    bool changeLiveStatus(const QString& userId, const QString& roomId, bool live, QString& streamUrl,
                          int& code, QString& msg, bool& networkFailed);
    bool checkLiveStatus(const QString& userId, const QString& roomId, bool& closeMic, int& code,
                         QString& msg, bool& networkFailed);
    bool mute(const QString& userId, bool muted, int& code, QString& msg, bool& networkFailed);

private:
    MuServer();
    ~MuServer() override = default;

    // Sends the signed request for the endpoint path and returns the reply body.
    QByteArray request(const QString& path, const QMap<QString, QString>& params, bool& networkFailed) const;
    // Sends it and reads an answer whose success is code 1 with a non-empty text under key in "data",
    // handed out in text; another answer hands out its code and msg.
    bool requestText(const QString& path, const QMap<QString, QString>& params, const char* key,
                     QString& text, int& code, QString& msg, bool& networkFailed) const;

    QString m_baseUrl;
    QString m_appId;
    QString m_signKeyInUse;
    QMap<int, QString> m_signKeys;
};
