#include "FormPreview.h"

#include <QComboBox>
#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QWidget>

namespace {

constexpr int kGap = 24;

QString withPictures(QString styleSheet, const QString& pictureDir)
{
    return styleSheet.replace(QStringLiteral("url(:/"),
                              QStringLiteral("url(") + pictureDir + QLatin1Char('/'));
}

template <typename T> T* place(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* widget = new T(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

// The header shared by both windows: logo, lettering, greeting, minimise and close.
void addHeader(QWidget* window)
{
    place<QLabel>(window, "label_logo", QRect(121, 32, 52, 52));
    place<QLabel>(window, "label_appname1", QRect(185, 38, 75, 24));
    place<QLabel>(window, "label_appname2", QRect(185, 67, 75, 12))->setText(QStringLiteral("很高兴遇见你"));
    place<QPushButton>(window, "pushButton_min", QRect(320, 12, 20, 20));
    place<QPushButton>(window, "pushButton_close", QRect(348, 12, 20, 20));
}

QImage grabLogin(const QString& dir)
{
    QWidget window;
    window.resize(380, 332);
    window.setAttribute(Qt::WA_TranslucentBackground);
    place<QWidget>(&window, "widget_VozedIvazerida", QRect(0, 0, 380, 332));
    addHeader(&window);
    auto* user = place<QLineEdit>(&window, "lineEdit_userid", QRect(40, 112, 300, 48));
    user->setPlaceholderText(QStringLiteral("输入用户ID"));
    user->setAlignment(Qt::AlignCenter);
    auto* password = place<QLineEdit>(&window, "lineEdit_password", QRect(40, 172, 300, 48));
    password->setPlaceholderText(QStringLiteral("输入密码"));
    password->setEchoMode(QLineEdit::Password);
    password->setAlignment(Qt::AlignCenter);
    place<QPushButton>(&window, "pushButton_login", QRect(40, 252, 300, 48))->setText(QStringLiteral("登录"));
    window.setStyleSheet(withPictures(QStringLiteral(R"(
#widget_VozedIvazerida { border-radius: 8px; border-image: url(:/BG.png); }
#label_appname1 { border-image: url(:/tavio_ziti.png); }
#label_appname2 { font: 12px "PingFangSC-Regular"; color: rgb(100, 101, 102); }
#pushButton_min { border-image: url(:/ic_zuixiaohua.png); }
#pushButton_min:hover { background: rgb(85, 162, 228); }
#pushButton_close { border-image: url(:/ic_guanbi.png); }
#pushButton_close:hover { background: rgb(255, 84, 57); }
#label_logo { border-image: url(:/yyzslogo384.png); }
#lineEdit_userid, #lineEdit_password { border-radius: 24px; font: 75 14px "PingFang-SC-Medium"; color: rgb(50, 50, 51); }
#pushButton_login { border-radius: 24px; font: 75 14px "PingFang-SC-Medium"; color: rgb(51, 51, 51); background: rgb(255, 215, 0); }
)"),
                                      dir));
    return window.grab().toImage();
}

QImage grabPanel(const QString& dir, bool muted)
{
    QWidget window;
    window.resize(380, 472);
    window.setAttribute(Qt::WA_TranslucentBackground);
    place<QWidget>(&window, "widget_VoicePanel", QRect(0, 0, 380, 472));
    addHeader(&window);
    place<QLabel>(&window, "label_device", QRect(40, 116, 64, 22))->setText(QStringLiteral("接入设备"));
    auto* devices = place<QComboBox>(&window, "comboBox_device", QRect(40, 150, 300, 48));
    devices->addItem(QStringLiteral("Default - Line In (USB Audio)"));
    place<QLabel>(&window, "label_volume", QRect(40, 238, 64, 22))->setText(QStringLiteral("设备音量"));
    auto* volume = place<QSlider>(&window, "horizontalSlider_volume", QRect(40, 288, 266, 16));
    volume->setOrientation(Qt::Horizontal);
    volume->setRange(0, 100);
    volume->setValue(62);
    place<QLabel>(&window, "label_volumenumber", QRect(314, 289, 26, 14))->setText(QStringLiteral("62"));
    auto* hint = place<QLabel>(&window, "label_push", QRect(0, 364, 380, 12));
    hint->setText(QStringLiteral("请手机登录TavioAPP并进入房间..."));
    hint->setAlignment(Qt::AlignCenter);
    place<QPushButton>(&window, "pushButton_push", QRect(160, 392, 180, 48))
        ->setText(QStringLiteral("停止推流"));
    auto* mute = place<QPushButton>(&window, "pushButton_mute", QRect(40, 392, 110, 48));
    mute->setText(muted ? QStringLiteral("静音中") : QStringLiteral("静音"));
    mute->setIcon(
        QIcon(dir + (muted ? QStringLiteral("/ic_jingyinzhong.png") : QStringLiteral("/ic_jingyin.png"))));
    mute->setIconSize(QSize(24, 24));
    window.setStyleSheet(
        withPictures(QStringLiteral(R"(
#widget_VoicePanel { border-radius: 8px; background: rgb(255, 255, 255); }
#label_appname1 { border-image: url(:/tavio_ziti.png); }
#label_logo { border-image: url(:/yyzslogo384.png); }
#label_appname2 { font: 12px "PingFangSC-Regular"; color: rgb(175, 176, 179); }
#pushButton_min { border-image: url(:/ic_zuixiaohua_fx.png); }
#pushButton_min:hover { border-image: url(:/panel_min_hover.png); }
#pushButton_close { border-image: url(:/ic_guanbi_fx.png); }
#pushButton_close:hover { border-image: url(:/panel_close_hover.png); }
#label_device, #label_volume { font: 75 16px "PingFang-SC-Bold"; color: rgb(175, 176, 179); }
#comboBox_device { border-radius: 24px; font: 75 14px "PingFang-SC-Medium"; color: rgb(125, 125, 128);
  border: 0.5px solid rgba(200, 200, 200, 10%); background: rgb(245, 247, 250); padding: 0 24px; }
#comboBox_device::drop-down { margin-right: 48px; border: none; }
#comboBox_device::down-arrow { width: 16px; height: 16px; border-image: url(:/ic_gengduo.png); }
#horizontalSlider_volume::groove:horizontal { background: rgb(245, 247, 250); height: 4px; border-radius: 2px; }
#horizontalSlider_volume::sub-page:horizontal { background: rgb(255, 215, 0); height: 4px; border-radius: 2px; }
#horizontalSlider_volume::add-page:horizontal { background: rgb(245, 247, 250); height: 4px; border-radius: 2px; }
#horizontalSlider_volume::handle:horizontal { background: white; width: 16px; margin: -6px 0; border-radius: 8px;
  border: 1px outset rgba(179, 179, 179, 50%); }
#label_volumenumber { font: 75 14px "PingFang-SC-Medium"; color: rgb(51, 51, 51); }
#label_push { font: 75 12px "PingFang-SC-Medium"; color: rgb(51, 51, 51); }
#pushButton_push { border-radius: 24px; background: rgb(255, 215, 0); font: 75 14px "PingFang-SC-Medium"; color: rgb(51, 51, 51); }
#pushButton_mute { border-radius: 24px; background: rgb(0, 114, 255); font: 75 14px "PingFang-SC-Medium"; color: rgb(255, 255, 255); }
)"),
                     dir) +
        (muted ? QStringLiteral("#pushButton_mute { background-color: rgb(255, 98, 0); }") : QString()));
    return window.grab().toImage();
}

QImage grabConfirmation(const QString& dir)
{
    QWidget box;
    box.resize(268, 178);
    box.setAttribute(Qt::WA_TranslucentBackground);
    place<QWidget>(&box, "widget_bg", QRect(0, 0, 268, 178));
    place<QPushButton>(&box, "pushButton_close", QRect(236, 12, 20, 20));
    place<QPushButton>(&box, "pushButton_ok", QRect(64, 118, 140, 36))->setText(QStringLiteral("OK"));
    auto* line = place<QLabel>(&box, "label_line1", QRect(0, 60, 268, 14));
    line->setText(QStringLiteral("接入录音设备失败"));
    line->setAlignment(Qt::AlignCenter);
    box.setStyleSheet(withPictures(QStringLiteral(R"(
#widget_bg { border-radius: 12px; background: rgb(255, 255, 255); }
#pushButton_close { border-image: url(:/ic_guanbi_fx.png); }
#pushButton_ok { border-radius: 18px; background: rgb(255, 215, 0); font: 75 14px "PingFang-SC-Medium"; color: rgb(51, 51, 51); }
#label_line1 { font: 75 14px "PingFang-SC-Medium"; color: rgb(51, 51, 51); }
)"),
                                   dir));
    return box.grab().toImage();
}

} // namespace

QImage FormPreview::render(const QString& pictureDir)
{
    const QString dir = QDir(pictureDir).absolutePath();
    const QImage shots[] = {grabLogin(dir), grabPanel(dir, false), grabPanel(dir, true),
                            grabConfirmation(dir)};
    int width = kGap;
    int height = 0;
    for (const QImage& shot : shots) {
        width += shot.width() + kGap;
        height = std::max(height, shot.height());
    }
    QImage sheet(width, height + 2 * kGap, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(96, 100, 108)); // a mid-grey desk, so rounded corners and edges show
    QPainter painter(&sheet);
    int x = kGap;
    for (const QImage& shot : shots) {
        painter.drawImage(x, kGap, shot);
        x += shot.width() + kGap;
    }
    return sheet;
}
