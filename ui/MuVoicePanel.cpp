#include "ui/MuVoicePanel.h"

#include "base/MuSettings.h"
#include "base/OutsideText.h"
#include "base/VClock.h"
#include "rtc/AgoraRtcEngine.h"
#include "service/MuServer.h"
#include "ui/AddChild.h"
#include "ui/MuMsgboxEx.h"
#include "ui/MuVozedIvazerida.h"
#include "ui/VMonLayer.h"
#include "ui/WindowDragger.h"
#include "ui/vGiftComboBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QtDebug>

namespace {

constexpr int heartbeatIntervalMs = 2000;
constexpr qint64 networkFailLimitMs = 60000;
constexpr int muteGapPx = 12;

// Service codes the panel reacts to.
constexpr int codeMicBanned = 3163;
constexpr int codeRelogin = 3190;
constexpr int codeReloginOther = 3191;
constexpr int codeLeftRoom = 3192;
constexpr int codeLeftMic = 3193;
constexpr int codePushRefused = 3194;

const char* const panelStyleSheet =
    "#widget_VoicePanel { border-radius: 8px; background-color: rgb(255, 255, 255); }\n"
    "#label_appname1 { border-image: url(:/tavio_ziti.png); }\n"
    "#label_logo { border-image: url(:/yyzslogo384.png); }\n"
    "#label_appname2 { font: 12px \"PingFangSC-Regular\"; color: rgb(175, 176, 179); }\n"
    "#pushButton_min { border-image: url(:/ic_zuixiaohua_fx.png); }\n"
    "#pushButton_min:hover { border-image: url(:/panel_min_hover.png); }\n"
    "#pushButton_close { border-image: url(:/ic_guanbi_fx.png); }\n"
    "#pushButton_close:hover { border-image: url(:/panel_close_hover.png); }\n"
    "#label_device, #label_volume { font: 75 16px \"PingFang-SC-Bold\"; color: rgb(175, 176, 179); }\n"
    "#comboBox_device { border-radius: 24px; font: 75 14px \"PingFang-SC-Medium\"; color: rgb(125, 125, "
    "128); "
    "border: 0.5px solid rgba(200, 200, 200, 10%); background-color: rgb(245, 247, 250); padding: 0 24px; }\n"
    "#comboBox_device::drop-down { margin-right: 48px; border: none; }\n"
    "#comboBox_device::down-arrow { width: 16px; height: 16px; border-image: url(:/ic_gengduo.png); }\n"
    "#comboBox_device QAbstractItemView { outline: none; border-radius: 16px; font: 75 14px "
    "\"PingFang-SC-Medium\"; color: rgb(125, 125, 128); border: 0.5px solid rgba(200, 200, 200, 10%); "
    "background-color: rgb(245, 247, 250); padding: 0 24px; }\n"
    "#comboBox_device QAbstractItemView::item { height: 48px; }\n"
    "#comboBox_device QAbstractItemView::item:selected { color: rgb(125, 125, 128); "
    "background-color: rgb(245, 247, 250); }\n"
    "#horizontalSlider_volume::groove:horizontal { background: rgb(245, 247, 250); height: 4px; "
    "border-radius: 2px; }\n"
    "#horizontalSlider_volume::sub-page:horizontal { background: rgb(255, 215, 0); height: 4px; "
    "border-radius: 2px; }\n"
    "#horizontalSlider_volume::add-page:horizontal { background: rgb(245, 247, 250); height: 4px; "
    "border-radius: 2px; }\n"
    "#horizontalSlider_volume::handle:horizontal { background: rgb(255, 255, 255); width: 16px; "
    "margin: -6px 0; border-radius: 8px; border: 1px outset rgba(179, 179, 179, 50%); }\n"
    "#label_volumenumber { font: 75 14px \"PingFang-SC-Medium\"; color: rgb(51, 51, 51); }\n"
    "#label_push { font: 75 12px \"PingFang-SC-Medium\"; color: rgb(51, 51, 51); }\n"
    "#pushButton_push { border-radius: 24px; background-color: rgb(255, 215, 0); "
    "font: 75 14px \"PingFang-SC-Medium\"; color: rgb(51, 51, 51); }\n"
    "#pushButton_mute { border-radius: 24px; background-color: rgb(0, 114, 255); "
    "font: 75 14px \"PingFang-SC-Medium\"; color: rgb(255, 255, 255); }";

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

MuVoicePanel::MuVoicePanel(QWidget* parent) : QWidget(parent)
{
    buildForm();
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    setAttribute(Qt::WA_TranslucentBackground);
    new WindowDragger(this);

    // Both are children of the panel, which deletes them; the shared pointers only share them.
    m_overlay.reset(new VMonLayer(this), [](VMonLayer*) {});
    m_overlay->resize(size());
    m_overlay->hide();

    m_msgbox.reset(new MuMsgboxEx(this), [](MuMsgboxEx*) {});
    m_msgbox->setOverlay(m_overlay);

    m_heartbeatTimer = new QTimer(this);
    m_heartbeatTimer->setInterval(heartbeatIntervalMs);

    connect(findChild<QPushButton*>(QStringLiteral("pushButton_min")), &QPushButton::clicked, this,
            &QWidget::showMinimized);
    connect(findChild<QPushButton*>(QStringLiteral("pushButton_close")), &QPushButton::clicked, this,
            &MuVoicePanel::sltClosePanel);
    connect(m_deviceBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MuVoicePanel::sltDeviceChanged);
    connect(m_volumeSlider, &QSlider::valueChanged, this, &MuVoicePanel::sltVolumeChanged);
    connect(m_pushButton, &QPushButton::clicked, this, &MuVoicePanel::sltPushButton);
    connect(m_heartbeatTimer, &QTimer::timeout, this, &MuVoicePanel::sltHeartbeat);
    connect(m_muteButton, &QPushButton::clicked, this, &MuVoicePanel::sltMute);

    m_pushX = m_pushButton->x();
    m_pushY = m_pushButton->y();
    m_pushWidth = m_pushButton->width();
    m_muteWidth = m_muteButton->width();
    m_muteButton->hide();
    m_pushButton->move(m_pushX, m_pushY);
    m_pushButton->setFixedWidth(m_pushWidth);

    connect(m_msgbox.data(), &MuMsgboxEx::sigToLogin, this, &MuVoicePanel::sltToLogin);

    // A plain list view lets the style sheet draw the items; its popup window gets no frame
    // and no shadow so the rounded corners show.
    m_deviceBox->setView(new QListView(m_deviceBox));
    QWidget* popup = m_deviceBox->view()->window();
    popup->setAutoFillBackground(true);
    popup->setWindowFlags(Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
    popup->setAttribute(Qt::WA_TranslucentBackground);
}

MuVoicePanel::~MuVoicePanel()
{
    // The box is hidden while the base class tears the children down; it must not call back
    // into this half-destroyed panel.
    m_msgbox->disconnect(this);
    m_heartbeatTimer->stop();
}

void MuVoicePanel::buildForm()
{
    setWindowTitle(QStringLiteral("Tavio语音房电脑助手"));
    resize(380, 472);

    m_background = addChild<QWidget>(this, "widget_VoicePanel", 0, 0, 380, 472);
    addChild<QLabel>(this, "label_logo", 121, 32, 52, 52);
    addChild<QLabel>(this, "label_appname1", 185, 38, 75, 24);
    addChild<QLabel>(this, "label_appname2", 185, 67, 75, 12)->setText(QStringLiteral("很高兴遇见你"));
    addChild<QPushButton>(this, "pushButton_min", 320, 12, 20, 20);
    addChild<QPushButton>(this, "pushButton_close", 348, 12, 20, 20);
    addChild<QLabel>(this, "label_device", 40, 116, 64, 22)->setText(QStringLiteral("接入设备"));
    m_deviceBox = addChild<vGiftComboBox>(this, "comboBox_device", 40, 150, 300, 48);
    addChild<QLabel>(this, "label_volume", 40, 238, 64, 22)->setText(QStringLiteral("设备音量"));

    m_volumeSlider = addChild<QSlider>(this, "horizontalSlider_volume", 40, 288, 266, 16);
    m_volumeSlider->setOrientation(Qt::Horizontal);
    m_volumeSlider->setRange(0, 100);

    m_labelVolumeNumber = addChild<QLabel>(this, "label_volumenumber", 314, 289, 26, 14);
    m_labelVolumeNumber->setText(QStringLiteral("0"));
    m_labelVolumeNumber->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_labelPush = addChild<QLabel>(this, "label_push", 0, 364, 380, 12);
    m_labelPush->setText(QStringLiteral("请手机登录TavioAPP并进入房间…"));
    m_labelPush->setAlignment(Qt::AlignCenter);

    m_pushButton = addChild<QPushButton>(this, "pushButton_push", 40, 392, 300, 48);
    m_pushButton->setText(QStringLiteral("进入房间"));

    m_muteButton = addChild<QPushButton>(this, "pushButton_mute", 40, 392, 110, 48);
    m_muteButton->setText(QStringLiteral("静音"));
    m_muteButton->setIcon(QIcon(QStringLiteral(":/ic_jingyin.png")));
    m_muteButton->setIconSize(QSize(24, 24));

    setStyleSheet(QLatin1String(panelStyleSheet));
}

void MuVoicePanel::setLoginWindow(MuVozedIvazerida* w)
{
    m_loginWindow = w;
}

void MuVoicePanel::prepareSession()
{
    m_pushState = PanelStateEnterRoom;
    m_streamUrl.clear();
    showStateTexts(PanelStateEnterRoom);
    resetPushLayout();
    m_micBanned = false;
    m_lastHeartbeatSecond.clear();
    m_networkFailSince = -1;

    m_engine.reset();
    m_engine.reset(new AgoraRtcEngine());

    m_fillingDevices = true;
    m_deviceBox->clear();
    m_volumeSlider->setValue(0);
    m_labelVolumeNumber->setText(QStringLiteral("0"));

    int choice = -1;
    bool defaultSeen = false;
    const QVariantMap devices = m_engine->recordingDevices();
    const QVariant lengthValue = devices.value(QStringLiteral("length"));
    const QVariant nameValue = devices.value(QStringLiteral("name"));
    const QVariant guidValue = devices.value(QStringLiteral("guid"));
    if (lengthValue.type() == QVariant::Int && nameValue.type() == QVariant::List &&
        guidValue.type() == QVariant::List) {
        const int length = lengthValue.toInt();
        const QVariantList names = nameValue.toList();
        const QVariantList guids = guidValue.toList();
        for (int i = 0; i < length && i < names.size() && i < guids.size(); ++i) {
            // Device names come from the sound server: shown as plain one-line text.
            const QString name = OutsideText::forDisplay(names.at(i).toString());
            const QString id = guids.at(i).toString();
            qInfo() << "getRecordingDeviceList" << length << i << OutsideText::capped(name)
                    << OutsideText::capped(id);
            m_deviceBox->addItem(name, guids.at(i));
            // The system's default device is the natural pick; the last one named so wins.
            if (name.contains(QLatin1String("default"), Qt::CaseInsensitive)) {
                choice = i;
                defaultSeen = true;
            } else if (!defaultSeen && choice < 0) {
                choice = i;
            }
        }
    }
    if (choice >= 0)
        m_deviceBox->setCurrentIndex(choice);
    m_fillingDevices = false;
    if (choice >= 0)
        sltDeviceChanged(choice);

    readVolumeFromFile();
}

void MuVoicePanel::startHeartbeat()
{
    m_heartbeatTimer->start(heartbeatIntervalMs);
}

void MuVoicePanel::sltDeviceChanged(int index)
{
    if (m_fillingDevices || !m_engine)
        return;
    const QVariant data = m_deviceBox->currentData(Qt::UserRole);
    if (index < 0 || !data.isValid())
        return;
    const QString deviceId = data.toString();
    const int r = m_engine->setRecordingDevice(deviceId);
    qInfo() << "setRecordingDevice" << r << index << deviceId << m_deviceBox->currentText();
    if (r != 0)
        m_msgbox->showMessage(QStringLiteral("接入录音设备失败"), false);
}

void MuVoicePanel::sltVolumeChanged(int value)
{
    if (m_fillingDevices || !m_engine)
        return;
    const int volume = qBound(0, value, 100);
    m_labelVolumeNumber->setText(QString::number(volume));
    const int r = m_engine->adjustRecordingSignalVolume(volume);
    qInfo() << "adjustRecordingSignalVolume(0-100)" << volume << value << r;
    MuSettings::instance()->saveVolume(volume);
}

void MuVoicePanel::readVolumeFromFile()
{
    int volume = 100;
    MuSettings::instance()->loadVolume(volume);
    const int before = m_volumeSlider->value();
    if (before == volume)
        sltVolumeChanged(volume);
    else
        m_volumeSlider->setValue(volume);
    m_labelVolumeNumber->setText(QString::number(volume));
    qInfo() << "readVolumeFromFile" << volume << "before:" << before;
}

void MuVoicePanel::showStateTexts(int state)
{
    switch (state) {
    case PanelStateEnterRoom:
        m_pushButton->setText(QStringLiteral("进入房间"));
        m_labelPush->setText(QStringLiteral("请手机登录TavioAPP并进入房间..."));
        break;
    case PanelStateStartPush:
        m_pushButton->setText(QStringLiteral("开始推流"));
        m_labelPush->setText(QStringLiteral("请创建房间或在别的房间上麦，然后点击开始推流开始直播"));
        break;
    case PanelStatePushing:
        m_pushButton->setText(QStringLiteral("结束直播"));
        m_labelPush->setText(QStringLiteral("连接成功，正在直播中..."));
        break;
    default:
        break;
    }
}

void MuVoicePanel::sltPushButton()
{
    if (m_exiting)
        return; // the panel is being left; the press would act on a session that is going
    BusyScope busy(m_busyDepth);
    m_pushButton->setEnabled(false);
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
        const bool r = _sltClosePanel_ExitPanel(true);
        m_msgbox->showMessage(QStringLiteral("登录失效，请重新登录"), r);
        break;
    }
    }
    m_pushButton->setEnabled(true);
}

