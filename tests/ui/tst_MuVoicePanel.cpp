// The voice panel driven through its real widgets, against a scripted push-stream service on
// 127.0.0.1 and the scripted RTC backend.

#include "LoginTestPeers.h"
#include "support/TestEnv.h"

#include "app/MuSettings.h"
#include "rtc/sdk/ScriptedRtcBackend.h"
#include "service/MuServer.h"
#include "ui/MuMsgboxEx.h"
#include "ui/MuVoicePanel.h"
#include "ui/MuVozedIvazerida.h"

#include <QComboBox>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTcpServer>
#include <QUrlQuery>
#include <QtTest>

#include <memory>

using agora::rtc::ScriptedRtcBackend;

namespace {

const QString kUserId = QStringLiteral("10001");
const QString kAccountUserId = QStringLiteral("20001");
const QString kRoomId = QStringLiteral("room42");
const QString kStreamUrl = QStringLiteral("rtmp://127.0.0.1:1935/live/room42");

const QString kTextState1 = QStringLiteral("请手机登录TavioAPP并进入房间...");
const QString kTextState2 = QStringLiteral("请创建房间或在别的房间上麦，然后点击开始推流开始直播");
const QString kTextState3 = QStringLiteral("连接成功，正在直播中...");

QByteArray envelope(int code, const QString& msg = QString(), const QByteArray& data = "{}")
{
    return "{\"code\":" + QByteArray::number(code) + ",\"msg\":\"" + msg.toUtf8() + "\",\"data\":" + data +
           "}";
}

// The push-stream service as the panel's tests need it: a cooperative default answer per
// endpoint, one-shot answers queued on top, and a record of every query per endpoint.
class PushServiceScript
{
public:
    PushServiceScript()
    {
        m_defaults.insert(QStringLiteral("checkEnterRoom"),
                          envelope(1, QString(), "{\"roomId\":\"room42\"}"));
        m_defaults.insert(QStringLiteral("changeLiveStatus"),
                          envelope(1, QString(), "{\"streamUrl\":\"" + kStreamUrl.toUtf8() + "\"}"));
        m_defaults.insert(QStringLiteral("checkLiveStatus"), envelope(1, QString(), "{\"closeMic\":false}"));
        m_defaults.insert(QStringLiteral("mute"), envelope(1));
        m_http.setHandler([this](const QString& target) {
            const QUrl url(target);
            const QString op = url.path().section(QLatin1Char('/'), -1);
            m_queries[op] << QUrlQuery(url);
            ScriptedHttpServer::Reply reply;
            QList<QByteArray>& queued = m_once[op];
            reply.body = queued.isEmpty() ? m_defaults.value(op) : queued.takeFirst();
            reply.delayMs = m_delayMs.value(op);
            return reply;
        });
    }

    QString baseUrl() const { return m_http.baseUrl(); }
    void setDefault(const QString& op, const QByteArray& body) { m_defaults.insert(op, body); }
    void answerOnce(const QString& op, const QByteArray& body) { m_once[op] << body; }
    void setDelayMs(const QString& op, int ms) { m_delayMs.insert(op, ms); }
    QList<QUrlQuery> queries(const QString& op) const { return m_queries.value(op); }
    int count(const QString& op) const { return m_queries.value(op).size(); }
    QString lastValue(const QString& op, const QString& key) const
    {
        const QList<QUrlQuery> list = m_queries.value(op);
        return list.isEmpty() ? QString() : list.last().queryItemValue(key);
    }

private:
    ScriptedHttpServer m_http;
    QMap<QString, QByteArray> m_defaults;
    QMap<QString, QList<QByteArray>> m_once;
    QMap<QString, int> m_delayMs;
    QMap<QString, QList<QUrlQuery>> m_queries;
};

// An address on 127.0.0.1 where nothing listens: a service that is down.
QString deadServiceUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/").arg(port);
}

// Drives the phone side of the local services through their admin API.
bool adminPost(const QString& baseUrl, const QString& path, const QUrlQuery& query)
{
    QNetworkAccessManager manager;
    QUrl url(baseUrl + path);
    url.setQuery(query);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply* reply = manager.post(request, QByteArray("{}"));
    QSignalSpy done(reply, &QNetworkReply::finished);
    const bool ok = done.wait(5000) && reply->error() == QNetworkReply::NoError &&
                    reply->readAll().contains("\"code\":1");
    delete reply;
    return ok;
}

} // namespace

class tst_MuVoicePanel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void deviceChoice_data();
    void deviceChoice();
    void deviceRefusedKeepsChoice();
    void volumeRememberedPerUser();

    void pushButtonWalksTheStates();
    void joinChannelFailureTellsServiceNotLive();
    void enterRoomFailures_data();
    void enterRoomFailures();
    void pushStartFailures_data();
    void pushStartFailures();
    void stopWithServiceDownStillStops();

    void micBanWhilePushing();
    void muteFailures();
    void heartbeatStopsPush_data();
    void heartbeatStopsPush();
    void liftedBanOutsidePushLeavesLayoutAlone();
    void heartbeatOncePerSecond();
    void networkFailureCountsSixtySeconds();

    void closingWhilePushing();
    void reloginMessageReturnsToLogin();
    void networkMessageDoesNotReturn();
    void pushButtonAfterExit();
    void closeDuringSlowServiceCall();

    void workflowAgainstLocalServices();

