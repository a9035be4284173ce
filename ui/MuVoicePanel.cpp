#include "ui/MuVoicePanel.h"

#include "base/MuSettings.h"
#include "base/OutsideText.h"
#include "rtc/AgoraRtcEngine.h"
#include "ui/AddChild.h"
#include "ui/MuLevelMeter.h"
#include "ui/MuMsgboxEx.h"
#include "ui/MuVozedIvazerida.h"
#include "ui/VMonLayer.h"
#include "ui/WindowDragger.h"
#include "ui/vGiftComboBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QtDebug>

namespace {

constexpr int heartbeatIntervalMs = 2000;
constexpr int muteGapPx = 12;
// Marks a chosen recording device that has gone from the system.
const char* const goneMark = "（已断开）";
constexpr int deviceNameRole = Qt::UserRole + 1;

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
    "#label_status { font: 12px \"PingFang-SC-Medium\"; color: rgb(175, 176, 179); }\n"
    "#pushButton_push { border-radius: 24px; background-color: rgb(255, 215, 0); "
    "font: 75 14px \"PingFang-SC-Medium\"; color: rgb(51, 51, 51); }\n"
    "#pushButton_mute { border-radius: 24px; background-color: rgb(0, 114, 255); "
    "font: 75 14px \"PingFang-SC-Medium\"; color: rgb(255, 255, 255); }";

} // namespace

MuVoicePanel::MuVoicePanel(QWidget* parent) : QWidget(parent)
{
    buildForm();
    m_workflow = new MuPushWorkflow(this);
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

    connect(m_workflow, &MuPushWorkflow::sigStateChanged, this, &MuVoicePanel::showStateTexts);
    connect(m_workflow, &MuPushWorkflow::sigMuteLook, this, [this](bool shown, bool muted, bool banned) {
        if (shown)
            setMuteLook(muted, banned);
        else
            resetPushLayout();
    });
    connect(m_workflow, &MuPushWorkflow::sigMessage, this, &MuVoicePanel::showWorkflowMessage);
    connect(m_workflow, &MuPushWorkflow::sigSessionEnding, m_heartbeatTimer, &QTimer::stop);
    connect(m_workflow, &MuPushWorkflow::sigStatusLine, m_labelStatus, &QLabel::setText);
    connect(m_workflow, &MuPushWorkflow::sigPushConnected, this, &MuVoicePanel::showPushConnected);
    connect(m_workflow, &MuPushWorkflow::sigMuteBusy, m_muteButton,
            [this](bool busy) { m_muteButton->setEnabled(!busy); });
    connect(m_workflow, &MuPushWorkflow::sigRecordingDevicesChanged, this, [this] { fillDevices(true); });

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

    // The captured level right under the slider, as long as its groove; it moves nothing the
    // form places.
    m_levelMeter = addChild<MuLevelMeter>(this, "widget_levelmeter", 40, 312, 266, 4);

    m_labelVolumeNumber = addChild<QLabel>(this, "label_volumenumber", 314, 289, 26, 14);
    m_labelVolumeNumber->setText(QStringLiteral("0"));
    m_labelVolumeNumber->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_labelPush = addChild<QLabel>(this, "label_push", 0, 364, 380, 12);
    m_labelPush->setText(QStringLiteral("请手机登录TavioAPP并进入房间…"));
    m_labelPush->setAlignment(Qt::AlignCenter);

    // What the push really does, under the volume; it moves nothing the form places.
    m_labelStatus = addChild<QLabel>(this, "label_status", 40, 330, 300, 16);
    m_labelStatus->setTextFormat(Qt::PlainText);
    m_labelStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    m_pushButton = addChild<QPushButton>(this, "pushButton_push", 40, 392, 300, 48);
    m_pushButton->setText(QStringLiteral("进入房间"));

    m_muteButton = addChild<QPushButton>(this, "pushButton_mute", 40, 392, 110, 48);
    m_muteButton->setText(QStringLiteral("静音"));
    m_unmutedIcon = QIcon(QStringLiteral(":/ic_jingyin.png"));
    m_mutedIcon = QIcon(QStringLiteral(":/ic_jingyinzhong.png"));
    m_muteButton->setIcon(m_unmutedIcon);
    m_muteButton->setIconSize(QSize(24, 24));

    setStyleSheet(QLatin1String(panelStyleSheet));
}