void MuVoicePanel::enterRoom()
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
        return; // the panel was left while the service answered

    if (ok) {
        m_pushState = PanelStateStartPush;
        showStateTexts(PanelStateStartPush);
        MuSettings::instance()->setChannelName(roomId);
        return;
    }
    if (networkFailed) {
        m_msgbox->showMessage(QStringLiteral("网络异常"), false);
    } else if (code == codeRelogin || code == codeReloginOther) {
        const bool r = _sltClosePanel_ExitPanel(false);
        m_msgbox->showMessage(msg, r);
    } else {
        m_msgbox->showMessage(QStringLiteral("要进入任意语音房间才能推流哦"), false);
    }
}

void MuVoicePanel::pushStream()
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
        // The panel was left while the service answered; a start that went through must not
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
            m_msgbox->showMessage(QStringLiteral("推流失败"), false);
            return;
        }
        addPushUrl(streamUrl);
        m_pushState = PanelStatePushing;
        showStateTexts(PanelStatePushing);
        setMuteLook(m_muted, false);
        return;
    }
    // No service code read (an HTTP error status, a body that is no envelope) is a transport
    // failure as well, not a statement about the microphone.
    if (networkFailed || code == -1) {
        m_msgbox->showMessage(QStringLiteral("网络异常"), false);
    } else if (code == codePushRefused) {
        m_msgbox->showMessage(msg, false);
    } else if (code == codeRelogin || code == codeReloginOther) {
        const bool r = _sltClosePanel_ExitPanel(false);
        m_msgbox->showMessage(msg, r);
    } else {
        m_msgbox->showMessage2(QStringLiteral("无法推流"), QStringLiteral("原因：APP不在麦上、已被禁麦"),
                               false);
    }
}