private:
    template <typename T> T* child(const char* name) const
    {
        T* w = m_panel->findChild<T*>(QLatin1String(name));
        if (!w)
            qFatal("missing widget %s", name);
        return w;
    }
    QString pushText() const { return child<QPushButton>("pushButton_push")->text(); }
    QString labelText() const { return child<QLabel>("label_push")->text(); }
    QString line1() const { return m_panel->messageBox()->findChild<QLabel*>("label_line1")->text(); }
    QString line2() const { return m_panel->messageBox()->findChild<QLabel*>("label_line2")->text(); }
    void press(const char* name) { QTest::mouseClick(child<QPushButton>(name), Qt::LeftButton); }
    void dismissBox()
    {
        QTest::mouseClick(m_panel->messageBox()->findChild<QPushButton*>("pushButton_ok"), Qt::LeftButton);
    }
    void startSession();
    void goToPushing();
    void beat(qint64 advanceMs = 2000);
    void serviceDown() { MuServer::instance()->setServer(deadServiceUrl(), QStringLiteral("1000")); }
    void serviceUp() { MuServer::instance()->setServer(m_service->baseUrl(), QStringLiteral("1000")); }

    std::unique_ptr<TestEnv::ScopedWorkDir> m_dir;
    std::unique_ptr<PushServiceScript> m_service;
    std::unique_ptr<MuVozedIvazerida> m_login;
    MuVoicePanel* m_panel = nullptr;
    QDateTime m_wall;
    qint64 m_steadyMs = 0;
};

void tst_MuVoicePanel::init()
{
    m_dir.reset(new TestEnv::ScopedWorkDir);
    ScriptedRtcBackend::setEnabled(true);
    ScriptedRtcBackend::reset();
    m_service.reset(new PushServiceScript);
    serviceUp();
    m_login.reset(new MuVozedIvazerida);
    m_panel = m_login->voicePanel();
    QVERIFY(m_panel);
    m_wall = QDateTime(QDate(2026, 12, 6), QTime(20, 0, 0));
    m_steadyMs = 1000000;
    m_panel->setClocks([this]() { return m_wall; }, [this]() { return m_steadyMs; });
}

void tst_MuVoicePanel::cleanup()
{
    const QList<QWidget*> boxes = QApplication::topLevelWidgets();
    for (QWidget* w : boxes)
        if (w->inherits("QDialog"))
            w->hide();
    m_login.reset();
    m_panel = nullptr;
    m_service.reset();
    MuSettings::destroy();
    m_dir.reset();
}

// What the login window does after a successful login.
void tst_MuVoicePanel::startSession()
{
    MuSettings::instance()->saveLogin(kUserId, QStringLiteral("x"), kAccountUserId);
    m_panel->prepareSession();
    m_panel->move(200, 150);
    m_panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_panel));
}

void tst_MuVoicePanel::goToPushing()
{
    press("pushButton_push");
    press("pushButton_push");
    QCOMPARE(m_panel->pushState(), int(PanelStatePushing));
}

void tst_MuVoicePanel::beat(qint64 advanceMs)
{
    m_wall = m_wall.addMSecs(advanceMs);
    m_steadyMs += advanceMs;
    m_panel->sltHeartbeat();
}

void tst_MuVoicePanel::deviceChoice_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("chosen");
    QTest::newRow("last default wins, any case")
        << QStringList{"Line In", "Speakers (Default)", "mix default"} << 2;
    QTest::newRow("first default after plain ones") << QStringList{"Line In", "Default Mic", "Mixer"} << 1;
    QTest::newRow("no default: first") << QStringList{"Line In", "Mixer", "Mic"} << 0;
    QTest::newRow("no device") << QStringList{} << -1;
}

void tst_MuVoicePanel::deviceChoice()
{
    QFETCH(QStringList, names);
    QFETCH(int, chosen);
    QList<ScriptedRtcBackend::Device> devices;
    for (int i = 0; i < names.size(); ++i)
        devices << ScriptedRtcBackend::Device{names.at(i), QStringLiteral("id%1").arg(i)};
    ScriptedRtcBackend::setRecordingDevices(devices);
    startSession();

    auto* box = child<QComboBox>("comboBox_device");
    QCOMPARE(box->count(), names.size());
    QCOMPARE(box->currentIndex(), chosen);
    // Exactly one device selection, the chosen one; the volume is applied even without devices.
    QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("setRecordingDevice")), chosen < 0 ? 0 : 1);
    QCOMPARE(ScriptedRtcBackend::recordingDevice(),
             chosen < 0 ? QString() : QStringLiteral("id%1").arg(chosen));
    QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("adjustRecordingSignalVolume")), 1);
    if (chosen >= 0) {
        box->setCurrentIndex((chosen + 1) % names.size());
        QCOMPARE(ScriptedRtcBackend::recordingDevice(),
                 QStringLiteral("id%1").arg((chosen + 1) % names.size()));
    }
}

