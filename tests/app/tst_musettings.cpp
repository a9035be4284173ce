#include "app/MuSettings.h"

#include "support/TestEnv.h"

#include <QFile>
#include <QSettings>
#include <QtTest>

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// A fresh store reading the INI files of the current directory (another run of the program).
MuSettings* freshStore()
{
    MuSettings::destroy();
    return MuSettings::instance();
}

} // namespace

class TestMuSettings : public QObject
{
    Q_OBJECT

private:
    TestEnv::ScopedWorkDir* m_dir = nullptr;

private slots:
    void init() { m_dir = new TestEnv::ScopedWorkDir; }

    void cleanup()
    {
        MuSettings::destroy();
        delete m_dir;
        m_dir = nullptr;
    }

    // --- login data ---

    void missingFilesGiveEmptyLoginAndFullVolume()
    {
        QString userId = QStringLiteral("stale"), password = QStringLiteral("stale");
        MuSettings::instance()->loadLogin(userId, password);
        QVERIFY(userId.isEmpty());
        QVERIFY(password.isEmpty());
        int volume = -7;
        QCOMPARE(MuSettings::instance()->loadVolume(volume), 100);
        QCOMPARE(volume, 100);
    }

    void loginSurvivesARestart()
    {
        MuSettings::instance()->saveLogin(QStringLiteral("10001"), QStringLiteral("QEQ+QU8y"),
                                          QStringLiteral("777"));
        QString userId, password;
        freshStore()->loadLogin(userId, password);
        QCOMPARE(userId, QStringLiteral("10001"));
        QCOMPARE(password, QStringLiteral("QEQ+QU8y"));
        // Only the two keys are persisted; the account id is not.
        QCOMPARE(MuSettings::instance()->accountUserIdText(), QString());
        QSettings ini(QStringLiteral("MuVozedIvazerida.ini"), QSettings::IniFormat);
        QCOMPARE(ini.allKeys().size(), 2);
        QCOMPARE(ini.value(QStringLiteral("userid")).toString(), QStringLiteral("10001"));
    }

    void emptyUserIdStoresEmptyPassword()
    {
        MuSettings::instance()->saveLogin(QString(), QStringLiteral("secret"), QString());
        QString userId, password;
        freshStore()->loadLogin(userId, password);
        QVERIFY(userId.isEmpty());
        QVERIFY(password.isEmpty());
    }

    void onlyTheLastLoginIsRemembered()
    {
        MuSettings::instance()->saveLogin(QStringLiteral("a"), QStringLiteral("pa"), QString());
        MuSettings::instance()->saveLogin(QStringLiteral("b"), QStringLiteral("pb"), QString());
        QString userId, password;
        freshStore()->loadLogin(userId, password);
        QCOMPARE(userId, QStringLiteral("b"));
        QCOMPARE(password, QStringLiteral("pb"));
    }

    // --- room identity ---

    void rtcUidIsTheNegatedAccountId_data()
    {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("rtcUid");
        QTest::newRow("positive") << QStringLiteral("12345") << QStringLiteral("-12345");
        QTest::newRow("negative") << QStringLiteral("-5") << QStringLiteral("5");
        QTest::newRow("zero") << QStringLiteral("0") << QStringLiteral("0");
        QTest::newRow("largest") << QStringLiteral("2147483647") << QStringLiteral("-2147483647");
        // Its negation does not fit 32 bits: computed wide instead of overflowing back to itself.
        QTest::newRow("smallest") << QStringLiteral("-2147483648") << QStringLiteral("2147483648");
        QTest::newRow("too large leaves it unset") << QStringLiteral("2147483648") << QString();
        QTest::newRow("not a number leaves it unset") << QStringLiteral("12a") << QString();
    }

    void rtcUidIsTheNegatedAccountId()
    {
        QFETCH(QString, account);
        QFETCH(QString, rtcUid);
        MuSettings::instance()->saveLogin(QStringLiteral("u"), QStringLiteral("p"), account);
        QString channel, accountOut, uidOut;
        MuSettings::instance()->roomIdentity(channel, accountOut, uidOut);
        QCOMPARE(accountOut, account);
        QCOMPARE(uidOut, rtcUid);
    }

    void emptyAccountKeepsTheRtcUid()
    {
        MuSettings* store = MuSettings::instance();
        store->saveLogin(QStringLiteral("u"), QStringLiteral("p"), QStringLiteral("12345"));
        store->setChannelName(QStringLiteral("room-9"));
        store->saveLogin(QStringLiteral("u"), QStringLiteral("p"), QString());
        QString channel, account, uid;
        store->roomIdentity(channel, account, uid);
        QCOMPARE(channel, QStringLiteral("room-9"));
        QCOMPARE(account, QString());
        QCOMPARE(uid, QStringLiteral("-12345"));
    }