void MuVoicePanel::addPushUrl(const QString& url)
{
    if (!url.isEmpty() && m_engine) {
        const int r = m_engine->addPublishStreamUrl(url);
        qInfo() << "addPublishStreamUrl" << r << OutsideText::capped(url);
    }
    m_streamUrl = url;
}

void MuVoicePanel::removePushUrl()
{
    if (!m_streamUrl.isEmpty() && m_engine) {
        const int r = m_engine->removePublishStreamUrl(m_streamUrl);
        qInfo() << "removePublishStreamUrl" << r << OutsideText::capped(m_streamUrl);
    }
}

void MuVoicePanel::leaveChannelLogged()
{
    if (!m_engine)
        return;
    const int r = m_engine->leaveChannel();
    qInfo() << "leaveChannel" << r;
}

void MuVoicePanel::endPush()
{
    leaveChannelLogged();
    removePushUrl();
    resetPushLayout();
}

void MuVoicePanel::fallBackTo(int state, const QString& serviceMessage)
{
    m_pushState = state;
    showStateTexts(state);
    m_msgbox->showMessage2(serviceMessage, QStringLiteral("小助手停止了推流"), false);
}

void MuVoicePanel::stopStream()
{
    const QSharedPointer<AgoraRtcEngine> session = m_engine;
    if (!session)
        return;

    endPush();
    m_pushState = PanelStateStartPush;
    showStateTexts(PanelStateStartPush);

    QString channelName;
    QString accountUserId;
    QString rtcUid;
    MuSettings::instance()->roomIdentity(channelName, accountUserId, rtcUid);
    bool networkFailed = false;
    const bool ok = tellNotLive(accountUserId, channelName, "MuVoicePanel::stopStream", &networkFailed);
    if (!ok && networkFailed && m_engine == session)
        m_msgbox->showMessage(QStringLiteral("网络异常"), false);
}

