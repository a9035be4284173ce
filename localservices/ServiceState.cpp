#include "localservices/ServiceState.h"

#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

namespace {

const char* const kSignKey = "c3f19a07e28b4d5c9e6a71b0f4d2835a";
const char* const kAppId = "PC002";
const int kCallsKept = 500;

// Codes of this service besides the shared ones (1 success, 3163, 3190..3194).
const int kCodeBadLogin = 2001;
const int kCodeUnknownUser = 2002;
const int kCodeMissingParameter = 4000;
const int kCodeMissingSign = 4001;
const int kCodeBadSign = 4002;
const int kCodeBadAppId = 4003;
const int kCodeBadValue = 4004;

QJsonObject ok(const QJsonObject& data = QJsonObject())
{
    return ServiceState::envelope(1, QStringLiteral("success"), data);
}

} // namespace

ServiceState::ServiceState(const Options& options) : m_options(options) {}

const char* ServiceState::signKey()
{
    return kSignKey;
}

QJsonObject ServiceState::envelope(int code, const QString& msg, const QJsonObject& data)
{
    QJsonObject o;
    o.insert(QStringLiteral("code"), code);
    o.insert(QStringLiteral("msg"), msg);
    if (!data.isEmpty())
        o.insert(QStringLiteral("data"), data);
    return o;
}

bool ServiceState::loadAccounts(QString& error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_users.clear();
    QFile file(m_options.dataPath);
    if (m_options.dataPath.isEmpty() || !file.exists()) {
        User demo;
        demo.password = QStringLiteral("123456");
        demo.roomId = QStringLiteral("8001");
        demo.onMic = true;
        m_users.insert(QStringLiteral("10001"), demo);
        m_initialUsers = m_users;
        if (!m_options.dataPath.isEmpty() && !saveAccounts()) {
            error = QStringLiteral("cannot write %1").arg(m_options.dataPath);
            return false;
        }
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1").arg(m_options.dataPath);
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    const QJsonValue accounts = doc.object().value(QStringLiteral("accounts"));
    if (!doc.isObject() || !accounts.isArray()) {
        error = QStringLiteral("%1: expected {\"accounts\": [...]} (%2)")
                    .arg(m_options.dataPath, parseError.errorString());
        return false;
    }
    for (const QJsonValue& entry : accounts.toArray()) {
        const QJsonObject a = entry.toObject();
        const QString userId = a.value(QStringLiteral("userId")).toString();
        if (userId.isEmpty()) {
            error = QStringLiteral("%1: an account without \"userId\"").arg(m_options.dataPath);
            return false;
        }
        User user;
        user.password = a.value(QStringLiteral("password")).toString();
        user.roomId = a.value(QStringLiteral("roomId")).toString();
        user.onMic = a.value(QStringLiteral("onMic")).toBool(!user.roomId.isEmpty());
        m_users.insert(userId, user);
    }
    m_initialUsers = m_users;
    return true;
}

// Called with the lock held.
bool ServiceState::saveAccounts() const
{
    if (m_options.dataPath.isEmpty())
        return true;
    QJsonArray accounts;
    for (auto it = m_initialUsers.constBegin(); it != m_initialUsers.constEnd(); ++it) {
        QJsonObject a;
        a.insert(QStringLiteral("userId"), it.key());
        a.insert(QStringLiteral("password"), it.value().password);
        a.insert(QStringLiteral("roomId"), it.value().roomId);
        a.insert(QStringLiteral("onMic"), it.value().onMic);
        accounts.append(a);
    }
    QJsonObject root;
    root.insert(QStringLiteral("accounts"), accounts);
    QSaveFile file(m_options.dataPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(root).toJson());
    return file.commit();
}

void ServiceState::setSelfUrl(const QString& url)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_selfUrl = url;
}

QString ServiceState::selfUrl() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_selfUrl;
}

QJsonObject ServiceState::sdkInitReply() const
{
    const QString self = selfUrl();
    QJsonObject data;
    data.insert(QStringLiteral("forceUpdate"), 0);
    data.insert(QStringLiteral("downloadUrl"), QString());
    data.insert(QStringLiteral("updateTitle"), QString());
    data.insert(QStringLiteral("updateContent"), QString());
    QString ws = self;
    ws.replace(QStringLiteral("http://"), QStringLiteral("ws://"));
    data.insert(QStringLiteral("gatewayServer"), ws + QStringLiteral("ws"));
    for (const char* key : {"baseServer", "logoServer", "cdnServer", "logServer", "h5WebServer", "h5Server",
                            "securityServer", "payServer", "cmsServer", "roomServer"})
        data.insert(QLatin1String(key), self);
    return envelope(1, QStringLiteral("success"), data);
}

