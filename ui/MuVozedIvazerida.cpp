#include "ui/MuVozedIvazerida.h"

#include "base/MuSettings.h"
#include "base/OutsideText.h"
#include "base/ScrambleText.h"
#include "base/zebUtility.h"
#include "config/VGlobalConfig.h"
#include "net/http/VHttpComm.h"
#include "service/MuServer.h"
#include "ui/AddChild.h"
#include "ui/MuMsgbox.h"
#include "ui/MuVoicePanel.h"
#include "ui/WindowDragger.h"

#include <QCloseEvent>
#include <QDebug>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

// The pictures live in the static ui library; the linker drops its resource tree unless
// something registers it. Must be called outside any namespace.
static void registerCompiledResources()
{
    static bool registered = false;
    if (!registered) {
        Q_INIT_RESOURCE(resources);
        registered = true;
    }
}

namespace {

const char* const kFormStyleSheet = "#widget_VozedIvazerida {\n"
                                    "  border-radius: 8px;\n"
                                    "  border-image: url(:/BG.png);\n"
                                    "}\n"
                                    "#label_appname1 {\n"
                                    "  border-image: url(:/tavio_ziti.png);\n"
                                    "}\n"
                                    "#label_appname2 {\n"
                                    "  font: 12px \"PingFangSC-Regular\";\n"
                                    "  color: rgb(100, 101, 102);\n"
                                    "}\n"
                                    "#pushButton_min {\n"
                                    "  border-image: url(:/ic_zuixiaohua.png);\n"
                                    "}\n"
                                    "#pushButton_min:hover {\n"
                                    "  background-color: rgb(85, 162, 228);\n"
                                    "}\n"
                                    "#pushButton_close {\n"
                                    "  border-image: url(:/ic_guanbi.png);\n"
                                    "}\n"
                                    "#pushButton_close:hover {\n"
                                    "  background-color: rgb(255, 84, 57);\n"
                                    "}\n"
                                    "#label_logo {\n"
                                    "  border-image: url(:/yyzslogo384.png);\n"
                                    "}\n"
                                    "#lineEdit_userid, #lineEdit_password {\n"
                                    "  border-radius: 24px;\n"
                                    "  font: 75 14px \"PingFang-SC-Medium\";\n"
                                    "  color: rgb(50, 50, 51);\n"
                                    "}\n"
                                    "#pushButton_login {\n"
                                    "  border-radius: 24px;\n"
                                    "  font: 75 14px \"PingFang-SC-Medium\";\n"
                                    "  color: rgb(51, 51, 51);\n"
                                    "  background-color: rgb(255, 215, 0);\n"
                                    "}\n";

// Spaces typed into a field are removed and the cleaned text is written back.
QString withoutSpaces(QLineEdit* edit)
{
    QString text = edit->text();
    if (text.contains(QLatin1Char(' '))) {
        text.remove(QLatin1Char(' '));
        edit->setText(text);
    }
    return text;
}

} // namespace

MuVozedIvazerida::MuVozedIvazerida(QWidget* parent) : QWidget(parent)
{
    registerCompiledResources();

    buildForm();
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    setAttribute(Qt::WA_TranslucentBackground);
    new WindowDragger(this);

    panel = QSharedPointer<MuVoicePanel>::create(nullptr);
    panel->setLoginWindow(this);

    toast = QSharedPointer<MuMsgbox>(new MuMsgbox(this));

    QString userId;
    QString password;
    MuSettings::instance()->loadLogin(userId, password);
    m_userIdEdit->setText(userId);
    m_passwordEdit->setText(scrambleText(password, true));

    m_loginButton->setFocus();
    m_loginButton->setDefault(true);
    m_minButton->setFocusPolicy(Qt::ClickFocus);
    m_closeButton->setFocusPolicy(Qt::ClickFocus);

    connect(m_minButton, &QPushButton::clicked, this, &QWidget::showMinimized);
    connect(m_closeButton, &QPushButton::clicked, this, &MuVozedIvazerida::sltCloseLogin);
    connect(m_loginButton, &QPushButton::clicked, this, &MuVozedIvazerida::sltLogin);
    connect(m_passwordEdit, &QLineEdit::returnPressed, this, &MuVozedIvazerida::sltLogin);
}

// The toast goes before the base class deletes the remaining children, so the shared
// pointer is its only deleter; the panel has no parent and goes with its pointer.
MuVozedIvazerida::~MuVozedIvazerida() = default;

void MuVozedIvazerida::buildForm()
{
    setObjectName(QStringLiteral("MuVozedIvazerida"));
    setWindowTitle(QStringLiteral("Tavio语音房电脑助手"));
    resize(380, 332);

    auto* background = addChild<QWidget>(this, "widget_VozedIvazerida", 0, 0, 380, 332);

    addChild<QLabel>(background, "label_logo", 121, 32, 52, 52);

    addChild<QLabel>(background, "label_appname1", 185, 38, 75, 24);

    auto* appName2 = addChild<QLabel>(background, "label_appname2", 185, 67, 75, 12);
    appName2->setText(QStringLiteral("很高兴遇见你"));

    m_userIdEdit = addChild<QLineEdit>(background, "lineEdit_userid", 40, 112, 300, 48);
    m_userIdEdit->setPlaceholderText(QStringLiteral("输入用户ID"));
    m_userIdEdit->setAlignment(Qt::AlignCenter);

    m_passwordEdit = addChild<QLineEdit>(background, "lineEdit_password", 40, 172, 300, 48);
    m_passwordEdit->setPlaceholderText(QStringLiteral("输入密码"));
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_passwordEdit->setAlignment(Qt::AlignCenter);

    m_loginButton = addChild<QPushButton>(background, "pushButton_login", 40, 252, 300, 48);
    m_loginButton->setText(QStringLiteral("登录"));

    m_minButton = addChild<QPushButton>(background, "pushButton_min", 320, 12, 20, 20);

    m_closeButton = addChild<QPushButton>(background, "pushButton_close", 348, 12, 20, 20);

    setStyleSheet(QString::fromUtf8(kFormStyleSheet));
}