void tst_MuVoicePanel::deviceRefusedKeepsChoice()
{
    startSession();
    ScriptedRtcBackend::failCall(QStringLiteral("setRecordingDevice"), -5);
    auto* box = child<QComboBox>("comboBox_device");
    box->setCurrentIndex(0);
    QVERIFY(m_panel->messageBox()->isVisible());
    QCOMPARE(line1(), QStringLiteral("接入录音设备失败"));
    QVERIFY(!m_panel->messageBox()->returnsToLogin());
    QCOMPARE(box->currentIndex(), 0);
    dismissBox();
    QVERIFY(m_panel->isVisible());
}

void tst_MuVoicePanel::volumeRememberedPerUser()
{
    startSession();
    // Nothing stored: 100, sent to the engine once.
    QCOMPARE(child<QSlider>("horizontalSlider_volume")->value(), 100);
    QCOMPARE(child<QLabel>("label_volumenumber")->text(), QStringLiteral("100"));
    QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("adjustRecordingSignalVolume(100)")), 1);

    child<QSlider>("horizontalSlider_volume")->setValue(37);
    QCOMPARE(child<QLabel>("label_volumenumber")->text(), QStringLiteral("37"));
    QCOMPARE(ScriptedRtcBackend::recordingVolume(), 37);

    // The next login of the same user gets 37 back; another user starts at 100.
    ScriptedRtcBackend::clearCalls();
    m_panel->prepareSession();
    QCOMPARE(child<QSlider>("horizontalSlider_volume")->value(), 37);
    QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("adjustRecordingSignalVolume")), 1);
    QCOMPARE(ScriptedRtcBackend::recordingVolume(), 37);

    MuSettings::instance()->saveLogin(QStringLiteral("10002"), QStringLiteral("x"), QStringLiteral("20002"));
    m_panel->prepareSession();
    QCOMPARE(child<QSlider>("horizontalSlider_volume")->value(), 100);

    MuSettings::destroy(); // writes the INI files
    QSettings temp(QStringLiteral("MuVozedIvazeridaTemp.ini"), QSettings::IniFormat);
    QCOMPARE(temp.value(QStringLiteral("10001/volume")).toInt(), 37);
}

void tst_MuVoicePanel::pushButtonWalksTheStates()
{
    startSession();
    QCOMPARE(m_panel->pushState(), int(PanelStateEnterRoom));
    QCOMPARE(pushText(), QStringLiteral("进入房间"));
    QCOMPARE(labelText(), kTextState1);

    press("pushButton_push");
    QCOMPARE(m_panel->pushState(), int(PanelStateStartPush));
    QCOMPARE(pushText(), QStringLiteral("开始推流"));
    QCOMPARE(labelText(), kTextState2);
    QCOMPARE(m_service->lastValue("checkEnterRoom", "userId"), kAccountUserId);
    QString channel, account, rtcUid;
    MuSettings::instance()->roomIdentity(channel, account, rtcUid);
    QCOMPARE(channel, kRoomId);

    press("pushButton_push");
    QCOMPARE(m_panel->pushState(), int(PanelStatePushing));
    QCOMPARE(pushText(), QStringLiteral("结束直播"));
    QCOMPARE(labelText(), kTextState3);
    QCOMPARE(m_service->lastValue("changeLiveStatus", "liveStatus"), QStringLiteral("1"));
    QCOMPARE(m_service->lastValue("changeLiveStatus", "roomId"), kRoomId);
    QVERIFY(ScriptedRtcBackend::isJoined());
    QCOMPARE(ScriptedRtcBackend::publishedUrls(), QStringList{kStreamUrl});
    QVERIFY(ScriptedRtcBackend::calls().contains(
        QStringLiteral("joinChannel(, room42, null, %1)").arg(quint32(-20001))));
    auto* mute = child<QPushButton>("pushButton_mute");
    QVERIFY(mute->isVisible());
    QCOMPARE(mute->text(), QStringLiteral("静音"));
    QCOMPARE(child<QPushButton>("pushButton_push")->geometry(), QRect(162, 392, 178, 48));

    press("pushButton_push");
    QCOMPARE(m_panel->pushState(), int(PanelStateStartPush));
    QCOMPARE(pushText(), QStringLiteral("开始推流"));
    QCOMPARE(labelText(), kTextState2);
    QCOMPARE(m_service->lastValue("changeLiveStatus", "liveStatus"), QStringLiteral("2"));
    QVERIFY(!ScriptedRtcBackend::isJoined());
    QVERIFY(ScriptedRtcBackend::publishedUrls().isEmpty());
    QVERIFY(mute->isHidden());
    QCOMPARE(child<QPushButton>("pushButton_push")->geometry(), QRect(40, 392, 300, 48));
    QVERIFY(child<QPushButton>("pushButton_push")->isEnabled());
    QVERIFY(!m_panel->messageBox()->isVisible());
}

