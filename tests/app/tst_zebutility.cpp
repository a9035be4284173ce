#include "app/zebUtility.h"

#include "support/TestEnv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QUrlQuery>
#include <QtTest>

using zebUtility::InterfaceRecord;

namespace {

InterfaceRecord record(const QString& name, const QString& address, bool loopback = false)
{
    InterfaceRecord r;
    r.name = name;
    r.hardwareAddress = address;
    r.isLoopback = loopback;
    return r;
}

} // namespace

class TestZebUtility : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { zebUtility::setInterfaceSource({}); }

    // --- device identifier ---

    void macAddressSkipsLoopbackAndVmware()
    {
        zebUtility::setInterfaceSource([] {
            return QList<InterfaceRecord>{record("lo", "00:00:00:00:00:00", true),
                                          record("VMware Network Adapter VMnet8", "00:50:56:C0:00:08"),
                                          record("eth0", "52:54:00:12:34:56"),
                                          record("wlan0", "AA:BB:CC:DD:EE:FF")};
        });
        QCOMPARE(zebUtility::macAddress(), QStringLiteral("52:54:00:12:34:56"));
    }

    void macAddressTakesFirstLeftEvenWhenEmpty()
    {
        // Neither "up" nor a non-empty address is required of the first interface left.
        zebUtility::setInterfaceSource([] {
            return QList<InterfaceRecord>{record("tun0", QString()), record("eth0", "52:54:00:12:34:56")};
        });
        QCOMPARE(zebUtility::macAddress(), QString());
    }

    void macAddressEmptyWhenOnlyVmwareInLowerCase()
    {
        zebUtility::setInterfaceSource([] {
            return QList<InterfaceRecord>{record("lo", "00:00:00:00:00:00", true),
                                          record("my vmware bridge", "00:50:56:C0:00:01")};
        });
        QTest::ignoreMessage(QtInfoMsg, "MAC====");
        QCOMPARE(zebUtility::macAddress(), QString());
    }

    void macAddressLogsResult()
    {
        zebUtility::setInterfaceSource(
            [] { return QList<InterfaceRecord>{record("eth0", "52:54:00:12:34:56")}; });
        QTest::ignoreMessage(QtInfoMsg, "MAC====52:54:00:12:34:56");
        zebUtility::macAddress();
    }

    // --- signed query ---

    void signedQuerySortsForTheDigestButKeepsCallerOrder()
    {
        const QString query = zebUtility::signedQuery({{"b", "2"}, {"a", "1"}}, QStringLiteral("K"));
        // md5("a=1&b=2K")
        QCOMPARE(query, QStringLiteral("b=2&a=1&sign=c3ade36f19be6d39bae19ed4e8673071"));
    }

    void signedQueryRepeatedKeySignsLaterValueSendsBoth()
    {
        const QString query =
            zebUtility::signedQuery({{"a", "1"}, {"b", "2"}, {"a", "3"}}, QStringLiteral("K"));
        // md5("a=3&b=2K")
        QCOMPARE(query, QStringLiteral("a=1&b=2&a=3&sign=e875a57453f6adba605c2025ebed28a9"));
    }

    void signedQueryEmptyKey()
    {
        // md5("a=1&b=2")
        QCOMPARE(zebUtility::signedQuery({{"b", "2"}, {"a", "1"}}, QString()),
                 QStringLiteral("b=2&a=1&sign=ed04c91cf6f6ab5a01a31c0295c5da34"));
    }

    void signedQueryUsesUtf8OfDecodedText()
    {
        const QString query =
            zebUtility::signedQuery({{"name", "中文"}, {"deviceId", "aa:bb"}}, QStringLiteral("key"));
        QVERIFY(query.endsWith(QStringLiteral("sign=00afcd489ce25adedc1782c55d060bcc")));
    }

    void signedQueryValueCannotInjectParameters()
    {
        const QString query =
            zebUtility::signedQuery({{"a", "x&sign=forged"}, {"b", "y=z"}}, QStringLiteral("K"));
        const QUrlQuery parsed(query);
        QCOMPARE(parsed.queryItems(QUrl::FullyDecoded).size(), 3);
        QCOMPARE(parsed.queryItemValue(QStringLiteral("a"), QUrl::FullyDecoded),
                 QStringLiteral("x&sign=forged"));
        QCOMPARE(parsed.queryItemValue(QStringLiteral("b"), QUrl::FullyDecoded), QStringLiteral("y=z"));
        QCOMPARE(parsed.allQueryItemValues(QStringLiteral("sign")).size(), 1);
    }

    // --- image size ---

    void checkImageSizeSimpleAnswers()
    {
        TestEnv::ScopedWorkDir dir;
        QVERIFY(!zebUtility::checkImageSize(QString(), QSize(10, 10)));
        QVERIFY(zebUtility::checkImageSize(QStringLiteral(":/default.jpg"), QSize(1, 1)));
        QTest::ignoreMessage(QtInfoMsg, "[zebUtility::checkImageSize][file not exist]: \"missing.png\"");
        QVERIFY(!zebUtility::checkImageSize(QStringLiteral("missing.png"), QSize(10, 10)));

        QFile junk(QStringLiteral("junk.png"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("this is no picture");
        junk.close();
        QTest::ignoreMessage(QtInfoMsg, "[zebUtility::checkImageSize][file cant read]: \"junk.png\"");
        QVERIFY(!zebUtility::checkImageSize(QStringLiteral("junk.png"), QSize(10, 10)));
        QCOMPARE(TestEnv::readText(QStringLiteral("junk.png")), QStringLiteral("this is no picture"));
    }

    void checkImageSizeShrinksInPlaceKeepingAspectAndFormat()
    {
        TestEnv::ScopedWorkDir dir;
        QImage image(400, 200, QImage::Format_RGB32);
        image.fill(Qt::red);
        // Named .png but JPEG inside: the format comes from the content and is kept.
        QVERIFY(image.save(QStringLiteral("photo.png"), "JPG"));
        QVERIFY(zebUtility::checkImageSize(QStringLiteral("photo.png"), QSize(100, 100)));
        QImageReader reader(QStringLiteral("photo.png"));
        reader.setDecideFormatFromContent(true);
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        QCOMPARE(reader.size(), QSize(100, 50));
    }

    void checkImageSizeWritesGifBackAsPng()
    {
        // Qt cannot write GIF: a shrunk GIF is written as PNG under the same name.
        TestEnv::ScopedWorkDir dir;
        const unsigned char gif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x04, 0x00, 0x02, 0x00, 0xf0,
                                     0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0xf9, 0x04,
                                     0x00, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x04,
                                     0x00, 0x02, 0x00, 0x00, 0x02, 0x03, 0x84, 0x6f, 0x05, 0x00, 0x3b};
        QFile file(QStringLiteral("red.gif"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(gif), sizeof gif);
        file.close();
        QVERIFY(zebUtility::checkImageSize(QStringLiteral("red.gif"), QSize(2, 2)));
        QImageReader reader(QStringLiteral("red.gif"));
        reader.setDecideFormatFromContent(true);
        QCOMPARE(reader.format(), QByteArray("png"));
        QCOMPARE(reader.size(), QSize(2, 1));
    }

    void checkImageSizeLeavesFittingImageAlone()
    {
        TestEnv::ScopedWorkDir dir;
        QImage image(50, 50, QImage::Format_ARGB32);
        image.fill(Qt::blue);
        QVERIFY(image.save(QStringLiteral("small.gif.png")));
        QFile file(QStringLiteral("small.gif.png"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        QVERIFY(zebUtility::checkImageSize(QStringLiteral("small.gif.png"), QSize(50, 50)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }

    void checkImageSizeWithEmptyLimitKeepsTheFile()
    {
        TestEnv::ScopedWorkDir dir;
        QImage image(20, 20, QImage::Format_RGB32);
        image.fill(Qt::green);
        QVERIFY(image.save(QStringLiteral("pic.png")));
        const qint64 size = QFileInfo(QStringLiteral("pic.png")).size();
        QVERIFY(!zebUtility::checkImageSize(QStringLiteral("pic.png"), QSize(0, 0)));
        QCOMPARE(QFileInfo(QStringLiteral("pic.png")).size(), size);
        QCOMPARE(QImage(QStringLiteral("pic.png")).size(), QSize(20, 20));
    }

    // --- small helpers ---

    void formatCount_data()
    {
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("expected");
        QTest::newRow("negative") << qint64(-5) << QStringLiteral("0票");
        QTest::newRow("zero") << qint64(0) << QStringLiteral("0票");
        QTest::newRow("below ten thousand") << qint64(9999) << QStringLiteral("9999票");
        QTest::newRow("ten thousand") << qint64(10000) << QStringLiteral("1.00W票");
        QTest::newRow("rounded") << qint64(123456) << QStringLiteral("12.35W票");
        QTest::newRow("hundred million") << qint64(100000000) << QStringLiteral("1.00E票");
        QTest::newRow("huge") << qint64(456700000000) << QStringLiteral("4567.00E票");
    }

    void formatCount()
    {
        QFETCH(qint64, count);
        QFETCH(QString, expected);
        QString out = QStringLiteral("previous text");
        zebUtility::formatCount(count, out);
        QCOMPARE(out, expected);
    }

    void listFilesPlainFilesOnly()
    {
        TestEnv::ScopedWorkDir dir;
        QVERIFY(QDir().mkpath(QStringLiteral("f/sub")));
        for (const char* name : {"f/a.txt", "f/b.png", "f/c.txt"}) {
            QFile file(QString::fromLatin1(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(QStringLiteral("a.txt"), QStringLiteral("f/link.txt")));
        QStringList all = zebUtility::listFiles(QStringLiteral("f"), {});
        all.sort();
        QCOMPARE(all, QStringList({"a.txt", "b.png", "c.txt"}));
        QStringList texts = zebUtility::listFiles(QStringLiteral("f"), {QStringLiteral("*.txt")});
        texts.sort();
        QCOMPARE(texts, QStringList({"a.txt", "c.txt"}));
        QVERIFY(zebUtility::listFiles(QStringLiteral("nowhere"), {}).isEmpty());
        QVERIFY(zebUtility::listFiles(QString(), {}).isEmpty());
    }

    void kernelReleaseParsing_data()
    {
        QTest::addColumn<QString>("release");
        QTest::addColumn<QString>("expected");
        QTest::newRow("debian") << QStringLiteral("6.1.0-18-amd64") << QStringLiteral("6.1.0");
        QTest::newRow("three parts") << QStringLiteral("6.18.44-fc-v1272") << QStringLiteral("6.18.44");
        QTest::newRow("two parts") << QStringLiteral("5.10") << QStringLiteral("5.10.0");
        QTest::newRow("suffix on minor") << QStringLiteral("4.19-rc1") << QStringLiteral("4.19.0");
        QTest::newRow("garbage") << QStringLiteral("abc") << QString();
        QTest::newRow("empty") << QString() << QString();
    }

    void kernelReleaseParsing()
    {
        QFETCH(QString, release);
        QFETCH(QString, expected);
        QCOMPARE(zebUtility::versionFromKernelRelease(release), expected);
    }

    void systemVersionIsCachedAndWellFormed()
    {
        const QString version = zebUtility::getWindowsVersion();
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$")).match(version).hasMatch(),
                 qPrintable(version));
        QCOMPARE(zebUtility::getWindowsVersion(), version);
    }

    void waitMsRunsEventsAndReturns()
    {
        bool fired = false;
        QTimer::singleShot(10, [&fired] { fired = true; });
        QElapsedTimer clock;
        clock.start();
        zebUtility::waitMs(50);
        QVERIFY(fired);
        QVERIFY(clock.elapsed() >= 45);
        zebUtility::waitMs(-1); // returns instead of waiting forever
    }

    void isPhoneNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("13x") << QStringLiteral("13812345678") << true;
        QTest::newRow("177") << QStringLiteral("17712345678") << true;
        QTest::newRow("199") << QStringLiteral("19912345678") << true;
        QTest::newRow("140 not allowed") << QStringLiteral("14012345678") << false;
        QTest::newRow("174 not allowed") << QStringLiteral("17412345678") << false;
        QTest::newRow("too short") << QStringLiteral("1381234567") << false;
        QTest::newRow("prefix of a valid number") << QStringLiteral("138") << false;
        QTest::newRow("empty") << QString() << false;
    }

    void isPhoneNumber()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QCOMPARE(zebUtility::isPhoneNumber(text), accepted);
    }
};

QTEST_MAIN(TestZebUtility)
#include "tst_zebutility.moc"
