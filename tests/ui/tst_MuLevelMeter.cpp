// The level meter on its own: the scale, the fall-off, suppression, and what it paints.
#include "ui/MuLevelMeter.h"

#include <QImage>
#include <QtTest>

class tst_MuLevelMeter : public QObject
{
    Q_OBJECT

private slots:
    // Silence, below the floor and full scale clamp; -6/-12 dB are the 1 kHz tone at volume 100/50.
    // Then up at once, down a twentieth per report, flat when suppressed; gold up to the level.
    void scaleFallOffSuppressionAndPaint()
    {
        const int levels[] = {0, -5, 1, 255, 900, 128, 64};
        const double fractions[] = {0, 0, 0, 1, 1, 1 - 6.0 / 48, 1 - 12.0 / 48};
        for (int i = 0; i < 7; ++i)
            QVERIFY2(qAbs(MuLevelMeter::fractionOf(levels[i]) - fractions[i]) < 0.01,
                     QByteArray::number(levels[i]));
        QWidget window;
        auto* meter = new MuLevelMeter(&window);
        meter->setGeometry(0, 0, 266, 4);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        meter->setLevel(255);
        QCOMPARE(meter->shownFraction(), 1.0);
        for (int i = 1; i <= 10; ++i)
            meter->setLevel(0);
        QVERIFY(std::fabs(meter->shownFraction() - 0.5) < 1e-9);
        meter->setSuppressed(true);
        meter->setLevel(255);
        QCOMPARE(meter->shownFraction(), 0.0);
        meter->setSuppressed(false);
        meter->setLevel(128); // 87.5 % of the scale
        QVERIFY(std::fabs(meter->shownFraction() - 0.875) < 0.01);
        const QImage image = meter->grab().toImage();
        QCOMPARE(image.pixelColor(100, 2), QColor(255, 215, 0));
        QCOMPARE(image.pixelColor(250, 2), QColor(245, 247, 250));
        meter->clear();
        QCOMPARE(meter->shownFraction(), 0.0);
        QCOMPARE(meter->grab().toImage().pixelColor(100, 2), QColor(245, 247, 250));
    }
};

QTEST_MAIN(tst_MuLevelMeter)
#include "tst_MuLevelMeter.moc"