void tst_MuVoicePanel::joinChannelFailureTellsServiceNotLive()
{
    startSession();
    press("pushButton_push");
    ScriptedRtcBackend::failCall(QStringLiteral("joinChannel"), -17);
    press("pushButton_push");
    QCOMPARE(m_panel->pushState(), int(PanelStateStartPush));
    QCOMPARE(pushText(), QStringLiteral("开始推流"));
    QCOMPARE(line1(), QStringLiteral("推流失败"));
    const QList<QUrlQuery> live = m_service->queries("changeLiveStatus");
    QCOMPARE(live.size(), 2);
    QCOMPARE(live.at(0).queryItemValue("liveStatus"), QStringLiteral("1"));
    QCOMPARE(live.at(1).queryItemValue("liveStatus"), QStringLiteral("2"));
    QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("addPublishStreamUrl")), 0);
    QVERIFY(child<QPushButton>("pushButton_mute")->isHidden());
    QVERIFY(child<QPushButton>("pushButton_push")->isEnabled());

    // The next press tries again and succeeds.
    dismissBox();
    ScriptedRtcBackend::clearFailures();
    press("pushButton_push");
    QCOMPARE(m_panel->pushState(), int(PanelStatePushing));
}

void tst_MuVoicePanel::enterRoomFailures_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("state");
    QTest::newRow("not in a room") << envelope(3100, "nope") << QStringLiteral("要进入任意语音房间才能推流哦")
                                   << 1;
    QTest::newRow("nonsense reply") << QByteArray("<html>") << QStringLiteral("要进入任意语音房间才能推流哦")
                                    << 1;
    QTest::newRow("room id as number")
        << envelope(1, QString(), "{\"roomId\":42}") << QStringLiteral("要进入任意语音房间才能推流哦") << 1;
    QTest::newRow("3190 relogin") << envelope(3190, "账号已在别处登录") << QStringLiteral("账号已在别处登录")
                                  << 0;
    QTest::newRow("3191 relogin") << envelope(3191, "请重新登录") << QStringLiteral("请重新登录") << 0;
}

void tst_MuVoicePanel::enterRoomFailures()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, message);
    QFETCH(int, state);
    startSession();
    m_service->answerOnce("checkEnterRoom", reply);
    press("pushButton_push");
    QCOMPARE(m_panel->pushState(), state);
    QCOMPARE(line1(), message);
    QCOMPARE(m_panel->messageBox()->returnsToLogin(), state == 0);
    QVERIFY(child<QPushButton>("pushButton_push")->isEnabled());
    QCOMPARE(m_panel->rtcEngine() == nullptr, state == 0);
    if (state == 1)
        QCOMPARE(pushText(), QStringLiteral("进入房间"));
}

void tst_MuVoicePanel::pushStartFailures_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("line1");
    QTest::addColumn<QString>("line2");
    QTest::addColumn<int>("state");
    QTest::newRow("3194 refused") << envelope(3194, "房间已关闭推流") << QStringLiteral("房间已关闭推流")
                                  << QString() << 2;
    QTest::newRow("other refusal") << envelope(3000, "x") << QStringLiteral("无法推流")
                                   << QStringLiteral("原因：APP不在麦上、已被禁麦") << 2;
    QTest::newRow("3190 relogin") << envelope(3190, "登录过期") << QStringLiteral("登录过期") << QString()
                                  << 0;
}

void tst_MuVoicePanel::pushStartFailures()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, line1);
    QFETCH(QString, line2);
    QFETCH(int, state);
    startSession();
    press("pushButton_push");
    m_service->answerOnce("changeLiveStatus", reply);
    press("pushButton_push");
    QCOMPARE(m_panel->pushState(), state);
    QCOMPARE(this->line1(), line1);
    QCOMPARE(this->line2(), line2);
    QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("joinChannel")), 0);
    QVERIFY(child<QPushButton>("pushButton_push")->isEnabled());

    // Network failure on the same step: "网络异常", nothing lost.
    if (state == 2) {
        dismissBox();
        serviceDown();
        press("pushButton_push");
        QCOMPARE(this->line1(), QStringLiteral("网络异常"));
        QCOMPARE(m_panel->pushState(), 2);
        QCOMPARE(pushText(), QStringLiteral("开始推流"));
    }
}

void tst_MuVoicePanel::stopWithServiceDownStillStops()
{
    startSession();
    goToPushing();
    serviceDown();
    press("pushButton_push");
    QCOMPARE(m_panel->pushState(), int(PanelStateStartPush));
    QVERIFY(!ScriptedRtcBackend::isJoined());
    QVERIFY(ScriptedRtcBackend::publishedUrls().isEmpty());
    QCOMPARE(line1(), QStringLiteral("网络异常"));

    // A refusal (not a network failure) on stop is only logged.
    dismissBox();
    serviceUp();
    press("pushButton_push");
    QCOMPARE(m_panel->pushState(), int(PanelStatePushing));
    m_service->answerOnce("changeLiveStatus", envelope(3000, "x"));
    press("pushButton_push");
    QCOMPARE(m_panel->pushState(), int(PanelStateStartPush));
    QVERIFY(!m_panel->messageBox()->isVisible());
}

