#include "workflow/MuPushWorkflow.h"

#include "base/MuSettings.h"
#include "base/OutsideText.h"
#include "base/VClock.h"
#include "rtc/AgoraRtcEngine.h"
#include "service/MuServer.h"
#include "workflow/PushMonitor.h"
#include "workflow/ServiceCodeReactions.h"

#include <QScopeGuard>
#include <QtDebug>

namespace {

constexpr qint64 networkFailLimitMs = 60000;

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

} // namespace

MuPushWorkflow::MuPushWorkflow(QObject* parent) : QObject(parent)
{
    m_monitor = new PushMonitor(this);
    connect(m_monitor, &PushMonitor::sigStatusLine, this, &MuPushWorkflow::sigStatusLine);
    connect(m_monitor, &PushMonitor::sigPushConnected, this, &MuPushWorkflow::sigPushConnected);
    connect(m_monitor, &PushMonitor::sigNeverConnected, this, &MuPushWorkflow::abandonUnconnectedPush);
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
    m_monitor->follow(engine);
    connect(engine, &AgoraRtcEngine::sigRecordingDeviceChanged, this,
            [this](const QString&, int) { emit sigRecordingDevicesChanged(); });
}

void MuPushWorkflow::setState(int state)
{
    m_pushState = state;
    if (state != PanelStatePushing)
        m_monitor->stop();
    emit sigStateChanged(state);
    if (state == PanelStatePushing)
        m_monitor->start(m_streamUrl);
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
    } else if (ServiceCodeReactions::isRelogin(code)) {
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
        // An address the relay refuses outright fails the start like a failed join: nothing
        // would ever reach the room.
        if (!addPushUrl(streamUrl)) {
            leaveChannelLogged();
            m_streamUrl.clear();
            tellNotLive(accountUserId, channelName, "MuPushWorkflow::pushStream relay refused stopStream");
            if (m_engine == session)
                message(QStringLiteral("推流失败"), false);
            return;
        }
        setState(PanelStatePushing);
        setMuteLook(m_muted, false);
        return;
    }
    // No service code read (an HTTP error status, a body that is no envelope) is a transport
    // failure as well, not a statement about the microphone.
    if (networkFailed || code == -1) {
        message(QStringLiteral("网络异常"), false);
    } else if (code == ServiceCodeReactions::kPushRefused) {
        message(msg, false);
    } else if (ServiceCodeReactions::isRelogin(code)) {
        const bool r = exitSession(false);
        message(msg, r);
    } else {
        message(QStringLiteral("无法推流"), false, QStringLiteral("原因：APP不在麦上、已被禁麦"));
    }
}

bool MuPushWorkflow::addPushUrl(const QString& url)
{
    m_streamUrl = url;
    if (url.isEmpty() || !m_engine) {
        qInfo() << "addPublishStreamUrl no address";
        return false;
    }
    const int r = m_engine->addPublishStreamUrl(url);
    qInfo() << "addPublishStreamUrl" << r << OutsideText::capped(url);
    return r == 0;
}

void MuPushWorkflow::abandonUnconnectedPush()
{
    const QSharedPointer<AgoraRtcEngine> session = m_engine;
    if (!session || m_pushState != PanelStatePushing || !m_monitor->neverConnected())
        return;
    // Inside another call's wait the state may change under it; the next tick comes back.
    if (m_busyDepth > 0 || m_exiting)
        return;
    BusyScope busy(m_busyDepth);
    qInfo() << "MuPushWorkflow::relay never reached the server" << OutsideText::capped(m_streamUrl);
    endPushNotLive("MuPushWorkflow::relay never connected stopStream");
    if (m_engine == session)
        message(QStringLiteral("推流失败"), false);
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

    bool networkFailed = false;
    const bool ok = endPushNotLive("MuVoicePanel::stopStream", &networkFailed);
    if (!ok && networkFailed && m_engine == session)
        message(QStringLiteral("网络异常"), false);
}

bool MuPushWorkflow::endPushNotLive(const char* logTag, bool* networkFailedOut)
{
    endPush();
    setState(PanelStateStartPush);
    QString channelName;
    QString accountUserId;
    QString rtcUid;
    MuSettings::instance()->roomIdentity(channelName, accountUserId, rtcUid);
    return tellNotLive(accountUserId, channelName, logTag, networkFailedOut);
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
    using R = ServiceCodeReactions;
    bool known = false;
    const R::Reaction* row = R::find(code, m_pushState, known);
    if (!row) {
        if (!known)
            qInfo() << "checkLiveStatus unhandle error" << code << OutsideText::capped(msg);
        else if (code != R::kMicBanned)
            m_micBanned = false;
        return;
    }
    if (row->steps & R::exits) {
        const bool r = exitSession(false);
        message(msg, r);
    }
    if (row->steps & R::endsPush)
        endPush();
    if (row->steps & R::leavesRoom)
        _leaveRoom();
    if (row->fallBack != R::noFallBack)
        fallBackTo(row->fallBack, msg);
    if (row->steps & R::mutesForBan) {
        if (!m_muted) {
            qInfo() << "mute by YouBeForbidMic begin" << m_muted;
            toggleMute();
            qInfo() << "mute by YouBeForbidMic end" << m_muted;
        }
        setMuteLook(true, true);
    }
    m_micBanned = code == R::kMicBanned;
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
    m_monitor->setHeard(!muted && !banned);
    emit sigMuteLook(true, muted, banned);
}

void MuPushWorkflow::resetPushLayout()
{
    m_muted = false;
    m_monitor->setHeard(true);
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
    m_monitor->stop();
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

QString MuPushWorkflow::statusLine() const
{
    return m_monitor->statusLine();
}