ServiceState::User* ServiceState::findUser(const QString& userId)
{
    auto it = m_users.find(userId);
    return it == m_users.end() ? nullptr : &it.value();
}

QJsonObject ServiceState::pushOperation(const QString& operation, const QuerySignature::Items& items)
{
    QMap<QString, QString> p;
    QString sign;
    bool hasSign = false;
    for (const auto& item : items) {
        if (item.first == QLatin1String("sign")) {
            if (!hasSign)
                sign = item.second;
            hasSign = true;
        } else if (!p.contains(item.first)) {
            p.insert(item.first, item.second);
        }
    }
    if (!hasSign)
        return envelope(kCodeMissingSign, QStringLiteral("missing parameter \"sign\""));
    if (sign != QuerySignature::digest(items, QString::fromLatin1(kSignKey))) {
        // Name the signed keys, never their values (the password digest is among them).
        QStringList keys;
        for (const auto& item : items) {
            if (item.first != QLatin1String("sign"))
                keys.append(item.first);
        }
        keys.sort();
        return envelope(kCodeBadSign,
                        QStringLiteral("bad sign: expected the md5 of \"k=v&...\" over %1 in this "
                                       "order, followed by the key")
                            .arg(keys.join(QLatin1Char(','))));
    }
    if (p.value(QStringLiteral("appId")) != QLatin1String(kAppId))
        return envelope(kCodeBadAppId, QStringLiteral("appId must be \"%1\"").arg(QLatin1String(kAppId)));

    std::lock_guard<std::mutex> lock(m_mutex);
    if (operation == QLatin1String("login"))
        return login(p);
    if (operation == QLatin1String("checkEnterRoom"))
        return checkEnterRoom(p);
    if (operation == QLatin1String("changeLiveStatus"))
        return changeLiveStatus(p);
    if (operation == QLatin1String("checkLiveStatus"))
        return checkLiveStatus(p);
    if (operation == QLatin1String("mute"))
        return mute(p);
    return envelope(404, QStringLiteral("unknown operation \"%1\"").arg(operation));
}

QJsonObject ServiceState::login(const QMap<QString, QString>& p)
{
    const QString phone = p.value(QStringLiteral("phoneNumber"));
    if (phone.isEmpty() || !p.contains(QStringLiteral("password")))
        return envelope(kCodeMissingParameter, QStringLiteral("phoneNumber and password are required"));
    User* user = findUser(phone);
    if (!user || QuerySignature::md5Hex(user->password) != p.value(QStringLiteral("password")))
        return envelope(kCodeBadLogin, QStringLiteral("用户ID或密码错误"));
    user->endCode = 0;
    user->endMsg.clear();
    user->live = false;
    QJsonObject data;
    data.insert(QStringLiteral("userId"), phone);
    return ok(data);
}

QJsonObject ServiceState::checkEnterRoom(const QMap<QString, QString>& p)
{
    User* user = findUser(p.value(QStringLiteral("userId")));
    if (!user)
        return envelope(kCodeUnknownUser, QStringLiteral("用户不存在"));
    if (user->endCode != 0)
        return envelope(user->endCode, user->endMsg);
    if (user->roomId.isEmpty())
        return envelope(3192, QStringLiteral("您不在语音房间内"));
    QJsonObject data;
    data.insert(QStringLiteral("roomId"), user->roomId);
    return ok(data);
}

