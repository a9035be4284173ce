#include "service/MuServer.h"

#include "base/MuSettings.h"
#include "net/http/VHttpComm.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QUrl>

namespace {

const char* const kAppId = "PC002";
const char* const kSignKey = "c3f19a07e28b4d5c9e6a71b0f4d2835a";

} // namespace

MuServer::MuServer() : QObject(nullptr)
{
    m_signKeys.insert(1002, QString::fromLatin1(kSignKey));
    m_signKeys.insert(1000, QString::fromLatin1(kSignKey));
}

void MuServer::setServer(const QString& baseUrl, const QString& serverType)
{
    m_baseUrl = baseUrl;
    m_appId = QString::fromLatin1(kAppId);
    signKey(serverType);
}

QString MuServer::signKey(const QString& serverType)
{
    const int type = serverType.toInt(nullptr, 10);
    auto it = m_signKeys.constFind(type);
    if (it != m_signKeys.constEnd())
        m_signKeyInUse = it.value();
    return m_signKeyInUse;
}

QString MuServer::appId() const
{
    return QString::fromLatin1(kAppId);
}

QString MuServer::signQuery(const QMap<QString, QString>& params, const QString& key)
{
    QString text;
    for (auto it = params.constBegin(); it != params.constEnd(); ++it) {
        if (!text.isEmpty())
            text += QLatin1Char('&');
        text += it.key() + QLatin1Char('=') + it.value();
    }
    QString query = text;
    const QString digest = MuSettings::md5Hex(text + key);
    if (!query.isEmpty())
        query += QLatin1Char('&');
    query += QStringLiteral("sign=") + digest;
    return query;
}

QByteArray MuServer::request(const QString& path, const QMap<QString, QString>& params,
                             bool& networkFailed) const
{
    const QString address = m_baseUrl + path + QLatin1Char('?') + signQuery(params, m_signKeyInUse);
    return VHttpComm::instance()->syncPost(QUrl(address, QUrl::TolerantMode), QByteArray(), networkFailed);
}

MuServer::Envelope MuServer::readEnvelope(const QByteArray& body)
{
    Envelope env;
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject())
        return env;
    env.isObject = true;
    const QJsonObject root = doc.object();
    const QJsonValue code = root.value(QStringLiteral("code"));
    if (code.isDouble())
        env.code = code.toInt(-1);
    const QJsonValue msg = root.value(QStringLiteral("msg"));
    if (msg.isString())
        env.msg = msg.toString();
    const QJsonValue data = root.value(QStringLiteral("data"));
    if (data.isObject())
        env.data = data.toObject();
    return env;
}

QString MuServer::dataString(const Envelope& env, const char* key)
{
    const QJsonValue v = env.data.value(QLatin1String(key));
    return v.isString() ? v.toString() : QString();
}

namespace {

using Envelope = MuServer::Envelope;

void startValues(int& code, QString& msg, bool& networkFailed)
{
    code = -1;
    msg.clear();
    networkFailed = false;
}

void failWith(const Envelope& env, int& code, QString& msg)
{
    code = env.code;
    msg = env.msg;
}

} // namespace

bool MuServer::requestText(const QString& path, const QMap<QString, QString>& params, const char* key,
                           QString& text, int& code, QString& msg, bool& networkFailed) const
{
    const Envelope env = readEnvelope(request(path, params, networkFailed));
    if (!env.isObject)
        return false;
    const QString read = dataString(env, key);
    if (env.code == 1 && !read.isEmpty()) {
        text = read;
        return true;
    }
    failWith(env, code, msg);
    return false;
}

bool MuServer::login(const QString& phoneNumber, const QString& password, QString& userId, int& code,
                     QString& msg, bool& networkFailed)
{
    startValues(code, msg, networkFailed);
    userId.clear();
    QMap<QString, QString> params;
    params.insert(QStringLiteral("appId"), m_appId);
    params.insert(QStringLiteral("password"), MuSettings::md5Hex(password));
    params.insert(QStringLiteral("phoneNumber"), phoneNumber);
    return requestText(QStringLiteral("pushStreamHelper/login"), params, "userId", userId, code, msg,
                       networkFailed);
}

bool MuServer::checkEnterRoom(const QString& userId, QString& roomId, int& code, QString& msg,
                              bool& networkFailed)
{
    startValues(code, msg, networkFailed);
    roomId.clear();
    QMap<QString, QString> params;
    params.insert(QStringLiteral("appId"), m_appId);
    params.insert(QStringLiteral("userId"), userId);
    return requestText(QStringLiteral("pushStreamHelper/checkEnterRoom"), params, "roomId", roomId, code, msg,
                       networkFailed);
}

bool MuServer::changeLiveStatus(const QString& userId, const QString& roomId, bool live, QString& streamUrl,
                                int& code, QString& msg, bool& networkFailed)
{
    startValues(code, msg, networkFailed);
    streamUrl.clear();
    QMap<QString, QString> params;
    params.insert(QStringLiteral("appId"), m_appId);
    params.insert(QStringLiteral("liveStatus"), live ? QStringLiteral("1") : QStringLiteral("2"));
    params.insert(QStringLiteral("roomId"), roomId);
    params.insert(QStringLiteral("userId"), userId);
    const Envelope env =
        readEnvelope(request(QStringLiteral("pushStreamHelper/changeLiveStatus"), params, networkFailed));
    if (!env.isObject)
        return false;
    if (env.code == 1) {
        streamUrl = dataString(env, "streamUrl");
        return true;
    }
    failWith(env, code, msg);
    return false;
}

bool MuServer::checkLiveStatus(const QString& userId, const QString& roomId, bool& closeMic, int& code,
                               QString& msg, bool& networkFailed)
{
    startValues(code, msg, networkFailed);
    closeMic = false;
    QMap<QString, QString> params;
    params.insert(QStringLiteral("appId"), m_appId);
    if (!roomId.isEmpty())
        params.insert(QStringLiteral("roomId"), roomId);
    params.insert(QStringLiteral("userId"), userId);
    const Envelope env =
        readEnvelope(request(QStringLiteral("pushStreamHelper/checkLiveStatus"), params, networkFailed));
    if (!env.isObject)
        return false;
    const QJsonValue mic = env.data.value(QStringLiteral("closeMic"));
    closeMic = mic.isBool() && mic.toBool();
    if (env.code == 1)
        return true;
    failWith(env, code, msg);
    return false;
}

bool MuServer::mute(const QString& userId, bool muted, int& code, QString& msg, bool& networkFailed)
{
    startValues(code, msg, networkFailed);
    QMap<QString, QString> params;
    params.insert(QStringLiteral("appId"), m_appId);
    params.insert(QStringLiteral("mute"), muted ? QStringLiteral("1") : QStringLiteral("0"));
    params.insert(QStringLiteral("userId"), userId);
    const Envelope env =
        readEnvelope(request(QStringLiteral("pushStreamHelper/mute"), params, networkFailed));
    if (!env.isObject)
        return false;
    if (env.code == 1)
        return true;
    failWith(env, code, msg);
    return false;
}
