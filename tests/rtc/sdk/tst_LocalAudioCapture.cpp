// The local audio's decisions that need no sound server: the level the application sees, how
// much silence stands in for a lost device, and whether the wanted device is back.
#include "rtc/sdk/LocalAudioCapture.h"

#include <QtTest>

using agora::rtc::GstAudioDevices;
using agora::rtc::LocalAudioCapture;

class tst_LocalAudioCapture : public QObject
{
    Q_OBJECT

private slots:
    // A peak of 0..32768 as the level 0..255 of the local user, voice from 8.
    void levelOfAPeak()
    {
        const QList<QList<int>> rows = {
            {0, 0, 0}, {963, 7, 0}, {964, 8, 1}, {16384, 128, 1}, {32768, 255, 1}};
        for (const QList<int>& row : rows) {
            const auto level = LocalAudioCapture::levelOf(row[0]);
            QCOMPARE(QList<int>({int(level.uid), int(level.volume), int(level.vad)}),
                     QList<int>({0, row[1], row[2]}));
        }
    }

    // Silence keeps pace with the wall clock at 48 kHz, at most a second's worth at a time:
    // (elapsed ms, frames sent) -> frames due.
    void silenceFramesDue()
    {
        const QList<QList<qint64>> rows = {
            {40, 0, 1920}, {80, 1920, 1920}, {80, 3840, 0}, {80, 5000, 0}, {5000, 0, 48000}};
        for (const QList<qint64>& row : rows)
            QCOMPARE(LocalAudioCapture::silenceFramesDue(row[0], uint64_t(row[1])), uint64_t(row[2]));
    }

    // The chosen device must return itself; with none chosen, the lost one or any default does.
    void wantedDeviceIsBack()
    {
        const QList<GstAudioDevices::Device> usb = {{"Built-in", "builtin", false}, {"USB", "usb", false}};
        QList<GstAudioDevices::Device> newDefault = usb;
        newDefault[0].isDefault = true;
        QVERIFY(LocalAudioCapture::isBack(usb, "usb", "usb"));
        QVERIFY(!LocalAudioCapture::isBack(usb, "gone", "gone"));
        QVERIFY(!LocalAudioCapture::isBack(usb, "gone", "usb")); // the lost one does not count
        QVERIFY(!LocalAudioCapture::isBack(usb, "", "gone"));
        QVERIFY(LocalAudioCapture::isBack(usb, "", "usb"));
        QVERIFY(LocalAudioCapture::isBack(newDefault, "", "gone"));
        QVERIFY(!LocalAudioCapture::isBack(newDefault, "gone", "gone"));
    }
};

QTEST_GUILESS_MAIN(tst_LocalAudioCapture)
#include "tst_LocalAudioCapture.moc"
