// The panel's confirmation box with its overlay, and the plain warning box.

#include "ui/MuMsgboxEx.h"
#include "ui/VMonLayer.h"
#include "ui/WarningBox.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

class tst_MuMsgboxEx : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void formsAsLaidOut();
    void oneAndTwoLines();
    void centredOnParent();
    void dismissalReturnsToLoginOnlyWhenAsked_data();
    void dismissalReturnsToLoginOnlyWhenAsked();
    void lastShowDecides();
    void warningBox();

private:
    QLabel* label(const char* name) const { return m_box->findChild<QLabel*>(QLatin1String(name)); }
    QPushButton* button(const char* name) const
    {
        return m_box->findChild<QPushButton*>(QLatin1String(name));
    }

    QWidget* m_panel = nullptr;
    MuMsgboxEx* m_box = nullptr;
    QSharedPointer<VMonLayer> m_overlay;
};

void tst_MuMsgboxEx::init()
{
    m_panel = new QWidget;
    m_panel->setGeometry(100, 80, 380, 472);
    m_overlay.reset(new VMonLayer(m_panel), [](VMonLayer*) {});
    m_overlay->resize(m_panel->size());
    m_overlay->hide();
    m_box = new MuMsgboxEx(m_panel);
    m_box->setOverlay(m_overlay);
    m_panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_panel));
}

void tst_MuMsgboxEx::cleanup()
{
    m_overlay.clear();
    delete m_panel;
    m_panel = nullptr;
    m_box = nullptr;
}

void tst_MuMsgboxEx::formsAsLaidOut()
{
    QCOMPARE(int(m_box->windowFlags()), 0x803);
    QCOMPARE(m_box->windowModality(), Qt::ApplicationModal);
    // The overlay is a plain child that its label fills entirely.
    QVERIFY(!m_overlay->isWindow());
    m_overlay->show();
    QCOMPARE(m_overlay->findChild<QLabel*>(QStringLiteral("label_monlayer"))->geometry(),
             QRect(QPoint(0, 0), m_panel->size()));
}

void tst_MuMsgboxEx::oneAndTwoLines()
{
    m_box->showMessage(QStringLiteral("网络异常"), false);
    QVERIFY(m_box->isVisible());
    QVERIFY(m_overlay->isVisible());
    QCOMPARE(m_overlay->pos(), QPoint(0, 0));
    QCOMPARE(label("label_line1")->text(), QStringLiteral("网络异常"));
    QCOMPARE(label("label_line1")->pos(), QPoint(0, 60));
    QVERIFY(label("label_line2")->text().isEmpty());

    // Shown again while open: the lines follow the newest message.
    m_box->showMessage2(QStringLiteral("无法推流"), QStringLiteral("原因：APP不在麦上、已被禁麦"), false);
    QCOMPARE(label("label_line1")->pos(), QPoint(0, 55));
    QCOMPARE(label("label_line2")->pos(), QPoint(0, 75));
    QCOMPARE(label("label_line2")->text(), QStringLiteral("原因：APP不在麦上、已被禁麦"));

    m_box->showMessage(QStringLiteral("推流失败"), false);
    QCOMPARE(label("label_line1")->pos(), QPoint(0, 60));
    QVERIFY(label("label_line2")->text().isEmpty());
}

void tst_MuMsgboxEx::centredOnParent()
{
    m_box->showMessage(QStringLiteral("x"), false);
    const QRect frame = m_panel->frameGeometry();
    QCOMPARE(m_box->pos(),
             QPoint(frame.x() + frame.width() / 2 - 268 / 2, frame.y() + frame.height() / 2 - 178 / 2));
}

void tst_MuMsgboxEx::dismissalReturnsToLoginOnlyWhenAsked_data()
{
    QTest::addColumn<bool>("returnToLogin");
    QTest::addColumn<QString>("how");
    QTest::newRow("return, OK") << true << "ok";
    QTest::newRow("return, close button") << true << "close";
    QTest::newRow("return, hidden by code") << true << "hide";
    QTest::newRow("stay, OK") << false << "ok";
    QTest::newRow("stay, close button") << false << "close";
}

void tst_MuMsgboxEx::dismissalReturnsToLoginOnlyWhenAsked()
{
    QFETCH(bool, returnToLogin);
    QFETCH(QString, how);
    QSignalSpy toLogin(m_box, &MuMsgboxEx::sigToLogin);
    m_box->showMessage2(QStringLiteral("a"), QStringLiteral("b"), returnToLogin);
    QVERIFY(m_overlay->isVisible());
    if (how == QLatin1String("ok"))
        QTest::mouseClick(button("pushButton_ok"), Qt::LeftButton);
    else if (how == QLatin1String("close"))
        QTest::mouseClick(button("pushButton_close"), Qt::LeftButton);
    else
        m_box->hide();
    QVERIFY(!m_box->isVisible());
    QVERIFY(!m_overlay->isVisible());
    QCOMPARE(toLogin.count(), returnToLogin ? 1 : 0);
}

void tst_MuMsgboxEx::lastShowDecides()
{
    QSignalSpy toLogin(m_box, &MuMsgboxEx::sigToLogin);
    m_box->showMessage(QStringLiteral("登录过期"), true);
    m_box->showMessage(QStringLiteral("网络异常"), false);
    QTest::mouseClick(button("pushButton_ok"), Qt::LeftButton);
    QCOMPARE(toLogin.count(), 0);
    // A box without an overlay still works.
    MuMsgboxEx bare(m_panel);
    QSignalSpy bareToLogin(&bare, &MuMsgboxEx::sigToLogin);
    bare.showMessage(QStringLiteral("x"), true);
    bare.hide();
    QCOMPARE(bareToLogin.count(), 1);
}

void tst_MuMsgboxEx::warningBox()
{
    QString title, text, okText;
    int buttons = 0;
    Qt::WindowFlags flags;
    bool hadParent = true;
    QTimer::singleShot(0, this, [&]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        buttons = box->buttons().size();
        okText = box->button(QMessageBox::Ok)->text();
        flags = box->windowFlags();
        hadParent = box->parentWidget() != nullptr;
        QCOMPARE(box->icon(), QMessageBox::NoIcon);
        box->button(QMessageBox::Ok)->click();
    });
    showWarning(QStringLiteral("配置文件损坏"));
    QCOMPARE(title, QStringLiteral("温馨提示"));
    QCOMPARE(text, QStringLiteral("配置文件损坏"));
    QCOMPARE(buttons, 1);
    QCOMPARE(okText, QStringLiteral("确定"));
    // Qt adds the title and close hints of a message box on top of what it was given.
    QCOMPARE(int(flags & 0x1FF), 0x103);
    QVERIFY(!hadParent);
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(tst_MuMsgboxEx)
#include "tst_MuMsgboxEx.moc"
