#include "ui/MuMsgbox.h"

#include <QtTest>

// The toast centres itself on its owner, keeps its size whatever the text, and hides itself.
class TestMuMsgbox : public QObject
{
    Q_OBJECT

private slots:
    void centresOnOwnerKeepsItsSizeAndHides()
    {
        QWidget owner;
        owner.setWindowFlags(Qt::FramelessWindowHint);
        owner.setGeometry(200, 100, 380, 332);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        MuMsgbox box(&owner);
        const auto expectedPos = [&owner]() {
            const QRect f = owner.frameGeometry();
            return QPoint(f.x() + f.width() / 2 - 122 / 2, f.y() + f.height() / 2 - 37 / 2);
        };

        const QString longText = QStringLiteral("这是一条远远超过提示框宽度的很长很长的消息文本");
        box.showMsg(longText);
        QVERIFY(box.isVisible());
        QCOMPARE(box.text(), longText);
        QCOMPARE(box.size(), QSize(122, 37));
        QCOMPARE(box.pos(), expectedPos());
        QTRY_VERIFY_WITH_TIMEOUT(!box.isVisible(), 5000);

        // The owner moved: the next message follows it.
        owner.move(10, 20);
        box.showMsg(QStringLiteral("网络异常"));
        QVERIFY(box.isVisible());
        QCOMPARE(box.pos(), expectedPos());
        QTRY_VERIFY_WITH_TIMEOUT(!box.isVisible(), 5000);
    }
};

QTEST_MAIN(TestMuMsgbox)
#include "tst_MuMsgbox.moc"