void tst_MuVoicePanel::micBanWhilePushing()
{
    startSession();
    goToPushing();
    auto* mute = child<QPushButton>("pushButton_mute");

    m_service->answerOnce("checkLiveStatus", envelope(3163, "禁麦"));
    beat();
    QVERIFY(m_panel->isMuted());
    QVERIFY(m_panel->isMicBanned());
    QVERIFY(ScriptedRtcBackend::isLocalAudioMuted());
    QCOMPARE(m_service->lastValue("mute", "mute"), QStringLiteral("1"));
    QCOMPARE(mute->text(), QStringLiteral("禁麦中"));
    QVERIFY(mute->styleSheet().contains(QStringLiteral("rgb(255, 98, 0)")));

    // Inert while banned, and a second ban report does not toggle anything.
    press("pushButton_mute");
    m_service->answerOnce("checkLiveStatus", envelope(3163, "禁麦"));
    beat();
    QVERIFY(ScriptedRtcBackend::isLocalAudioMuted());
    QCOMPARE(m_service->count("mute"), 1);
    QCOMPARE(mute->text(), QStringLiteral("禁麦中"));

    // A good heartbeat lifts the ban; the audio stays muted.
    beat();
    QVERIFY(!m_panel->isMicBanned());
    QCOMPARE(mute->text(), QStringLiteral("静音中"));
    QVERIFY(ScriptedRtcBackend::isLocalAudioMuted());

    press("pushButton_mute");
    QVERIFY(!m_panel->isMuted());
    QVERIFY(!ScriptedRtcBackend::isLocalAudioMuted());
    QCOMPARE(mute->text(), QStringLiteral("静音"));
    QCOMPARE(m_service->lastValue("mute", "mute"), QStringLiteral("0"));
    QVERIFY(mute->isEnabled());
}

void tst_MuVoicePanel::muteFailures()
{
    startSession();
    goToPushing();
    auto* mute = child<QPushButton>("pushButton_mute");

    ScriptedRtcBackend::failCall(QStringLiteral("muteLocalAudioStream"), -3, 1);
    press("pushButton_mute");
    QCOMPARE(line1(), QStringLiteral("静音失败"));
    QVERIFY(!m_panel->isMuted());
    QCOMPARE(mute->text(), QStringLiteral("静音"));
    QCOMPARE(m_service->count("mute"), 0);
    QVERIFY(mute->isEnabled());
    dismissBox();

    // The service down: the local mute stays as set.
    serviceDown();
    press("pushButton_mute");
    QCOMPARE(line1(), QStringLiteral("网络异常"));
    QVERIFY(m_panel->isMuted());
    QCOMPARE(mute->text(), QStringLiteral("静音中"));
    dismissBox();
    serviceUp();

    ScriptedRtcBackend::failCall(QStringLiteral("muteLocalAudioStream"), -3, 1);
    press("pushButton_mute");
    QCOMPARE(line1(), QStringLiteral("取消静音失败"));
    QVERIFY(m_panel->isMuted());

    // A ban reported while the SDK refuses to mute keeps trying at the next report.
    dismissBox();
    press("pushButton_mute");
    QVERIFY(!m_panel->isMuted());
    ScriptedRtcBackend::failCall(QStringLiteral("muteLocalAudioStream"), -3, 1);
    m_service->answerOnce("checkLiveStatus", envelope(3163, "禁麦"));
    beat();
    QVERIFY(!m_panel->isMuted());
    dismissBox();
    m_service->answerOnce("checkLiveStatus", envelope(3163, "禁麦"));
    beat();
    QVERIFY(m_panel->isMuted());
    QVERIFY(ScriptedRtcBackend::isLocalAudioMuted());
    QCOMPARE(mute->text(), QStringLiteral("禁麦中"));
}

void tst_MuVoicePanel::heartbeatStopsPush_data()
{
    QTest::addColumn<int>("fromState");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("toState");
    QTest::addColumn<bool>("message");
    QTest::addColumn<bool>("channelKept");
    QTest::newRow("3192 pushing") << 3 << 3192 << 1 << true << false;
    QTest::newRow("3192 room confirmed") << 2 << 3192 << 1 << true << false;
    QTest::newRow("3192 entering") << 1 << 3192 << 1 << false << true;
    QTest::newRow("3193 pushing") << 3 << 3193 << 2 << true << true;
    QTest::newRow("3193 room confirmed") << 2 << 3193 << 2 << false << true;
    QTest::newRow("3190 pushing") << 3 << 3190 << 0 << true << false;
    QTest::newRow("3191 room confirmed") << 2 << 3191 << 0 << true << false;
    QTest::newRow("unknown code") << 3 << 4000 << 3 << false << true;
}

