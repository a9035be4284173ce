// The device drop-down opens its list a little lower than a plain combo box does.

#include "ui/vGiftComboBox.h"

#include <QFrame>
#include <QSignalSpy>
#include <QtTest>

class tst_vGiftComboBox : public QObject
{
    Q_OBJECT

private slots:
    void popupOpensEightPixelsLower();
};

void tst_vGiftComboBox::popupOpensEightPixelsLower()
{
    QWidget window;
    window.setGeometry(100, 100, 400, 300);
    auto* plain = new QComboBox(&window);
    auto* gift = new vGiftComboBox(&window);
    // Same place, same items: the base class would put both popups in the same spot.
    plain->setGeometry(40, 40, 300, 48);
    gift->setGeometry(40, 40, 300, 48);
    for (QComboBox* box : {static_cast<QComboBox*>(plain), static_cast<QComboBox*>(gift)})
        box->addItems({QStringLiteral("Line In"), QStringLiteral("Mic (default)")});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    plain->showPopup();
    const QPoint plainAt = plain->findChild<QFrame*>()->pos();
    plain->hidePopup();

    QSignalSpy popups(gift, &vGiftComboBox::sigPopup);
    gift->showPopup();
    QCOMPARE(popups.count(), 1);
    auto* frame = gift->findChild<QFrame*>();
    QVERIFY(frame && frame->isVisible());
    QCOMPARE(frame->pos(), plainAt + QPoint(0, 8));
    gift->hidePopup();

    // Every opening moves from where the base puts it, not from the last spot.
    gift->showPopup();
    QCOMPARE(popups.count(), 2);
    QCOMPARE(gift->findChild<QFrame*>()->pos(), plainAt + QPoint(0, 8));
    gift->hidePopup();
}

QTEST_MAIN(tst_vGiftComboBox)
#include "tst_vGiftComboBox.moc"