void MuVoicePanel::setLoginWindow(MuVozedIvazerida* w)
{
    m_loginWindow = w;
}

void MuVoicePanel::prepareSession()
{
    m_workflow->startSession();
    m_levelMeter->clear();
    if (AgoraRtcEngine* engine = m_workflow->rtcEngine()) {
        connect(engine, &AgoraRtcEngine::sigCaptureLevel, this, &MuVoicePanel::showLevel);
        connect(engine, &QObject::destroyed, m_levelMeter, &MuLevelMeter::clear);
    }

    m_fillingDevices = true;
    m_deviceBox->clear();
    m_volumeSlider->setValue(0);
    m_labelVolumeNumber->setText(QStringLiteral("0"));
    m_fillingDevices = false;
    fillDevices(false);

    readVolumeFromFile();
    // Device and volume are set: now the test may open the device (once).
    updateDeviceTest();
}

void MuVoicePanel::updateDeviceTest()
{
    AgoraRtcEngine* engine = m_workflow->rtcEngine();
    const bool wanted = engine && isVisible() && !isMinimized();
    if (m_testEngine && (!wanted || m_testEngine != engine)) {
        const int r = m_testEngine->stopRecordingDeviceTest();
        qInfo() << "stopRecordingDeviceTest" << r;
        m_testEngine.clear();
    }
    if (!wanted) {
        m_levelMeter->clear();
        return;
    }
    if (!m_testEngine) {
        // Fails without a device; the test stays on and starts when one is chosen.
        const int r = engine->startRecordingDeviceTest(levelIntervalMs);
        qInfo() << "startRecordingDeviceTest" << r << levelIntervalMs;
        m_testEngine = engine;
    }
}

void MuVoicePanel::showLevel(int level)
{
    m_levelMeter->setSuppressed(m_workflow->isMuted() || m_workflow->isMicBanned());
    m_levelMeter->setLevel(level);
}

void MuVoicePanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    updateDeviceTest();
}

void MuVoicePanel::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    updateDeviceTest();
}

void MuVoicePanel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        updateDeviceTest();
}

void MuVoicePanel::fillDevices(bool keepChoice)
{
    AgoraRtcEngine* engine = m_workflow->rtcEngine();
    if (!engine)
        return;
    const QVariant chosenId = keepChoice ? m_deviceBox->currentData(Qt::UserRole) : QVariant();
    const QString chosenName = m_deviceBox->currentData(deviceNameRole).toString();

    m_fillingDevices = true;
    m_deviceBox->clear();
    int choice = -1;
    bool defaultSeen = false;
    const QVariantMap devices = engine->recordingDevices();
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
            m_deviceBox->setItemData(i, name, deviceNameRole);
            // The system's default device is the natural pick; the last one named so wins.
            if (name.contains(QLatin1String("default"), Qt::CaseInsensitive)) {
                choice = i;
                defaultSeen = true;
            } else if (!defaultSeen && choice < 0) {
                choice = i;
            }
        }
    }
    if (keepChoice && chosenId.isValid()) {
        // The system's list changed: the user's choice stays, even while its device is gone.
        choice = m_deviceBox->findData(chosenId, Qt::UserRole);
        if (choice < 0) {
            m_deviceBox->addItem(chosenName + QString::fromUtf8(goneMark), chosenId);
            choice = m_deviceBox->count() - 1;
            m_deviceBox->setItemData(choice, chosenName, deviceNameRole);
        }
        m_deviceBox->setCurrentIndex(choice);
        m_fillingDevices = false;
        return;
    }
    if (choice >= 0)
        m_deviceBox->setCurrentIndex(choice);
    m_fillingDevices = false;
    if (choice >= 0)
        sltDeviceChanged(choice);
}