void tst_MuVoicePanel::heartbeatStopsPush()
{
    QFETCH(int, fromState);
    QFETCH(int, code);
    QFETCH(int, toState);
    QFETCH(bool, message);
    QFETCH(bool, channelKept);
    startSession();
    for (int s = 1; s < fromState; ++s)
        press("pushButton_push");
    QCOMPARE(m_panel->pushState(), fromState);

    m_service->answerOnce("checkLiveStatus", envelope(code, "服务说明"));
    beat();
    QCOMPARE(m_panel->pushState(), toState);
    QCOMPARE(m_panel->messageBox()->isVisible(), message);
    if (message) {
        QCOMPARE(line1(), QStringLiteral("服务说明"));
        QCOMPARE(line2(), code == 3192 || code == 3193 ? QStringLiteral("小助手停止了推流") : QString());
        QCOMPARE(m_panel->messageBox()->returnsToLogin(), toState == 0);
    }
    if (toState != 3) {
        QVERIFY(!ScriptedRtcBackend::isJoined());
        QVERIFY(ScriptedRtcBackend::publishedUrls().isEmpty());
    }
    if (toState == 1 || toState == 2)
        QVERIFY(child<QPushButton>("pushButton_mute")->isHidden());
    if (toState == 1)
        QCOMPARE(pushText(), QStringLiteral("进入房间"));
    if (toState == 2)
        QCOMPARE(labelText(), kTextState2);
    QString channel, account, rtcUid;
    MuSettings::instance()->roomIdentity(channel, account, rtcUid);
    QCOMPARE(channel, channelKept && fromState > 1 ? kRoomId : QString());
    if (toState == 0) {
        QVERIFY(!m_panel->rtcEngine());
        QCOMPARE(ScriptedRtcBackend::liveEngineCount(), 0);
        // The service is not told "not live" on a forced exit.
        QCOMPARE(m_service->queries("changeLiveStatus").size(), fromState == 3 ? 1 : 0);
        // The heartbeat is over.
        const int checks = m_service->count("checkLiveStatus");
        beat();
        QCOMPARE(m_service->count("checkLiveStatus"), checks);
    }
}

void tst_MuVoicePanel::liftedBanOutsidePushLeavesLayoutAlone()
{
    startSession();
    press("pushButton_push");
    m_service->answerOnce("checkLiveStatus", envelope(3163, "禁麦"));
    beat();
    QVERIFY(m_panel->isMicBanned());
    QVERIFY(child<QPushButton>("pushButton_mute")->isHidden());

    // Leaving the mic clears the ban without bringing back the mute button.
    m_service->answerOnce("checkLiveStatus", envelope(3193, "下麦"));
    beat();
    QVERIFY(!m_panel->isMicBanned());
    QVERIFY(child<QPushButton>("pushButton_mute")->isHidden());
    QCOMPARE(child<QPushButton>("pushButton_push")->geometry(), QRect(40, 392, 300, 48));

    // The same after a good heartbeat in state 2.
    m_service->answerOnce("checkLiveStatus", envelope(3163, "禁麦"));
    beat();
    beat();
    QVERIFY(!m_panel->isMicBanned());
    QVERIFY(child<QPushButton>("pushButton_mute")->isHidden());

    // A push started after a ban report in state 2 shows the normal look.
    m_service->answerOnce("checkLiveStatus", envelope(3163, "禁麦"));
    beat();
    press("pushButton_push");
    QCOMPARE(child<QPushButton>("pushButton_mute")->text(), QStringLiteral("静音"));
}

void tst_MuVoicePanel::heartbeatOncePerSecond()
{
    startSession();
    beat(0);
    beat(400);
    beat(400);
    QCOMPARE(m_service->count("checkLiveStatus"), 1);
    beat(1000);
    QCOMPARE(m_service->count("checkLiveStatus"), 2);
    QCOMPARE(m_service->lastValue("checkLiveStatus", "userId"), kAccountUserId);
    QVERIFY(!m_service->queries("checkLiveStatus").last().hasQueryItem("roomId"));

    // The real timer drives the same slot.
    m_panel->setClocks({}, {});
    m_panel->startHeartbeat();
    QTRY_VERIFY_WITH_TIMEOUT(m_service->count("checkLiveStatus") >= 3, 5000);
}

void tst_MuVoicePanel::networkFailureCountsSixtySeconds()
{
    startSession();
    goToPushing();
    serviceDown();
    beat(); // first failure starts the count
    for (int i = 0; i < 29; ++i)
        beat(2000);
    beat(1000); // 59 s
    QCOMPARE(m_panel->pushState(), int(PanelStatePushing));
    QVERIFY(!m_panel->messageBox()->isVisible());

    // A success restarts the count.
    serviceUp();
    beat(2000);
    serviceDown();
    beat(2000);
    beat(59000);
    QCOMPARE(m_panel->pushState(), int(PanelStatePushing));

    beat(1000); // 60 s since the failure that followed the success
    QCOMPARE(m_panel->pushState(), int(PanelStateIdle));
    QCOMPARE(line1(), QStringLiteral("网络异常，请重新登录"));
    QVERIFY(m_panel->messageBox()->returnsToLogin());
    QVERIFY(!ScriptedRtcBackend::isJoined());
    QVERIFY(!m_panel->rtcEngine());

    serviceUp();
    dismissBox();
    QVERIFY(m_login->isVisible());
    QVERIFY(!m_panel->isVisible());
}