    // --- volume ---

    void storedVolumeOutsideTheRangeReadsAsFull_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("150") << QByteArray("150") << 100;
        QTest::newRow("-1") << QByteArray("-1") << 100;
        QTest::newRow("abc") << QByteArray("abc") << 100;
        QTest::newRow("list") << QByteArray("1, 2") << 100;
        QTest::newRow("fraction") << QByteArray("50.5") << 100;
        QTest::newRow("empty") << QByteArray("") << 100;
        QTest::newRow("0") << QByteArray("0") << 0;
        QTest::newRow("100") << QByteArray("100") << 100;
        QTest::newRow("37") << QByteArray("37") << 37;
    }

    void storedVolumeOutsideTheRangeReadsAsFull()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, expected);
        writeFile(QStringLiteral("MuVozedIvazerida.ini"), "userid=u1\n");
        writeFile(QStringLiteral("MuVozedIvazeridaTemp.ini"), "[u1]\nvolume=" + stored + "\n");
        MuSettings* store = freshStore();
        QString userId, password;
        store->loadLogin(userId, password);
        int volume = -1;
        QCOMPARE(store->loadVolume(volume), expected);
        QCOMPARE(volume, expected);
    }

    void usersKeepSeparateVolumes()
    {
        MuSettings* store = MuSettings::instance();
        store->saveLogin(QStringLiteral("alice"), QStringLiteral("p"), QString());
        store->saveVolume(20);
        store->saveLogin(QStringLiteral("bob"), QStringLiteral("p"), QString());
        store->saveVolume(80);

        store = freshStore();
        int volume = 0;
        store->saveLogin(QStringLiteral("alice"), QStringLiteral("p"), QString());
        QCOMPARE(store->loadVolume(volume), 20);
        store->saveLogin(QStringLiteral("bob"), QStringLiteral("p"), QString());
        QCOMPARE(store->loadVolume(volume), 80);
        QSettings temp(QStringLiteral("MuVozedIvazeridaTemp.ini"), QSettings::IniFormat);
        QCOMPARE(temp.value(QStringLiteral("alice/volume")).toInt(), 20);
    }

    void volumeWrittenByAnotherRunIsSeen()
    {
        MuSettings* store = MuSettings::instance();
        store->saveLogin(QStringLiteral("u1"), QStringLiteral("p"), QString());
        int volume = 0;
        QCOMPARE(store->loadVolume(volume), 100);
        {
            QSettings other(QStringLiteral("MuVozedIvazeridaTemp.ini"), QSettings::IniFormat);
            other.setValue(QStringLiteral("u1/volume"), 64);
        }
        QCOMPARE(store->loadVolume(volume), 64);
    }

    void brokenIniKeepsOtherUsersVolumes()
    {
        writeFile(QStringLiteral("MuVozedIvazerida.ini"), "userid=u2\npassword=@@not base64@@\n");
        writeFile(QStringLiteral("MuVozedIvazeridaTemp.ini"), "[u1]\nvolume=55\n[u2]\nvolume=garbage\n");
        MuSettings* store = freshStore();
        QString userId, password;
        store->loadLogin(userId, password);
        int volume = 0;
        QCOMPARE(store->loadVolume(volume), 100);
        store->saveVolume(30);
        MuSettings::destroy();
        QSettings temp(QStringLiteral("MuVozedIvazeridaTemp.ini"), QSettings::IniFormat);
        QCOMPARE(temp.value(QStringLiteral("u1/volume")).toInt(), 55);
        QCOMPARE(temp.value(QStringLiteral("u2/volume")).toInt(), 30);
    }

    // --- digest ---

    void md5Hex_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("digest");
        QTest::newRow("empty") << QString() << QStringLiteral("d41d8cd98f00b204e9800998ecf8427e");
        QTest::newRow("digits") << QStringLiteral("123456")
                                << QStringLiteral("e10adc3949ba59abbe56e057f20f883e");
        QTest::newRow("utf-8") << QStringLiteral("中文密码")
                               << QStringLiteral("3d4acf94adca8562b4990599b15488de");
    }

    void md5Hex()
    {
        QFETCH(QString, text);
        QFETCH(QString, digest);
        QCOMPARE(MuSettings::md5Hex(text), digest);
    }
};

QTEST_GUILESS_MAIN(TestMuSettings)
#include "tst_musettings.moc"
