// What the windows show and log of texts and replies that come from outside: service messages
// and device names as plain one-line text, no success text on an unusable reply, a capped log.

#include "net/http/TestHttpServer.h"
#include "support/LogCapture.h"
#include "support/TestEnv.h"

#include "base/MuSettings.h"
#include "config/VGlobalConfig.h"
#include "support/ScriptedRtcBackend.h"
#include "service/MuServer.h"
#include "ui/MuMsgbox.h"
#include "ui/MuMsgboxEx.h"
#include "ui/MuVoicePanel.h"
#include "ui/MuVozedIvazerida.h"

#include <QApplication>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

using agora::rtc::ScriptedRtcBackend;
using Answer = TestHttpServer::Answer;

namespace {

const QString kFallbackLogin = QStringLiteral("用户ID密码不正确");
const QString kNetwork = QStringLiteral("网络异常");

QByteArray jsonText(const QString& text)
{
    QByteArray quoted = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return quoted.mid(1, quoted.size() - 2);
}

} // namespace

class tst_OutsideReplies : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        ScriptedRtcBackend::setEnabled(true);
        m_log = std::make_unique<LogCapture>();
    }

    void init()
    {
        ScriptedRtcBackend::reset();
        m_dir = std::make_unique<TestEnv::ScopedWorkDir>();
        m_server = std::make_unique<TestHttpServer>();
        m_login = {200, "{\"code\":1,\"data\":{\"userId\":\"20001\"}}"};
        m_push = {200, "{\"code\":1,\"data\":{\"streamUrl\":\"rtmp://127.0.0.1:1/live/r\"}}"};
        m_sdkInit =
            QStringLiteral("{\"code\":1,\"data\":{\"roomServer\":\"%1\"}}").arg(m_server->url()).toUtf8();
        m_server->setResponder([this](const TestHttpServer::Request& request) {
            const QByteArray path = request.target.left(request.target.indexOf('?'));
            if (path == "/sdkinit")
                return Answer{200, m_sdkInit, false, 0};
            if (path.endsWith("/login"))
                return Answer{m_login.first, m_login.second, false, 0};
            if (path.endsWith("/checkEnterRoom"))
                return Answer{200, "{\"code\":1,\"data\":{\"roomId\":\"r\"}}", false, 0};
            if (path.endsWith("/changeLiveStatus"))
                return Answer{m_push.first, m_push.second, false, 0};
            return Answer{200, "{\"code\":1,\"data\":{}}", false, 0};
        });
        VGlobalConfig::instance()->setValue(QStringLiteral("ServerType"), QStringLiteral("1000"));
        VGlobalConfig::instance()->setValue(QStringLiteral("sdkinit"), m_server->url("/sdkinit"));
        m_window = std::make_unique<MuVozedIvazerida>();
        m_window->show();
        LogCapture::clear();
    }

    void cleanup()
    {
        m_window->voicePanel()->messageBox()->hide();
        m_window.reset();
        MuSettings::destroyInstance();
        m_server.reset();
        m_dir.reset();
    }

    // Only a refusal code lets the service's msg through; anything unusable gets our own text.
    void loginReplyText_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("toast");
        QTest::newRow("success code without data")
            << 200 << QByteArray("{\"code\":1,\"msg\":\"success\"}") << kFallbackLogin;
        QTest::newRow("success code, userId a number")
            << 200 << QByteArray("{\"code\":1,\"msg\":\"success\",\"data\":{\"userId\":5}}")
            << kFallbackLogin;
        QTest::newRow("success code, empty userId")
            << 200 << QByteArray("{\"code\":1,\"msg\":\"ok\",\"data\":{\"userId\":\"\"}}") << kFallbackLogin;
        QTest::newRow("code as text")
            << 200 << QByteArray("{\"code\":\"2001\",\"msg\":\"success\"}") << kFallbackLogin;
        QTest::newRow("no code") << 200 << QByteArray("{\"msg\":\"success\"}") << kFallbackLogin;
        QTest::newRow("refusal with msg")
            << 200 << QByteArray("{\"code\":2001,\"msg\":\"密码错误\"}") << QStringLiteral("密码错误");
        QTest::newRow("refusal code 0 with msg")
            << 200 << QByteArray("{\"code\":0,\"msg\":\"停用\"}") << QStringLiteral("停用");
        QTest::newRow("refusal without msg") << 200 << QByteArray("{\"code\":2001}") << kFallbackLogin;
        QTest::newRow("HTTP 500") << 500 << QByteArray("{\"code\":2001,\"msg\":\"x\"}") << kFallbackLogin;
        QTest::newRow("not JSON") << 200 << QByteArray("<html>success</html>") << kFallbackLogin;
    }

    void loginReplyText()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, toast);
        m_login = {status, body};
        attemptLogin();
        QCOMPARE(toastText(), toast);
        QVERIFY(!m_window->voicePanel()->isVisible());
    }

    void loginServiceDownIsNetworkText()
    {
        // The configuration reply points the push-stream service at a closed port.
        m_sdkInit = QStringLiteral("{\"code\":1,\"data\":{\"roomServer\":\"%1\"}}")
                        .arg(TestHttpServer::closedUrl())
                        .toUtf8();
        attemptLogin();
        QCOMPARE(toastText(), kNetwork);
    }

    // Markup, control and bidi characters reach the toast as plain text, minus what reorders or
    // breaks the line.
    void serviceTextShownPlain_data()
    {
        QTest::addColumn<QString>("msg");
        QTest::addColumn<QString>("shown");
        QTest::newRow("heading") << QStringLiteral("<h1 style=color:red>坏</h1>")
                                 << QStringLiteral("<h1 style=color:red>坏</h1>");
        QTest::newRow("local picture") << QStringLiteral("<img src=\"file:///etc/x.png\">")
                                       << QStringLiteral("<img src=\"file:///etc/x.png\">");
        QTest::newRow("right-to-left override") << QStringLiteral("\u202eEVIL") << QStringLiteral("EVIL");
        QTest::newRow("isolates and marks")
            << QStringLiteral("a\u2067b\u2069c\u200fd\u061ce") << QStringLiteral("abcde");
        QTest::newRow("line breaks and tab") << QStringLiteral("a\nb\r\nc\td") << QStringLiteral("a b  c d");
        QTest::newRow("other controls")
            << QStringLiteral("a\u0001b\u001bc\u007fd\u0085e") << QStringLiteral("abcde");
        QTest::newRow("emoji joiner kept") << QStringLiteral("👩\u200d💻") << QStringLiteral("👩\u200d💻");
    }

    void serviceTextShownPlain()
    {
        QFETCH(QString, msg);
        QFETCH(QString, shown);
        const QByteArray body = "{\"code\":2001,\"msg\":" + jsonText(msg) + "}";
        m_login = {200, body};
        attemptLogin();
        auto* label = m_window->findChild<MuMsgbox*>()->findChild<QLabel*>("label_msgbox");
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(label->text(), shown);

        // The panel's message box, on a push refused with the service's msg.
        m_push = {200, "{\"code\":3194,\"msg\":" + jsonText(msg) + "}"};
        m_login = {200, "{\"code\":1,\"data\":{\"userId\":\"20001\"}}"};
        reachPushRefused();
        MuMsgboxEx* box = m_window->voicePanel()->messageBox();
        QVERIFY(box->isVisible());
        for (const char* name : {"label_line1", "label_line2"})
            QCOMPARE(box->findChild<QLabel*>(name)->textFormat(), Qt::PlainText);
        QCOMPARE(box->findChild<QLabel*>("label_line1")->text(), shown);
    }

    // Names from the sound server: shown without what reorders or breaks them; the id is kept.
    void deviceNamesShownPlain()
    {
        ScriptedRtcBackend::setRecordingDevices(
            {{QStringLiteral("<b>Mic</b>\u202e1"), QStringLiteral("id\u202e1")},
             {QStringLiteral("Line\nIn (default)"), QStringLiteral("id2")}});
        login();
        auto* box = m_window->voicePanel()->findChild<QComboBox*>("comboBox_device");
        QCOMPARE(box->count(), 2);
        QCOMPARE(box->itemText(0), QStringLiteral("<b>Mic</b>1"));
        QCOMPARE(box->itemData(0).toString(), QStringLiteral("id\u202e1"));
        QCOMPARE(box->itemText(1), QStringLiteral("Line In (default)"));
        QCOMPARE(box->currentIndex(), 1);
    }

    // Whatever the service says when asked to go live, without a code of its own it is a
    // transport failure.
    void pushStartRefusedText_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("line1");
        QTest::addColumn<QString>("line2");
        const QString cannot = QStringLiteral("无法推流");
        const QString reason = QStringLiteral("原因：APP不在麦上、已被禁麦");
        QTest::newRow("HTTP 500") << 500 << QByteArray("{\"code\":1}") << kNetwork << QString();
        QTest::newRow("HTTP 502, empty") << 502 << QByteArray() << kNetwork << QString();
        QTest::newRow("HTTP 404") << 404 << QByteArray("{\"code\":3194,\"msg\":\"x\"}") << kNetwork
                                  << QString();
        QTest::newRow("not JSON") << 200 << QByteArray("garbage") << kNetwork << QString();
        QTest::newRow("no code") << 200 << QByteArray("{\"msg\":\"x\"}") << kNetwork << QString();
        QTest::newRow("push refused") << 200 << QByteArray("{\"code\":3194,\"msg\":\"被禁麦\"}")
                                      << QStringLiteral("被禁麦") << QString();
        QTest::newRow("other code") << 200 << QByteArray("{\"code\":3192,\"msg\":\"x\"}") << cannot << reason;
        QTest::newRow("code 0") << 200 << QByteArray("{\"code\":0}") << cannot << reason;
    }

    void pushStartRefusedText()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, line1);
        QFETCH(QString, line2);
        m_push = {status, body};
        reachPushRefused();
        MuVoicePanel* panel = m_window->voicePanel();
        QCOMPARE(panel->pushState(), int(PanelStateStartPush));
        QCOMPARE(panel->messageBox()->findChild<QLabel*>("label_line1")->text(), line1);
        QCOMPARE(panel->messageBox()->findChild<QLabel*>("label_line2")->text(), line2);
        QVERIFY(!ScriptedRtcBackend::isJoined());
    }

    // Outside texts are logged with a cap and their full length; 300 bytes stay the cut of the
    // asynchronous reply log.
    void logCapsOutsideTexts()
    {
        const QString huge = QStringLiteral("长").repeated(40000); // 120000 bytes of UTF-8
        m_sdkInit =
            QStringLiteral("{\"code\":1,\"msg\":\"%1\",\"data\":{\"roomServer\":\"%2\",\"h5Server\":\"%1\"}}")
                .arg(huge, m_server->url())
                .toUtf8();
        m_login = {200, "{\"code\":2001,\"msg\":\"" + huge.toUtf8() + "\"}"};
        attemptLogin();
        int total = 0;
        for (const QString& line : LogCapture::lines()) {
            total += line.toUtf8().size();
            QVERIFY2(line.toUtf8().size() < 2 * 2048 + 200, qPrintable(line.left(80)));
        }
        QVERIFY(total < 20000);
        QVERIFY(LogCapture::contains(QStringLiteral("bytes)")));
        QVERIFY(LogCapture::contains(QString::number(m_sdkInit.size() - m_sdkInit.indexOf('{')) +
                                     QStringLiteral(" bytes)")));
        QCOMPARE(toastText().size(), huge.size()); // shown whole; the toast clips it
    }