void tst_MuVoicePanel::closingWhilePushing()
{
    startSession();
    goToPushing();
    m_panel->startHeartbeat();
    const QPoint panelAt = m_panel->frameGeometry().topLeft();
    press("pushButton_close");

    QVERIFY(!ScriptedRtcBackend::isJoined());
    QVERIFY(ScriptedRtcBackend::publishedUrls().isEmpty());
    QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("removePublishStreamUrl")), 1);
    QCOMPARE(m_service->lastValue("changeLiveStatus", "liveStatus"), QStringLiteral("2"));
    QString channel, account, rtcUid;
    MuSettings::instance()->roomIdentity(channel, account, rtcUid);
    QVERIFY(channel.isEmpty());
    QVERIFY(!m_panel->rtcEngine());
    QCOMPARE(ScriptedRtcBackend::liveEngineCount(), 0);
    QCOMPARE(m_panel->pushState(), int(PanelStateIdle));
    QVERIFY(!m_panel->isVisible());
    QVERIFY(m_login->isVisible());
    QCOMPARE(m_login->pos(), panelAt);
    QVERIFY(!m_panel->messageBox()->isVisible());

    // The window's own close does the same on the next session, with the service down.
    startSession();
    goToPushing();
    serviceDown();
    QVERIFY(m_panel->close());
    QCOMPARE(m_panel->pushState(), int(PanelStateIdle));
    QVERIFY(!ScriptedRtcBackend::isJoined());
    QVERIFY(m_login->isVisible());
}

void tst_MuVoicePanel::reloginMessageReturnsToLogin()
{
    startSession();
    press("pushButton_push");
    m_service->answerOnce("checkLiveStatus", envelope(3190, "账号在别处登录"));
    beat();
    QVERIFY(m_panel->messageBox()->isVisible());
    QVERIFY(m_panel->findChild<QWidget*>("VMonLayer")->isVisible());
    QVERIFY(!m_login->isVisible());
    const QPoint panelAt = m_panel->frameGeometry().topLeft();
    // The close button of the box counts as much as OK.
    QTest::mouseClick(m_panel->messageBox()->findChild<QPushButton*>("pushButton_close"), Qt::LeftButton);
    QVERIFY(m_login->isVisible());
    QCOMPARE(m_login->pos(), panelAt);
    QVERIFY(!m_panel->isVisible());
    QVERIFY(m_panel->findChild<QWidget*>("VMonLayer")->isHidden());
}

void tst_MuVoicePanel::networkMessageDoesNotReturn()
{
    startSession();
    serviceDown();
    press("pushButton_push");
    QCOMPARE(line1(), QStringLiteral("网络异常"));
    QVERIFY(m_panel->findChild<QWidget*>("VMonLayer")->isVisible());
    dismissBox();
    QVERIFY(m_panel->isVisible());
    QVERIFY(!m_login->isVisible());
    QVERIFY(m_panel->findChild<QWidget*>("VMonLayer")->isHidden());
    QCOMPARE(m_panel->pushState(), int(PanelStateEnterRoom));
}

void tst_MuVoicePanel::pushButtonAfterExit()
{
    // Before any login there is no engine: the box says so and stays with the panel.
    m_panel->show();
    press("pushButton_push");
    QCOMPARE(line1(), QStringLiteral("登录失效，请重新登录"));
    QVERIFY(!m_panel->messageBox()->returnsToLogin());
    QVERIFY(child<QPushButton>("pushButton_push")->isEnabled());
    // Heartbeat, mute, device and volume do nothing without a session.
    dismissBox();
    m_panel->sltHeartbeat();
    m_panel->sltMute();
    child<QSlider>("horizontalSlider_volume")->setValue(12);
    QCOMPARE(m_service->count("checkLiveStatus"), 0);
    QCOMPARE(ScriptedRtcBackend::calls(), QStringList());
}