void MuVoicePanel::startHeartbeat()
{
    m_heartbeatTimer->start(heartbeatIntervalMs);
}

void MuVoicePanel::sltDeviceChanged(int index)
{
    AgoraRtcEngine* engine = m_workflow->rtcEngine();
    if (m_fillingDevices || !engine)
        return;
    const QVariant data = m_deviceBox->currentData(Qt::UserRole);
    if (index < 0 || !data.isValid())
        return;
    const QString deviceId = data.toString();
    const int r = engine->setRecordingDevice(deviceId);
    qInfo() << "setRecordingDevice" << r << index << deviceId << m_deviceBox->currentText();
    if (r != 0)
        m_msgbox->showMessage(QStringLiteral("接入录音设备失败"), false);
}

void MuVoicePanel::sltVolumeChanged(int value)
{
    AgoraRtcEngine* engine = m_workflow->rtcEngine();
    if (m_fillingDevices || !engine)
        return;
    const int volume = qBound(0, value, 100);
    m_labelVolumeNumber->setText(QString::number(volume));
    const int r = engine->adjustRecordingSignalVolume(volume);
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
        showPushConnected(false);
        break;
    default:
        break;
    }
}

void MuVoicePanel::showPushConnected(bool connected)
{
    // Live only once the server has taken the stream.
    m_labelPush->setText(connected ? QStringLiteral("连接成功，正在直播中...")
                                   : QStringLiteral("正在连接推流服务器…"));
}

void MuVoicePanel::showWorkflowMessage(const QString& line1, const QString& line2, bool returnToLogin)
{
    if (line2.isEmpty())
        m_msgbox->showMessage(line1, returnToLogin);
    else
        m_msgbox->showMessage2(line1, line2, returnToLogin);
}

void MuVoicePanel::sltPushButton()
{
    if (m_workflow->isExiting())
        return; // the panel is being left; the press would act on a session that is going
    m_pushButton->setEnabled(false);
    m_workflow->pushButton();
    m_pushButton->setEnabled(true);
}

void MuVoicePanel::sltHeartbeat()
{
    m_workflow->heartbeat();
}

void MuVoicePanel::sltMute()
{
    if (m_workflow->isMicBanned() || !m_workflow->rtcEngine() || m_workflow->isExiting())
        return;
    m_workflow->muteButton();
}

void MuVoicePanel::setMuteLook(bool muted, bool banned)
{
    m_muteButton->show();
    m_pushButton->move(m_pushX + m_muteWidth + muteGapPx, m_pushY);
    m_pushButton->setFixedWidth(m_pushWidth - m_muteWidth - muteGapPx);
    if (!muted) {
        m_muteButton->setIcon(m_unmutedIcon);
        m_muteButton->setText(QStringLiteral("静音"));
        m_muteButton->setStyleSheet(
            QStringLiteral("#pushButton_mute { background-color: rgb(0, 114, 255); }"));
    } else {
        m_muteButton->setIcon(m_mutedIcon);
        m_muteButton->setText(banned ? QStringLiteral("禁麦中") : QStringLiteral("静音中"));
        m_muteButton->setStyleSheet(
            QStringLiteral("#pushButton_mute { background-color: rgb(255, 98, 0); }"));
    }
}

void MuVoicePanel::resetPushLayout()
{
    m_muteButton->hide();
    m_pushButton->move(m_pushX, m_pushY);
    m_pushButton->setFixedWidth(m_pushWidth);
}

bool MuVoicePanel::_sltClosePanel_ExitPanel(bool changeStatus)
{
    return m_workflow->exitSession(changeStatus);
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
