#include "ui/MuMsgbox.h"

#include <QLabel>
#include <QtTest>

// The toast: its form, that it centres itself on its owner, keeps its size whatever the text,
// and hides itself again.
class TestMuMsgbox : public QObject
{
    Q_OBJECT

private slots:
    void formAndFlags()
    {
        QWidget owner;
        MuMsgbox box(&owner);
        QCOMPARE(box.objectName(), QStringLiteral("widget_msgbox"));
        QCOMPARE(box.windowTitle(), QStringLiteral("widget_msgbox"));
        QCOMPARE(box.size(), QSize(122, 37));
        QCOMPARE(int(box.windowFlags()), 0x803);
        QCOMPARE(box.windowModality(), Qt::ApplicationModal);
        QVERIFY(box.testAttribute(Qt::WA_TranslucentBackground));

        auto* label = box.findChild<QLabel*>(QStringLiteral("label_msgbox"));
        QVERIFY(label);
        QCOMPARE(label->geometry(), QRect(0, 0, 122, 37));
        QCOMPARE(label->alignment(), Qt::AlignCenter);
        QCOMPARE(label->text(), QStringLiteral("用户ID不正确"));
        QVERIFY(!box.isVisible());
    }

    void centresOnOwnerAndKeepsItsSize()
    {
        QWidget owner;
        owner.setWindowFlags(Qt::FramelessWindowHint);
        owner.setGeometry(200, 100, 380, 332);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));

        MuMsgbox box(&owner);
        box.showMsg(QStringLiteral("这是一条远远超过提示框宽度的很长很长的消息文本"));
        QVERIFY(box.isVisible());
        QCOMPARE(box.text(), QStringLiteral("这是一条远远超过提示框宽度的很长很长的消息文本"));
        QCOMPARE(box.size(), QSize(122, 37));
        const QRect frame = owner.frameGeometry();
        QCOMPARE(box.pos(), QPoint(frame.x() + frame.width() / 2 - 61, frame.y() + frame.height() / 2 - 18));

        // The owner moved: the next message follows it.
        owner.move(10, 20);
        box.showMsg(QStringLiteral("网络异常"));
        const QRect moved = owner.frameGeometry();
        QCOMPARE(box.pos(), QPoint(moved.x() + moved.width() / 2 - 61, moved.y() + moved.height() / 2 - 18));
    }

    void hidesItselfAfterAMessage()
    {
        QWidget owner;
        owner.show();
        MuMsgbox box(&owner);
        box.showMsg(QStringLiteral("用户密码不正确"));
        QVERIFY(box.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!box.isVisible(), 5000);

        // A later message shows the box again with its own text.
        box.showMsg(QStringLiteral("服务为空"));
        QVERIFY(box.isVisible());
        QCOMPARE(box.text(), QStringLiteral("服务为空"));
        QTRY_VERIFY_WITH_TIMEOUT(!box.isVisible(), 5000);
    }

    void withoutOwnerStillShows()
    {
        MuMsgbox box;
        box.move(30, 40);
        box.showMsg(QStringLiteral("初始化为空"));
        QVERIFY(box.isVisible());
        QCOMPARE(box.pos(), QPoint(30, 40));
        QTRY_VERIFY_WITH_TIMEOUT(!box.isVisible(), 5000);
    }
};

QTEST_MAIN(TestMuMsgbox)
#include "tst_MuMsgbox.moc"