QString MuVozedIvazerida::scrambleText(const QString& text, bool decode)
{
    return ::scrambleText(text, decode);
}

void MuVozedIvazerida::restoreLoginButton()
{
    m_loginButton->setText(QStringLiteral("登录"));
    m_loginButton->setEnabled(true);
}

void MuVozedIvazerida::sltLogin()
{
    qInfo() << "MuVozedIvazerida::sltLogin";
    if (loggingIn || closing)
        return;

    const QString userId = withoutSpaces(m_userIdEdit);
    const QString password = withoutSpaces(m_passwordEdit);
    if (userId.isEmpty()) {
        toast->showMsg(QStringLiteral("用户ID不正确"));
        return;
    }
    if (password.isEmpty()) {
        toast->showMsg(QStringLiteral("用户密码不正确"));
        return;
    }

    loggingIn = true;
    m_loginButton->setEnabled(false);
    m_loginButton->setText(QStringLiteral("登录中..."));

    // The window may have been closed while a request waited; then no panel must appear.
    if (!requestSdkInit() || closing) {
        restoreLoginButton();
        loggingIn = false;
        return;
    }

    QString accountUserId;
    int code = -1;
    QString msg;
    bool networkFailed = false;
    const bool ok = MuServer::instance()->login(userId, password, accountUserId, code, msg, networkFailed);
    qInfo() << "MuVozedIvazerida::sltLogin" << ok << userId << OutsideText::capped(accountUserId) << code
            << OutsideText::capped(msg) << networkFailed;

    if (!ok) {
        // The service's msg explains a refusal only when it came with a refusal code: beside the
        // success code (no usable data) or no code at all it may well read "success".
        const bool refused = code != -1 && code != 1;
        if (networkFailed)
            toast->showMsg(QStringLiteral("网络异常"));
        else if (refused && !msg.isEmpty())
            toast->showMsg(msg);
        else
            toast->showMsg(QStringLiteral("用户ID密码不正确"));
    } else if (!closing) {
        MuSettings::instance()->saveLogin(userId, scrambleText(password, false), accountUserId);
        panel->prepareSession();
        hide();
        panel->move(frameGeometry().topLeft());
        panel->activateWindow();
        panel->showNormal();
        panel->startHeartbeat();
    }
    restoreLoginButton();
    loggingIn = false;
}

bool MuVozedIvazerida::requestSdkInit()
{
    VGlobalConfig* config = VGlobalConfig::instance();
    const QString serverType = config->value(QStringLiteral("ServerType"));

    QString productVersion;
    QString fileVersion;
    VGlobalConfig::appVersion(productVersion, fileVersion);

    MuServer* server = MuServer::instance();
    const QString appId = server->appId();
    if (appId.isEmpty()) {
        toast->showMsg(QStringLiteral("APPID为空"));
        return false;
    }

    const QString sdkInitUrl = config->value(QStringLiteral("sdkinit"));
    const QList<QPair<QString, QString>> params = {
        {QStringLiteral("appId"), appId},
        {QStringLiteral("bigVersion"), fileVersion},
        {QStringLiteral("version"), productVersion},
        {QStringLiteral("deviceId"), config->value(QStringLiteral("deviceId"))},
        {QStringLiteral("deviceType"), QStringLiteral("4")},
        {QStringLiteral("product"), QStringLiteral("pc_push")},
    };
    const QString query = zebUtility::signedQuery(params, server->signKey(serverType));

    bool networkFailed = false;
    const QByteArray reply =
        VHttpComm::instance()->syncPost(sdkInitUrl + QLatin1Char('?') + query, QByteArray(), networkFailed);
    if (reply.isEmpty()) {
        toast->showMsg(QStringLiteral("初始化为空"));
        return false;
    }

    config->applySdkInitReply(reply);
    const QString roomServer = config->value(QStringLiteral("roomServer"));
    if (roomServer.isEmpty()) {
        toast->showMsg(QStringLiteral("服务为空"));
        return false;
    }
    server->setServer(roomServer, serverType);
    return true;
}

void MuVozedIvazerida::sltCloseLogin()
{
    qInfo() << "MuVozedIvazerida::sltCloseLogin" << closing;
    MuSettings::instance()->saveLogin(m_userIdEdit->text(), scrambleText(m_passwordEdit->text(), false),
                                      QString());
    if (!closing) {
        closing = true;
        close();
    }
}

void MuVozedIvazerida::closeEvent(QCloseEvent* event)
{
    qInfo() << "MuVozedIvazerida::closeEvent" << closing;
    if (!closing) {
        closing = true;
        sltCloseLogin();
    }
    event->accept();
}
