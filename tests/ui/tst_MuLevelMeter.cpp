// The level meter on its own: the scale, the fall-off, suppression, and what it paints.
#include "ui/MuLevelMeter.h"

#include <QImage>
#include <QtTest>

class tst_MuLevelMeter : public QObject
{
    Q_OBJECT

private slots:
    void scale_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<double>("fraction");
        QTest::newRow("silence") << 0 << 0.0;
        QTest::newRow("negative") << -5 << 0.0;
        QTest::newRow("full scale") << 255 << 1.0;
        QTest::newRow("above full scale") << 900 << 1.0;
        // -6 dB and -12 dB: the 1 kHz tone at volume 100 and 50.
        QTest::newRow("half") << 128 << 1.0 - 6.0 / 48.0;
        QTest::newRow("quarter") << 64 << 1.0 - 12.0 / 48.0;
        QTest::newRow("below the floor") << 1 << 0.0;
    }
    void scale()
    {
        QFETCH(int, level);
        QFETCH(double, fraction);
        QVERIFY2(std::fabs(MuLevelMeter::fractionOf(level) - fraction) < 0.01,
                 qPrintable(QString::number(MuLevelMeter::fractionOf(level))));
    }

    // Up at once, down by a twentieth per report; suppressed it is flat. (Hidden with the panel:
    // the panel's test.) The slider's gold up to the level, its groove colour after it.
    void fallOffSuppressionAndPaint()
    {
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
