#include "workflow/MuPushWorkflow.h"

#include "base/MuSettings.h"
#include "base/OutsideText.h"
#include "base/VClock.h"
#include "rtc/AgoraRtcEngine.h"
#include "rtc/sdk/RtcTypes.h"
#include "service/MuServer.h"

#include <QScopeGuard>
#include <QTimer>
#include <QtDebug>

namespace {

constexpr qint64 networkFailLimitMs = 60000;
constexpr int statusTickMs = 1000;

// Service codes the workflow reacts to.
constexpr int codeMicBanned = 3163;
constexpr int codeRelogin = 3190;
constexpr int codeReloginOther = 3191;
constexpr int codeLeftRoom = 3192;
constexpr int codeLeftMic = 3193;
constexpr int codePushRefused = 3194;

// Raises a flag for the lifetime of a scope; nested scopes keep it raised.
class BusyScope
{
public:
    explicit BusyScope(int& depth) : m_depth(depth) { ++m_depth; }
    ~BusyScope() { --m_depth; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    int& m_depth;
};

QString clockText(qint64 seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

MuPushWorkflow::MuPushWorkflow(QObject* parent) : QObject(parent)
{
    m_statusTimer = new QTimer(this);
    m_statusTimer->setInterval(statusTickMs);
    connect(m_statusTimer, &QTimer::timeout, this, &MuPushWorkflow::refreshStatusLine);
}

MuPushWorkflow::~MuPushWorkflow() = default;

void MuPushWorkflow::startSession()
{
    m_streamUrl.clear();
    setState(PanelStateEnterRoom);
    resetPushLayout();
    m_micBanned = false;
    m_lastHeartbeatSecond.clear();
    m_networkFailSince = -1;

    m_engine.reset();
    m_engine.reset(new AgoraRtcEngine());
    connectEngine();
}

void MuPushWorkflow::connectEngine()
{
    AgoraRtcEngine* engine = m_engine.data();
    connect(engine, &AgoraRtcEngine::sigRelayStateChanged, this, &MuPushWorkflow::onRelayStateChanged);
    connect(engine, &AgoraRtcEngine::sigRelayReconnecting, this, &MuPushWorkflow::onRelayReconnecting);
    connect(engine, &AgoraRtcEngine::sigCaptureStateChanged, this, &MuPushWorkflow::onCaptureStateChanged);
    connect(engine, &AgoraRtcEngine::sigAcknowledgedTraffic, this, [this](quint64, int kbps) {
        m_acknowledgedKbps = kbps;
        refreshStatusLine();
    });
    connect(engine, &AgoraRtcEngine::sigRecordingDeviceChanged, this,
            [this](const QString&, int) { emit sigRecordingDevicesChanged(); });
}

void MuPushWorkflow::setState(int state)
{
    m_pushState = state;
    if (state == PanelStatePushing) {
        resetPushHealth();
        m_statusTimer->start();
    } else {
        m_statusTimer->stop();
    }
    emit sigStateChanged(state);
    refreshStatusLine();
}

void MuPushWorkflow::message(const QString& line1, bool returnToLogin, const QString& line2)
{
    emit sigMessage(line1, line2, returnToLogin);
}

void MuPushWorkflow::pushButton()
{
    if (m_exiting)
        return; // the session is being left; the press would act on a session that is going
    BusyScope busy(m_busyDepth);
    switch (m_pushState) {
    case PanelStateEnterRoom:
        enterRoom();
        break;
    case PanelStateStartPush:
        pushStream();
        break;
    case PanelStatePushing:
        stopStream();
        break;
    default: {
        qInfo() << "MuVoicePanel::sltPushButton no match" << m_pushState;
        const bool r = exitSession(true);
        message(QStringLiteral("登录失效，请重新登录"), r);
        break;
    }
    }
}

void MuPushWorkflow::enterRoom()
{
    const QSharedPointer<AgoraRtcEngine> session = m_engine;
    const QString accountUserId = MuSettings::instance()->accountUserIdText();
    QString roomId;
    int code = -1;
    QString msg;
    bool networkFailed = false;
    const bool ok = MuServer::instance()->checkEnterRoom(accountUserId, roomId, code, msg, networkFailed);
    qInfo() << "MuVoicePanel::enterRoom" << ok << accountUserId << OutsideText::capped(roomId) << code
            << OutsideText::capped(msg) << networkFailed;
    if (m_engine != session || m_pushState != PanelStateEnterRoom)
        return; // the session was left while the service answered

    if (ok) {
        setState(PanelStateStartPush);
        MuSettings::instance()->setChannelName(roomId);
        return;
    }
    if (networkFailed) {
        message(QStringLiteral("网络异常"), false);
    } else if (code == codeRelogin || code == codeReloginOther) {
        const bool r = exitSession(false);
        message(msg, r);
    } else {
        message(QStringLiteral("要进入任意语音房间才能推流哦"), false);
    }
}

void MuPushWorkflow::pushStream()
{
    const QSharedPointer<AgoraRtcEngine> session = m_engine;
    if (!session)
        return;

    QString channelName;
    QString accountUserId;
    QString rtcUid;
    MuSettings::instance()->roomIdentity(channelName, accountUserId, rtcUid);

    QString streamUrl;
    int code = -1;
    QString msg;
    bool networkFailed = false;
    const bool ok = MuServer::instance()->changeLiveStatus(accountUserId, channelName, true, streamUrl, code,
                                                           msg, networkFailed);
    qInfo() << "MuVoicePanel::pushStream" << ok << accountUserId << OutsideText::capped(channelName)
            << OutsideText::capped(streamUrl) << code << OutsideText::capped(msg) << networkFailed;
    if (m_engine != session) {
        // The session was left while the service answered; a start that went through must not
        // leave the user marked live.
        if (ok)
            tellNotLive(accountUserId, channelName, "MuVoicePanel::pushStream session ended stopStream");
        return;
    }

    if (ok) {
        const int r = session->joinChannel(QString(), channelName, rtcUid);
        qInfo() << "joinChannel" << r << OutsideText::capped(channelName) << rtcUid;
        if (r != 0) {
            tellNotLive(accountUserId, channelName, "MuVoicePanel::pushStream joinChannel fail stopStream");
            message(QStringLiteral("推流失败"), false);
            return;
        }
        setState(PanelStatePushing);
        addPushUrl(streamUrl);
        setMuteLook(m_muted, false);
        return;
    }
    // No service code read (an HTTP error status, a body that is no envelope) is a transport
    // failure as well, not a statement about the microphone.
    if (networkFailed || code == -1) {
        message(QStringLiteral("网络异常"), false);
    } else if (code == codePushRefused) {
        message(msg, false);
    } else if (code == codeRelogin || code == codeReloginOther) {
        const bool r = exitSession(false);
        message(msg, r);
    } else {
        message(QStringLiteral("无法推流"), false, QStringLiteral("原因：APP不在麦上、已被禁麦"));
    }
}

void MuPushWorkflow::addPushUrl(const QString& url)
{
    m_streamUrl = url;
    if (!url.isEmpty() && m_engine) {
        const int r = m_engine->addPublishStreamUrl(url);
        qInfo() << "addPublishStreamUrl" << r << OutsideText::capped(url);
        // The relay never started: nothing will leave the PC, and the status line says so.
        m_relayFailed = r != 0;
    } else {
        m_relayFailed = true;
    }
    refreshStatusLine();
}

void MuPushWorkflow::removePushUrl()
{
    if (!m_streamUrl.isEmpty() && m_engine) {
        const int r = m_engine->removePublishStreamUrl(m_streamUrl);
        qInfo() << "removePublishStreamUrl" << r << OutsideText::capped(m_streamUrl);
    }
}

void MuPushWorkflow::leaveChannelLogged()
{
    if (!m_engine)
        return;
    const int r = m_engine->leaveChannel();
    qInfo() << "leaveChannel" << r;
}

void MuPushWorkflow::endPush()
{
    leaveChannelLogged();
    removePushUrl();
    resetPushLayout();
}

void MuPushWorkflow::fallBackTo(int state, const QString& serviceMessage)
{
    setState(state);
    message(serviceMessage, false, QStringLiteral("小助手停止了推流"));
}

void MuPushWorkflow::stopStream()
{
    const QSharedPointer<AgoraRtcEngine> session = m_engine;
    if (!session)
        return;

    endPush();
    setState(PanelStateStartPush);

    QString channelName;
    QString accountUserId;
    QString rtcUid;
    MuSettings::instance()->roomIdentity(channelName, accountUserId, rtcUid);
    bool networkFailed = false;
    const bool ok = tellNotLive(accountUserId, channelName, "MuVoicePanel::stopStream", &networkFailed);
    if (!ok && networkFailed && m_engine == session)
        message(QStringLiteral("网络异常"), false);
}

bool MuPushWorkflow::tellNotLive(const QString& accountUserId, const QString& channelName, const char* logTag,
                                 bool* networkFailedOut)
{
    QString ignoredUrl;
    int code = -1;
    QString msg;
    bool networkFailed = false;
    const bool ok = MuServer::instance()->changeLiveStatus(accountUserId, channelName, false, ignoredUrl,
                                                           code, msg, networkFailed);
    qInfo() << logTag << ok << accountUserId << OutsideText::capped(channelName) << code
            << OutsideText::capped(msg) << networkFailed;
    if (networkFailedOut)
        *networkFailedOut = networkFailed;
    return ok;
}

void MuPushWorkflow::heartbeat()
{
    const QSharedPointer<AgoraRtcEngine> session = m_engine;
    if (!session)
        return;
    // A heartbeat that fires while a button's or an earlier heartbeat's request is still
    // waiting would act on a state that is about to change under it.
    if (m_busyDepth > 0 || m_exiting)
        return;

    const QString second = VClock::now().toString(QStringLiteral("yyyyMMddHHmmss"));
    if (second == m_lastHeartbeatSecond)
        return;
    m_lastHeartbeatSecond = second;

    QString channelName;
    QString accountUserId;
    QString rtcUid;
    MuSettings::instance()->roomIdentity(channelName, accountUserId, rtcUid);
    bool closeMic = false;
    int code = -1;
    QString msg;
    bool networkFailed = false;
    bool ok = false;
    {
        BusyScope busy(m_busyDepth);
        ok = MuServer::instance()->checkLiveStatus(accountUserId, channelName, closeMic, code, msg,
                                                   networkFailed);
    }
    qInfo() << "MuVoicePanel::sltHeartbeat" << ok << accountUserId << OutsideText::capped(channelName)
            << closeMic << code << OutsideText::capped(msg) << networkFailed
            << MuSettings::instance()->elapsedMs();
    if (m_engine != session)
        return; // the session was left while the service answered

    if (networkFailed) {
        const qint64 nowMs = VClock::monotonicMs();
        if (m_networkFailSince < 0)
            m_networkFailSince = nowMs;
        if (nowMs - m_networkFailSince >= networkFailLimitMs) {
            const bool r = exitSession(true);
            message(QStringLiteral("网络异常，请重新登录"), r);
            return;
        }
    } else {
        m_networkFailSince = -1;
        if (ok) {
            if (m_micBanned && m_pushState == PanelStatePushing)
                setMuteLook(m_muted, false);
            m_micBanned = false;
            return;
        }
    }
    handleHeartbeatFailure(code, msg);
}

void MuPushWorkflow::handleHeartbeatFailure(int code, const QString& msg)
{
    // What each service code does, by state: the first row for the code and the current state
    // runs its steps in order, then falls back to an earlier state with the service's message.
    // The ban code bans the microphone in a session; every other listed code ends a ban, also
    // in the states where it has nothing else to do.
    enum Step : unsigned
    {
        exits = 1,
        endsPush = 2,
        leavesRoom = 4,
        mutesForBan = 8
    };
    constexpr int inSession = -1; // any state but idle
    constexpr int noFallBack = PanelStateIdle;
    struct Reaction
    {
        int code;
        int state;
        unsigned steps;
        int fallBack;
    };
    static const Reaction reactions[] = {
        {codeRelogin, inSession, exits, noFallBack},
        {codeReloginOther, inSession, exits, noFallBack},
        {codeLeftRoom, PanelStatePushing, endsPush | leavesRoom, PanelStateEnterRoom},
        {codeLeftRoom, PanelStateStartPush, leavesRoom, PanelStateEnterRoom},
        {codeLeftMic, PanelStatePushing, endsPush, PanelStateStartPush},
        {codeMicBanned, PanelStatePushing, mutesForBan, noFallBack},
        {codeMicBanned, inSession, 0, noFallBack},
    };
    bool known = false;
    for (const Reaction& row : reactions) {
        known = known || row.code == code;
        const bool inRowState =
            row.state == m_pushState || (row.state == inSession && m_pushState != PanelStateIdle);
        if (row.code != code || !inRowState)
            continue;
        if (row.steps & exits) {
            const bool r = exitSession(false);
            message(msg, r);
        }
        if (row.steps & endsPush)
            endPush();
        if (row.steps & leavesRoom)
            _leaveRoom();
        if (row.fallBack != noFallBack)
            fallBackTo(row.fallBack, msg);
        if (row.steps & mutesForBan) {
            if (!m_muted) {
                qInfo() << "mute by YouBeForbidMic begin" << m_muted;
                toggleMute();
                qInfo() << "mute by YouBeForbidMic end" << m_muted;
            }
            setMuteLook(true, true);
        }
        m_micBanned = code == codeMicBanned;
        return;
    }
    if (!known)
        qInfo() << "checkLiveStatus unhandle error" << code << OutsideText::capped(msg);
    else if (code != codeMicBanned)
        m_micBanned = false;
}

void MuPushWorkflow::muteButton()
{
    if (m_micBanned || !m_engine || m_exiting || m_muteBusy)
        return;
    toggleMute();
}

void MuPushWorkflow::toggleMute()
{
    const QSharedPointer<AgoraRtcEngine> session = m_engine;
    if (!session)
        return;
    BusyScope busy(m_busyDepth);
    m_muteBusy = true;
    emit sigMuteBusy(true);
    const auto done = qScopeGuard([this] {
        m_muteBusy = false;
        emit sigMuteBusy(false);
    });
    const bool wanted = !m_muted;
    const int r = session->muteLocalAudioStream(wanted);
    qInfo() << "muteLocalAudioStream" << wanted << r;
    if (r != 0) {
        message(m_muted ? QStringLiteral("取消静音失败") : QStringLiteral("静音失败"), false);
        return;
    }
    setMuteLook(wanted, false);
    m_muted = wanted;

    const QString accountUserId = MuSettings::instance()->accountUserIdText();
    int code = -1;
    QString msg;
    bool networkFailed = false;
    const bool ok = MuServer::instance()->mute(accountUserId, m_muted, code, msg, networkFailed);
    qInfo() << "MuVoicePanel::sltMute" << ok << accountUserId << m_muted << code << OutsideText::capped(msg)
            << networkFailed;
    if (!ok && networkFailed && m_engine == session)
        message(QStringLiteral("网络异常"), false);
}

void MuPushWorkflow::setMuteLook(bool muted, bool banned)
{
    emit sigMuteLook(true, muted, banned);
}

void MuPushWorkflow::resetPushLayout()
{
    m_muted = false;
    emit sigMuteLook(false, false, false);
}

bool MuPushWorkflow::exitSession(bool changeStatus)
{
    qInfo() << "MuVoicePanel::_sltClosePanel_ExitPanel" << changeStatus << m_pushState;
    // A second exit while the first still waits for the service (close pressed twice) has
    // nothing left to do.
    if (!m_engine || m_exiting)
        return false;
    m_exiting = true;
    emit sigSessionEnding();

    switch (m_pushState) {
    case PanelStatePushing: {
        leaveChannelLogged();
        removePushUrl();
        if (changeStatus) {
            QString channelName;
            QString accountUserId;
            QString rtcUid;
            MuSettings::instance()->roomIdentity(channelName, accountUserId, rtcUid);
            tellNotLive(accountUserId, channelName, "MuVoicePanel::_sltClosePanel leaveChannel");
        }
        _leaveRoom();
        _logout();
        break;
    }
    case PanelStateStartPush:
        _leaveRoom();
        _logout();
        break;
    case PanelStateEnterRoom:
        _logout();
        break;
    default:
        break;
    }

    // Released before anything else can run: no engine event reaches this session after it.
    m_engine.reset();
    m_pushState = PanelStateIdle;
    m_statusTimer->stop();
    refreshStatusLine();
    m_exiting = false;
    return true;
}

void MuPushWorkflow::_leaveRoom()
{
    qInfo() << "MuVoicePanel::_leaveRoom";
    MuSettings::instance()->setChannelName(QString());
}

void MuPushWorkflow::_logout()
{
    qInfo() << "MuVoicePanel::_logout";
}

void MuPushWorkflow::resetPushHealth()
{
    m_pushStartMs = VClock::monotonicMs();
    m_relayRunning = false;
    m_relayFailed = false;
    m_reconnectAttempt = 0;
    m_reconnectDueMs = 0;
    m_captureLost = false;
    m_acknowledgedKbps = 0;
}

void MuPushWorkflow::onRelayStateChanged(const QString& url, int state, int errorCode)
{
    if (m_pushState != PanelStatePushing || url != m_streamUrl)
        return;
    switch (state) {
    case agora::rtc::kRtmpStateRunning:
        if (m_reconnectAttempt > 0)
            qInfo() << "MuPushWorkflow::relay running again after attempt" << m_reconnectAttempt;
        m_relayRunning = true;
        m_relayFailed = false;
        m_reconnectAttempt = 0;
        break;
    case agora::rtc::kRtmpStateRecovering:
        // The reconnect announcement follows at once; the line changes with it.
        qInfo() << "MuPushWorkflow::relay interrupted" << errorCode;
        m_relayRunning = false;
        m_acknowledgedKbps = 0;
        return;
    case agora::rtc::kRtmpStateFailure:
        qInfo() << "MuPushWorkflow::relay failed" << errorCode;
        m_relayRunning = false;
        m_relayFailed = true;
        m_acknowledgedKbps = 0;
        break;
    default:
        break;
    }
    refreshStatusLine();
}

void MuPushWorkflow::onRelayReconnecting(const QString& url, int attempt, int delayMs)
{
    if (m_pushState != PanelStatePushing || url != m_streamUrl)
        return;
    m_relayRunning = false;
    m_reconnectAttempt = attempt;
    m_reconnectDueMs = VClock::monotonicMs() + delayMs;
    refreshStatusLine();
}

void MuPushWorkflow::onCaptureStateChanged(int state, int error)
{
    if (state == agora::rtc::kLocalAudioFailed) {
        qInfo() << "MuPushWorkflow::recording device lost" << error;
        m_captureLost = true;
    } else if (state == agora::rtc::kLocalAudioRecording) {
        if (m_captureLost)
            qInfo() << "MuPushWorkflow::recording device back";
        m_captureLost = false;
    }
    refreshStatusLine();
}

QString MuPushWorkflow::statusLine() const
{
    if (m_pushState != PanelStatePushing)
        return QString();
    const qint64 nowMs = VClock::monotonicMs();
    if (m_reconnectAttempt > 0) {
        const qint64 leftMs = m_reconnectDueMs - nowMs;
        if (leftMs > 1000)
            return QStringLiteral("推流中断，%1 秒后重连（第 %2 次）…")
                .arg((leftMs + 999) / 1000)
                .arg(m_reconnectAttempt);
        return QStringLiteral("推流中断，正在重连（第 %1 次）…").arg(m_reconnectAttempt);
    }
    if (m_relayFailed)
        return QStringLiteral("推流失败，请结束直播后重试");
    if (m_captureLost)
        return QStringLiteral("录音设备已断开");
    if (!m_relayRunning)
        return QStringLiteral("正在连接推流服务器…");
    const QString pushed = QStringLiteral("已推流 %1").arg(clockText((nowMs - m_pushStartMs) / 1000));
    // A rate appears once the server has acknowledged enough to measure one: a server with a
    // wide acknowledgement window says nothing for a while, and "0 kbps" would be untrue then.
    if (m_acknowledgedKbps <= 0)
        return pushed;
    return pushed + QStringLiteral(" · %1 kbps").arg(m_acknowledgedKbps);
}

void MuPushWorkflow::refreshStatusLine()
{
    const QString text = statusLine();
    if (text == m_statusLine)
        return;
    m_statusLine = text;
    emit sigStatusLine(text);
}