private:
    void attemptLogin()
    {
        m_window->findChild<QLineEdit*>("lineEdit_userid")->setText(QStringLiteral("10001"));
        m_window->findChild<QLineEdit*>("lineEdit_password")->setText(QStringLiteral("123456"));
        QTest::mouseClick(m_window->findChild<QPushButton*>("pushButton_login"), Qt::LeftButton);
    }
    void login()
    {
        attemptLogin();
        QVERIFY(m_window->voicePanel()->isVisible());
    }
    void reachPushRefused()
    {
        login();
        auto* push = m_window->voicePanel()->findChild<QPushButton*>("pushButton_push");
        QTest::mouseClick(push, Qt::LeftButton);
        QCOMPARE(m_window->voicePanel()->pushState(), int(PanelStateStartPush));
        QTest::mouseClick(push, Qt::LeftButton);
    }
    QString toastText() const
    {
        const MuMsgbox* toast = m_window->findChild<MuMsgbox*>();
        return toast && toast->isVisible() ? toast->text() : QString();
    }

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<TestEnv::ScopedWorkDir> m_dir;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<MuVozedIvazerida> m_window;
    QPair<int, QByteArray> m_login;
    QPair<int, QByteArray> m_push;
    QByteArray m_sdkInit;
};

QTEST_MAIN(tst_OutsideReplies)
#include "tst_OutsideReplies.moc"