QJsonObject ServiceState::changeLiveStatus(const QMap<QString, QString>& p)
{
    User* user = findUser(p.value(QStringLiteral("userId")));
    if (!user)
        return envelope(kCodeUnknownUser, QStringLiteral("用户不存在"));
    const QString status = p.value(QStringLiteral("liveStatus"));
    if (status == QLatin1String("2")) {
        // Stopping is always accepted: the assistant must be able to leave in any state.
        user->live = false;
        return ok();
    }
    if (status != QLatin1String("1"))
        return envelope(kCodeBadValue, QStringLiteral("liveStatus must be 1 or 2"));
    if (user->endCode != 0)
        return envelope(user->endCode, user->endMsg);
    if (user->roomId.isEmpty() || p.value(QStringLiteral("roomId")) != user->roomId)
        return envelope(3192, QStringLiteral("您不在该语音房间内"));
    if (!user->onMic)
        return envelope(3194, QStringLiteral("您不在麦上，无法推流"));
    if (user->banned)
        return envelope(3194, QStringLiteral("您已被禁麦，无法推流"));
    user->live = true;
    QJsonObject data;
    data.insert(QStringLiteral("streamUrl"), !user->streamUrl.isEmpty()
                                                 ? user->streamUrl
                                                 : QStringLiteral("rtmp://%1:%2/live/%3")
                                                       .arg(m_options.rtmpHost)
                                                       .arg(m_options.rtmpPort)
                                                       .arg(user->roomId));
    return ok(data);
}

QJsonObject ServiceState::checkLiveStatus(const QMap<QString, QString>& p)
{
    User* user = findUser(p.value(QStringLiteral("userId")));
    if (!user)
        return envelope(kCodeUnknownUser, QStringLiteral("用户不存在"));
    if (user->endCode != 0)
        return envelope(user->endCode, user->endMsg);
    const QString roomId = p.value(QStringLiteral("roomId"));
    if (user->roomId.isEmpty() || (!roomId.isEmpty() && roomId != user->roomId))
        return envelope(3192, QStringLiteral("您已不在语音房间内"));
    QJsonObject data;
    data.insert(QStringLiteral("closeMic"), user->banned);
    if (!user->onMic)
        return envelope(3193, QStringLiteral("您已不在麦上"), data);
    if (user->banned)
        return envelope(3163, QStringLiteral("您已被房间禁麦"), data);
    return ok(data);
}

QJsonObject ServiceState::mute(const QMap<QString, QString>& p)
{
    User* user = findUser(p.value(QStringLiteral("userId")));
    if (!user)
        return envelope(kCodeUnknownUser, QStringLiteral("用户不存在"));
    const QString value = p.value(QStringLiteral("mute"));
    if (value != QLatin1String("0") && value != QLatin1String("1"))
        return envelope(kCodeBadValue, QStringLiteral("mute must be 0 or 1"));
    user->muted = value == QLatin1String("1");
    return ok();
}

void ServiceState::recordCall(const QJsonObject& call)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.append(call);
    while (m_calls.size() > kCallsKept)
        m_calls.removeFirst();
}

QJsonArray ServiceState::calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

ServiceState::Fault ServiceState::fault() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fault;
}

QJsonObject ServiceState::adminSetRoom(const QString& userId, const QString& roomId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    User* user = findUser(userId);
    if (!user)
        return envelope(kCodeUnknownUser, QStringLiteral("unknown user \"%1\"").arg(userId));
    if (user->roomId != roomId) {
        // Another room (or none) means off any microphone and not live.
        user->onMic = false;
        user->live = false;
        user->banned = false;
    }
    user->roomId = roomId;
    return ok(userJson(userId, *user));
}

QJsonObject ServiceState::adminSetMic(const QString& userId, bool onMic)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    User* user = findUser(userId);
    if (!user)
        return envelope(kCodeUnknownUser, QStringLiteral("unknown user \"%1\"").arg(userId));
    if (onMic && user->roomId.isEmpty())
        return envelope(kCodeBadValue, QStringLiteral("user \"%1\" is in no room").arg(userId));
    user->onMic = onMic;
    if (!onMic)
        user->live = false;
    return ok(userJson(userId, *user));
}

QJsonObject ServiceState::adminSetBan(const QString& userId, bool banned)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    User* user = findUser(userId);
    if (!user)
        return envelope(kCodeUnknownUser, QStringLiteral("unknown user \"%1\"").arg(userId));
    user->banned = banned;
    return ok(userJson(userId, *user));
}

QJsonObject ServiceState::adminSetStreamUrl(const QString& userId, const QString& url)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    User* user = findUser(userId);
    if (!user)
        return envelope(kCodeUnknownUser, QStringLiteral("unknown user \"%1\"").arg(userId));
    user->streamUrl = url;
    return ok(userJson(userId, *user));
}