bool MuVoicePanel::tellNotLive(const QString& accountUserId, const QString& channelName, const char* logTag,
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

void MuVoicePanel::sltHeartbeat()
{
    const QSharedPointer<AgoraRtcEngine> session = m_engine;
    if (!session)
        return;
    // A heartbeat that fires while a button's or an earlier heartbeat's request is still
    // waiting would act on a state that is about to change under it.
    if (m_busyDepth > 0)
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
        return; // the panel was left while the service answered

    if (networkFailed) {
        const qint64 nowMs = VClock::monotonicMs();
        if (m_networkFailSince < 0)
            m_networkFailSince = nowMs;
        if (nowMs - m_networkFailSince >= networkFailLimitMs) {
            const bool r = _sltClosePanel_ExitPanel(true);
            m_msgbox->showMessage(QStringLiteral("网络异常，请重新登录"), r);
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

void MuVoicePanel::handleHeartbeatFailure(int code, const QString& msg)
{
    const int state = m_pushState;
    if (code == codeRelogin || code == codeReloginOther) {
        if (state != PanelStateIdle) {
            const bool r = _sltClosePanel_ExitPanel(false);
            m_msgbox->showMessage(msg, r);
        }
        m_micBanned = false;
        return;
    }
    if (code == codeLeftRoom) {
        if (state == PanelStatePushing)
            endPush();
        if (state == PanelStatePushing || state == PanelStateStartPush) {
            _leaveRoom();
            fallBackTo(PanelStateEnterRoom, msg);
        }
        // Outside a push the mute button is hidden; a lifted ban only needs forgetting.
        m_micBanned = false;
        return;
    }
    if (code == codeLeftMic) {
        if (state == PanelStatePushing) {
            endPush();
            fallBackTo(PanelStateStartPush, msg);
        }
        m_micBanned = false;
        return;
    }
    if (code == codeMicBanned) {
        if (state == PanelStatePushing) {
            if (!m_muted) {
                qInfo() << "mute by YouBeForbidMic begin" << m_muted;
                toggleMute();
                qInfo() << "mute by YouBeForbidMic end" << m_muted;
            }
            setMuteLook(true, true);
        }
        if (state != PanelStateIdle)
            m_micBanned = true;
        return;
    }
    qInfo() << "checkLiveStatus unhandle error" << code << OutsideText::capped(msg);
}

void MuVoicePanel::sltMute()
{
    if (m_micBanned || !m_engine || m_exiting)
        return;
    toggleMute();
}

void MuVoicePanel::toggleMute()
{
    const QSharedPointer<AgoraRtcEngine> session = m_engine;
    if (!session)
        return;
    BusyScope busy(m_busyDepth);
    m_muteButton->setEnabled(false);
    const bool wanted = !m_muted;
    const int r = session->muteLocalAudioStream(wanted);
    qInfo() << "muteLocalAudioStream" << wanted << r;
    if (r != 0) {
        m_msgbox->showMessage(m_muted ? QStringLiteral("取消静音失败") : QStringLiteral("静音失败"), false);
        m_muteButton->setEnabled(true);
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
        m_msgbox->showMessage(QStringLiteral("网络异常"), false);
    m_muteButton->setEnabled(true);
}

void MuVoicePanel::setMuteLook(bool muted, bool banned)
{
    m_muteButton->show();
    m_pushButton->move(m_pushX + m_muteWidth + muteGapPx, m_pushY);
    m_pushButton->setFixedWidth(m_pushWidth - m_muteWidth - muteGapPx);
    if (!muted) {
        m_muteButton->setIcon(QIcon(QStringLiteral(":/ic_jingyin.png")));
        m_muteButton->setText(QStringLiteral("静音"));
        m_muteButton->setStyleSheet(
            QStringLiteral("#pushButton_mute { background-color: rgb(0, 114, 255); }"));
    } else {
        m_muteButton->setIcon(QIcon(QStringLiteral(":/ic_jingyinzhong.png")));
        m_muteButton->setText(banned ? QStringLiteral("禁麦中") : QStringLiteral("静音中"));
        m_muteButton->setStyleSheet(
            QStringLiteral("#pushButton_mute { background-color: rgb(255, 98, 0); }"));
    }
}

void MuVoicePanel::resetPushLayout()
{
    m_muted = false;
    m_muteButton->hide();
    m_pushButton->move(m_pushX, m_pushY);
    m_pushButton->setFixedWidth(m_pushWidth);
}

bool MuVoicePanel::_sltClosePanel_ExitPanel(bool changeStatus)
{
    qInfo() << "MuVoicePanel::_sltClosePanel_ExitPanel" << changeStatus << m_pushState;
    // A second exit while the first still waits for the service (close pressed twice) has
    // nothing left to do.
    if (!m_engine || m_exiting)
        return false;
    m_exiting = true;
    m_heartbeatTimer->stop();

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

    m_engine.reset();
    m_pushState = PanelStateIdle;
    m_exiting = false;
    return true;
}

void MuVoicePanel::_leaveRoom()
{
    qInfo() << "MuVoicePanel::_leaveRoom";
    MuSettings::instance()->setChannelName(QString());
}

void MuVoicePanel::_logout()
{
    qInfo() << "MuVoicePanel::_logout";
}

void MuVoicePanel::sltClosePanel()
{
    qInfo() << "MuVoicePanel::sltClosePanel";
    if (_sltClosePanel_ExitPanel(true))
        backToLogin();
}

void MuVoicePanel::closeEvent(QCloseEvent* event)
{
    qInfo() << "MuVoicePanel::closeEvent";
    if (_sltClosePanel_ExitPanel(true))
        backToLogin();
    event->accept();
}

void MuVoicePanel::sltToLogin()
{
    backToLogin();
}

void MuVoicePanel::backToLogin()
{
    const QPoint topLeft = frameGeometry().topLeft();
    hide();
    if (m_loginWindow) {
        m_loginWindow->move(topLeft);
        m_loginWindow->activateWindow();
        m_loginWindow->showNormal();
    } else {
        QApplication::quit();
    }
}
