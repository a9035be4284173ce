#include "base/MuSettings.h"
#include "base/ScrambleText.h"

#include "support/TestEnv.h"

#include <QtTest>

namespace {

// A fresh store reading the INI files of the current directory (another run of the program).
MuSettings* freshStore()
{
    MuSettings::destroyInstance();
    return MuSettings::instance();
}

void login(const QString& userId, const QString& account = QString())
{
    MuSettings::instance()->saveLogin(userId, "p", account);
}

int volumeOfTheUser()
{
    int volume = -1;
    return MuSettings::instance()->loadVolume(volume) == volume ? volume : -2; // both outputs agree
}

} // namespace

class TestMuSettings : public QObject
{
    Q_OBJECT

    QScopedPointer<TestEnv::ScopedWorkDir> m_dir;

private slots:
    void init() { m_dir.reset(new TestEnv::ScopedWorkDir); }

    void cleanup()
    {
        MuSettings::destroyInstance();
        m_dir.reset();
    }

    void loginSurvivesARestart()
    {
        QStringList loaded = {"stale", "stale"};
        MuSettings::instance()->saveLogin("a", "pa", "777");
        MuSettings::instance()->saveLogin("b", "QEQ+QU8y", "777"); // only the last is remembered
        freshStore()->loadLogin(loaded[0], loaded[1]);
        QCOMPARE(loaded, QStringList({"b", "QEQ+QU8y"}));
        // Only the two keys are persisted; the account id is not.
        QCOMPARE(MuSettings::instance()->accountUserIdText(), QString());
        QCOMPARE(QSettings("MuVozedIvazerida.ini", QSettings::IniFormat).allKeys().size(), 2);
        MuSettings::instance()->saveLogin("", "secret", ""); // no user, no password
        freshStore()->loadLogin(loaded[0], loaded[1]);
        QCOMPARE(loaded, QStringList({"", ""}));
    }

    void rtcUidIsTheNegatedAccountId_data()
    {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("rtcUid");
        QTest::newRow("positive") << QStringLiteral("12345") << "-12345";
        QTest::newRow("negative") << QStringLiteral("-5") << "5";
        QTest::newRow("zero") << QStringLiteral("0") << "0";
        QTest::newRow("largest") << QStringLiteral("2147483647") << "-2147483647";
        // Its negation does not fit 32 bits: computed wide instead of overflowing back to itself.
        QTest::newRow("smallest") << QStringLiteral("-2147483648") << "2147483648";
        QTest::newRow("too large leaves it unset") << "2147483648" << QString();
        QTest::newRow("not a number leaves it unset") << "12a" << QString();
    }

    void rtcUidIsTheNegatedAccountId()
    {
        QFETCH(QString, account);
        QFETCH(QString, rtcUid);
        login("u", account);
        QString channel, accountOut, uidOut;
        MuSettings::instance()->roomIdentity(channel, accountOut, uidOut);
        QCOMPARE(QStringList({accountOut, uidOut}), QStringList({account, rtcUid}));
        login("u"); // an empty account keeps the identifier
        MuSettings::instance()->roomIdentity(channel, accountOut, uidOut);
        QCOMPARE(QStringList({accountOut, uidOut}), QStringList({"", rtcUid}));
    }

    // A volume outside 0..100, not a whole number or not stored reads as full; each user has their own.
    void storedVolume_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("expected");
        for (const char* broken : {"150", "-1", "abc", "1, 2", "50.5", ""})
            QTest::newRow(broken) << QByteArray(broken) << 100;
        QTest::newRow("none stored") << QByteArray() << 100;
        for (int kept : {0, 37, 100})
            QTest::newRow(QByteArray::number(kept)) << QByteArray::number(kept) << kept;
    }

    void storedVolume()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, expected);
        QFile temp("MuVozedIvazeridaTemp.ini");
        QVERIFY(temp.open(QIODevice::WriteOnly) &&
                temp.write("[u0]\nvolume=55\n" +
                           (stored.isNull() ? QByteArray() : "[u1]\nvolume=" + stored + "\n")));
        temp.close();
        login("u1");
        QCOMPARE(volumeOfTheUser(), expected);
        MuSettings::instance()->saveVolume(30);
        MuSettings::destroyInstance();
        QSettings ini("MuVozedIvazeridaTemp.ini", QSettings::IniFormat);
        QCOMPARE(ini.value("u0/volume").toInt(), 55);
        QCOMPARE(ini.value("u1/volume").toInt(), 30);
    }

    void md5Hex()
    {
        QCOMPARE(MuSettings::md5Hex(QString()), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
        QCOMPARE(MuSettings::md5Hex("123456"), QStringLiteral("e10adc3949ba59abbe56e057f20f883e"));
        QCOMPARE(MuSettings::md5Hex("中文密码"), QStringLiteral("3d4acf94adca8562b4990599b15488de"));
    }

    // Stored passwords are scrambled. Known values were computed independently of this code (Base64
    // of the UTF-8 bytes XOR the two ASCII keys), so a wrong key, key length or alphabet shows up
    // even though the round trip holds.
    void scrambleText_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("scrambled");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("digits") << QStringLiteral("123456") << "QEQ+QU8y";
        QTest::newRow("padding") << QStringLiteral("password") << "ARd+Bg1rc2M=";
        QTest::newRow("non-ascii") << QStringLiteral("密码abc") << "lNmLktqFYGUU";
        // Longer than both keys: key A wraps at 20, key B at 12.
        QTest::newRow("wraps keys") << QString(25, 'a') << "EBdsFBtlYGYWFmdlERBtEBxiZ2YREmkRYA==";
        // A hand-edited or damaged stored value must not become a garbage password.
        QTest::newRow("not base64") << QString() << "@@@not base64@@@";
        QTest::newRow("plain password typed into the file") << QString() << "my pass!";
        // Valid Base64 whose unscrambled bytes are not UTF-8 (0xFF after the keys).
        QTest::newRow("not utf-8") << QString() << QString(QByteArray(1, char(0xFF ^ '3' ^ 'B')).toBase64());
    }

    void scrambleText()
    {
        QFETCH(QString, plain);
        QFETCH(QString, scrambled);
        if (!plain.isEmpty() || scrambled.isEmpty())
            QCOMPARE(::scrambleText(plain, false), scrambled);
        QCOMPARE(::scrambleText(scrambled, true), plain);
    }
};

QTEST_GUILESS_MAIN(TestMuSettings)
#include "tst_musettings.moc"
