#pragma once

#include "localservices/QuerySignature.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QString>

#include <mutex>

// Everything the local services know: accounts, the phone side of every user (room, microphone,
// ban, forced end of session), the live state that the assistant reports, the injected faults, the
// received click events and a record of the push-stream requests. Thread-safe: the HTTP server
// calls it from its worker threads.
class ServiceState
{
public:
    struct Options
    {
        QString dataPath; // accounts file; empty: only the demo account
        QString rtmpHost = QStringLiteral("127.0.0.1");
        int rtmpPort = 1935;
    };

    // What a push-stream request should suffer before (or instead of) its answer.
    struct Fault
    {
        QString mode = QStringLiteral("none"); // none, slow, error500, garbage, reply
        int delayMs = 0;
        QString operation; // only this operation ("sdkinit" for the configuration); empty: every push-stream one
        int status = 200;  // mode reply: this HTTP status and body
        QByteArray body;

        bool appliesTo(const QString& name) const
        {
            return mode != QLatin1String("none") &&
                   (operation.isEmpty() ? name != QLatin1String("sdkinit") : operation == name);
        }
    };

    explicit ServiceState(const Options& options);

    // Reads the accounts file; a missing file is written with the demo account. False on a broken file.
    bool loadAccounts(QString& error);

    void setSelfUrl(const QString& url);
    QString selfUrl() const;

    // The configuration reply (code, msg, data with every server address pointing at this server).
    QJsonObject sdkInitReply() const;

    // One push-stream operation ("login", "checkEnterRoom", ...) with the decoded query items in
    // received order; returns the envelope. The signature is checked first.
    QJsonObject pushOperation(const QString& operation, const QuerySignature::Items& items);
    void recordCall(const QJsonObject& call);
    QJsonArray calls() const;

    Fault fault() const;

    // Control of the phone side; each returns an envelope (code 1 or an error) for the admin API.
    QJsonObject adminSetRoom(const QString& userId, const QString& roomId);
    QJsonObject adminSetMic(const QString& userId, bool onMic);
    QJsonObject adminSetBan(const QString& userId, bool banned);
    // The push address handed out to the user from now on, whatever it is; empty: the RTMP server's.
    QJsonObject adminSetStreamUrl(const QString& userId, const QString& url);
    QJsonObject adminEndSession(const QString& userId, int code, const QString& msg);
    QJsonObject adminSetFault(const Fault& fault);
    QJsonObject adminAddAccount(const QString& userId, const QString& password);
    QJsonObject adminReset();
    QJsonObject adminState() const;

    void addClickEvent(const QJsonObject& event);
    QJsonArray clickEvents() const;

    static QJsonObject envelope(int code, const QString& msg, const QJsonObject& data = QJsonObject());

    static const char* signKey();

private:
    struct User
    {
        QString password;
        QString roomId;
        bool onMic = false;
        bool banned = false;
        bool live = false;
        bool muted = false;
        int endCode = 0; // 3190 or 3191 until the next login
        QString endMsg;
        QString streamUrl; // handed out instead of the RTMP server's address when set
    };

    QJsonObject login(const QMap<QString, QString>& p);
    QJsonObject checkEnterRoom(const QMap<QString, QString>& p);
    QJsonObject changeLiveStatus(const QMap<QString, QString>& p);
    QJsonObject checkLiveStatus(const QMap<QString, QString>& p);
    QJsonObject mute(const QMap<QString, QString>& p);
    User* findUser(const QString& userId);
    bool saveAccounts() const;
    static QJsonObject userJson(const QString& userId, const User& user);
    QJsonObject faultJson() const; // under the lock

    mutable std::mutex m_mutex;
    Options m_options;
    QString m_selfUrl;
    QMap<QString, User> m_users;
    QMap<QString, User> m_initialUsers; // as loaded, for reset
    Fault m_fault;
    QJsonArray m_clickEvents;
    QJsonArray m_calls;
};