QJsonObject ServiceState::adminEndSession(const QString& userId, int code, const QString& msg)
{
    if (code != 3190 && code != 3191)
        return envelope(kCodeBadValue, QStringLiteral("code must be 3190 or 3191"));
    std::lock_guard<std::mutex> lock(m_mutex);
    User* user = findUser(userId);
    if (!user)
        return envelope(kCodeUnknownUser, QStringLiteral("unknown user \"%1\"").arg(userId));
    user->endCode = code;
    user->endMsg = !msg.isEmpty() ? msg
                   : code == 3190 ? QStringLiteral("您的账号已在其他设备登录")
                                  : QStringLiteral("直播已被结束，请重新登录");
    user->live = false;
    return ok(userJson(userId, *user));
}

QJsonObject ServiceState::adminSetFault(const Fault& fault)
{
    static const QStringList modes = {QStringLiteral("none"), QStringLiteral("slow"), QStringLiteral("error500"),
                                      QStringLiteral("garbage"), QStringLiteral("reply")};
    if (!modes.contains(fault.mode))
        return envelope(kCodeBadValue,
                        QStringLiteral("mode must be one of %1").arg(modes.join(QLatin1String(", "))));
    if (fault.delayMs < 0 || fault.delayMs > 600000)
        return envelope(kCodeBadValue, QStringLiteral("delayMs must be 0..600000"));
    if (fault.mode == QLatin1String("reply") && (fault.status < 100 || fault.status > 599))
        return envelope(kCodeBadValue, QStringLiteral("status must be 100..599"));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fault = fault;
    if (fault.mode != QLatin1String("slow"))
        m_fault.delayMs = 0;
    return ok(faultJson());
}

QJsonObject ServiceState::faultJson() const
{
    QJsonObject data;
    data.insert(QStringLiteral("mode"), m_fault.mode);
    data.insert(QStringLiteral("delayMs"), m_fault.delayMs);
    data.insert(QStringLiteral("operation"), m_fault.operation);
    if (m_fault.mode == QLatin1String("reply")) {
        data.insert(QStringLiteral("status"), m_fault.status);
        data.insert(QStringLiteral("bodyBytes"), m_fault.body.size());
    }
    return data;
}

QJsonObject ServiceState::adminAddAccount(const QString& userId, const QString& password)
{
    if (userId.isEmpty())
        return envelope(kCodeMissingParameter, QStringLiteral("userId is required"));
    std::lock_guard<std::mutex> lock(m_mutex);
    User user;
    user.password = password;
    m_users.insert(userId, user);
    m_initialUsers.insert(userId, user);
    if (!saveAccounts())
        return envelope(500, QStringLiteral("account added, but the data file could not be written"));
    return ok(userJson(userId, user));
}

QJsonObject ServiceState::adminReset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_users = m_initialUsers;
    m_fault = Fault();
    m_clickEvents = QJsonArray();
    m_calls = QJsonArray();
    return ok();
}

QJsonObject ServiceState::userJson(const QString& userId, const User& user)
{
    QJsonObject o;
    o.insert(QStringLiteral("userId"), userId);
    o.insert(QStringLiteral("roomId"), user.roomId);
    o.insert(QStringLiteral("onMic"), user.onMic);
    o.insert(QStringLiteral("banned"), user.banned);
    o.insert(QStringLiteral("live"), user.live);
    o.insert(QStringLiteral("muted"), user.muted);
    o.insert(QStringLiteral("endCode"), user.endCode);
    o.insert(QStringLiteral("endMsg"), user.endMsg);
    o.insert(QStringLiteral("streamUrl"), user.streamUrl);
    return o;
}

QJsonObject ServiceState::adminState() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QJsonArray users;
    for (auto it = m_users.constBegin(); it != m_users.constEnd(); ++it)
        users.append(userJson(it.key(), it.value()));
    QJsonObject data;
    data.insert(QStringLiteral("users"), users);
    data.insert(QStringLiteral("fault"), faultJson());
    data.insert(QStringLiteral("clickEvents"), m_clickEvents.size());
    return ok(data);
}

void ServiceState::addClickEvent(const QJsonObject& event)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_clickEvents.append(event);
}

QJsonArray ServiceState::clickEvents() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clickEvents;
}