void tst_MuVoicePanel::closeDuringSlowServiceCall()
{
    startSession();
    press("pushButton_push");
    m_service->setDelayMs("changeLiveStatus", 300);
    bool closed = false;
    // While the push start waits for the service: a heartbeat is held back, then the user closes.
    QTimer::singleShot(50, this, [this]() { beat(); });
    QTimer::singleShot(100, this, [this, &closed]() {
        m_panel->sltClosePanel();
        closed = true;
    });
    press("pushButton_push");
    QVERIFY(closed);
    QCOMPARE(m_service->count("checkLiveStatus"), 0);
    QCOMPARE(m_panel->pushState(), int(PanelStateIdle));
    QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("joinChannel")), 0);
    QVERIFY(ScriptedRtcBackend::publishedUrls().isEmpty());
    QVERIFY(!m_panel->messageBox()->isVisible());
    QVERIFY(m_login->isVisible());
    QCOMPARE(ScriptedRtcBackend::liveEngineCount(), 0);
    // The start that the service granted meanwhile is taken back.
    QCOMPARE(m_service->queries("changeLiveStatus").size(), 2);
    QCOMPARE(m_service->lastValue("changeLiveStatus", "liveStatus"), QStringLiteral("2"));

    // While leaving waits for the service, presses on push, mute and close do nothing.
    m_service->setDelayMs("changeLiveStatus", 0);
    startSession();
    goToPushing();
    m_service->setDelayMs("changeLiveStatus", 300);
    ScriptedRtcBackend::clearCalls();
    QTimer::singleShot(50, this, [this]() {
        press("pushButton_push");
        press("pushButton_mute");
        press("pushButton_close");
    });
    press("pushButton_close");
    QCOMPARE(m_service->queries("changeLiveStatus").size(), 4);
    QCOMPARE(m_service->lastValue("changeLiveStatus", "liveStatus"), QStringLiteral("2"));
    QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("leaveChannel")), 1);
    QCOMPARE(ScriptedRtcBackend::callCount(QStringLiteral("muteLocalAudioStream")), 0);
    QCOMPARE(m_panel->pushState(), int(PanelStateIdle));
    QVERIFY(m_login->isVisible());
}

void tst_MuVoicePanel::workflowAgainstLocalServices()
{
    if (!LocalServices::isBuilt()) {
        if (TestEnv::peersRequired())
            QFAIL("the local services program is not built");
        QSKIP("the local services program is not built");
    }
    LocalServices services;
    const QString base = services.baseUrl();
    QVERIFY(!base.isEmpty());
    MuServer::instance()->setServer(base, QStringLiteral("1000"));
    QString accountUserId, msg;
    int code = -1;
    bool networkFailed = false;
    QVERIFY(MuServer::instance()->login(kUserId, QStringLiteral("123456"), accountUserId, code, msg,
                                        networkFailed));
    MuSettings::instance()->saveLogin(kUserId, QStringLiteral("x"), accountUserId);
    m_panel->prepareSession();
    m_panel->show();

    // The phone sits in room r7, not on a microphone.
    QVERIFY(adminPost(base, "admin/room", QUrlQuery{{"userId", accountUserId}, {"roomId", "r7"}}));
    QVERIFY(adminPost(base, "admin/mic", QUrlQuery{{"userId", accountUserId}, {"on", "0"}}));
    press("pushButton_push");
    QCOMPARE(pushText(), QStringLiteral("开始推流"));
    // Not on a microphone: the service refuses the push with its own message.
    press("pushButton_push");
    QCOMPARE(m_panel->pushState(), int(PanelStateStartPush));
    QVERIFY(!line1().isEmpty());
    dismissBox();
    QVERIFY(adminPost(base, "admin/mic", QUrlQuery{{"userId", accountUserId}, {"on", "1"}}));
    press("pushButton_push");
    QCOMPARE(m_panel->pushState(), int(PanelStatePushing));
    QCOMPARE(ScriptedRtcBackend::publishedUrls().size(), 1);
    QVERIFY(ScriptedRtcBackend::publishedUrls().first().endsWith(QLatin1String("/live/r7")));

    beat();
    QCOMPARE(m_panel->pushState(), int(PanelStatePushing));
    QVERIFY(adminPost(base, "admin/ban", QUrlQuery{{"userId", accountUserId}, {"banned", "1"}}));
    beat();
    QCOMPARE(child<QPushButton>("pushButton_mute")->text(), QStringLiteral("禁麦中"));
    QVERIFY(adminPost(base, "admin/ban", QUrlQuery{{"userId", accountUserId}, {"banned", "0"}}));
    beat();
    QCOMPARE(child<QPushButton>("pushButton_mute")->text(), QStringLiteral("静音中"));

    // A service that does not answer within 10 s: the stop still happens, "网络异常" is shown.
    QVERIFY(adminPost(base, "admin/fault", QUrlQuery{{"mode", "slow"}, {"delayMs", "12000"}}));
    press("pushButton_push");
    QCOMPARE(m_panel->pushState(), int(PanelStateStartPush));
    QCOMPARE(line1(), QStringLiteral("网络异常"));
    QVERIFY(child<QPushButton>("pushButton_push")->isEnabled());
    dismissBox();
    QVERIFY(adminPost(base, "admin/fault", QUrlQuery{{"mode", "none"}, {"delayMs", "0"}}));

    // The phone logs in elsewhere: back to the login window once the message is dismissed.
    press("pushButton_push");
    QCOMPARE(m_panel->pushState(), int(PanelStatePushing));
    QVERIFY(adminPost(base, "admin/end", QUrlQuery{{"userId", accountUserId}, {"code", "3190"}}));
    beat();
    QCOMPARE(m_panel->pushState(), int(PanelStateIdle));
    QVERIFY(m_panel->messageBox()->returnsToLogin());
    dismissBox();
    QVERIFY(m_login->isVisible());
    QVERIFY(!ScriptedRtcBackend::isJoined());
}

QTEST_MAIN(tst_MuVoicePanel)
#include "tst_MuVoicePanel.moc"
