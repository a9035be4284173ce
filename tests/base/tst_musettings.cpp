#include "base/MuSettings.h"
#include "base/PlainIniFormat.h"
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

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

// The crafted value that made Qt allocate a list of 2^31 elements.
const QByteArray kHugeList = "@Variant(\\0\\0\\0\\x31\\x7f\\xff\\xff\\xff)";

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

    // A volume outside 0..100, not a whole number, damaged or not stored reads as full; each user
    // has their own, and another user's save leaves the line as it was, byte for byte.
    void storedVolume_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("expected");
        for (const QByteArray& broken :
             {QByteArray("101"), QByteArray("-1"), QByteArray("1,2"), QByteArray("50.5"), kHugeList})
            QTest::newRow(broken.constData()) << broken << 100;
        QTest::newRow("none stored") << QByteArray() << 100;
        for (int kept : {0, 37, 100})
            QTest::newRow(QByteArray::number(kept)) << QByteArray::number(kept) << kept;
    }

    void storedVolume()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, expected);
        const QByteArray first = stored.isNull() ? QByteArray() : "[u0]\nvolume=" + stored + "\n\n";
        writeFile("MuVozedIvazeridaTemp.ini", first + "[u1]\nvolume=42\n");
        login("u0");
        QCOMPARE(volumeOfTheUser(), expected);
        login("u1");
        QCOMPARE(volumeOfTheUser(), 42);
        MuSettings::instance()->saveVolume(43);
        MuSettings::destroyInstance();
        QCOMPARE(fileBytes("MuVozedIvazeridaTemp.ini"), first + "[u1]\nvolume=43\n");
    }

    // Stored passwords are scrambled. Known values were computed independently of this code (Base64
    // of the UTF-8 bytes XOR the two ASCII keys), so a wrong key, key length or alphabet shows up
    // even though the round trip holds.
    void scrambleText_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("scrambled");
        QTest::newRow("empty") << QString() << QString();
        // Every length of the last Base64 group: two, one and no padding characters.
        QTest::newRow("1") << QStringLiteral("1") << "QA==";
        QTest::newRow("2") << QStringLiteral("12") << "QEQ=";
        QTest::newRow("3") << QStringLiteral("123") << "QEQ+";
        QTest::newRow("non-ascii") << QStringLiteral("密码abc") << "lNmLktqFYGUU";
        // Longer than both keys: key A wraps at 20, key B at 12.
        QTest::newRow("wraps keys") << QString(25, 'a') << "EBdsFBtlYGYWFmdlERBtEBxiZ2YREmkRYA==";
        // A hand-edited or damaged stored value must not become a garbage password.
        QTest::newRow("not base64") << QString() << "@@@not base64@@@";
        QTest::newRow("a stray character") << QString() << "QEQ+!QU8y"; // not read past it
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

    // The files are in the plain-text INI format: byte for byte what Qt's INI format writes for
    // every text and number we store, and no stored value ever deserialised.
    // Written by Qt's INI format and by ours: the same bytes; each reads the other's file back.
    void sameBytesAsQtIni_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("scrambled password with padding") << "password" << QVariant("QEQ+QU8y/w==");
        QTest::newRow("leading @") << "userid" << QVariant("@Variant(x)");
        QTest::newRow("leading @@") << "userid" << QVariant("@@a");
        QTest::newRow("spaces, quotes and backslash") << "userid" << QVariant(" a\"b\\c'd ");
        QTest::newRow("non-ASCII then hex digits") << "userid" << QVariant(QString::fromUtf8("é中1aF g"));
        QTest::newRow("controls and NUL") << "userid" << QVariant(QString("a\tb\nc\u007fe") + QChar(0) + "1");
        QTest::newRow("volume -1") << "10001/volume" << QVariant(-1);
        QTest::newRow("group with odd characters") << "a b%é中/volume" << QVariant(7);
        QTest::newRow("group named general") << "general/volume" << QVariant(7);
    }

    void sameBytesAsQtIni()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        {
            QSettings qt("qt.ini", QSettings::IniFormat);
            QSettings plain("plain.ini", PlainIniFormat::format());
            for (QSettings* s : {&qt, &plain}) {
                s->setValue("zz/volume", 1); // a second section after it
                s->setValue(key, value);
            }
        }
        QCOMPARE(fileBytes("plain.ini"), fileBytes("qt.ini"));
        QCOMPARE(QSettings("qt.ini", PlainIniFormat::format()).value(key).toString(), value.toString());
        QCOMPARE(QSettings("plain.ini", QSettings::IniFormat).value(key).toString(), value.toString());
    }

    // A hand-edited, foreign or hostile file: what the store reads of it (a hostile value reads as
    // damaged: the store's fallback applies, the other values stay), as Qt reads it where Qt can
    // (not the hostile rows); reading alone changes nothing, and a later save replaces it.
    void handEditedLoginFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("userId");
        auto hostile = [](const char* name, const QByteArray& password) {
            QTest::newRow(name) << "[General]\npassword=" + password + "\nuserid=10001\n"
                                << "10001";
        };
        hostile("huge list", kHugeList);
        hostile("escaped @", "\\x40Variant(\\0\\0\\0\\x31\\x7f\\xff\\xff\\xff)");
        hostile("octal @", "\\100Variant(\\0\\0\\0\\x31\\x7f\\xff\\xff\\xff)");
        hostile("quoted", "\"@Variant(\\0\\0\\0\\x31\\x7f\\xff\\xff\\xff)\"");
        hostile("byte array", "@ByteArray(abc)");
        QTest::newRow("CRLF, BOM, comments")
            << QByteArray("\xef\xbb\xbf; c\r\n[General]\r\nuserid = 7 ; c\r\n") << "7";
        QTest::newRow("other section only") << QByteArray("[x]\nuserid=7\n") << "";
        QTest::newRow("binary junk, line without =")
            << (QByteArray(1, '\0') + "\xff[\n=\n[General]\nuserid\nuserid=7\n") << "7";
        QTest::newRow("key in %U escapes") << QByteArray("[General]\n%U0075ser%69d=7\n") << "7";
        QTest::newRow("escaped quote inside quotes") << QByteArray("[General]\nuserid=\"7\\\"\"\n") << "7\"";
        QTest::newRow("text wrapped as Qt does") << QByteArray("[General]\nuserid=@String(7)\n") << "7";
        QTest::newRow("Latin-1 bytes") << QByteArray("[General]\nuserid=\xe9\n") << QString(QChar(0xe9));
    }

    void handEditedLoginFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, userId);
        writeFile("MuVozedIvazerida.ini", file);
        QString readId, password = "stale";
        MuSettings::instance()->loadLogin(readId, password);
        QCOMPARE(readId + '|' + password, userId + '|');
        if (!file.contains("password="))
            QCOMPARE(readId,
                     QSettings("MuVozedIvazerida.ini", QSettings::IniFormat).value("userid").toString());
        MuSettings::destroyInstance();
        QCOMPARE(fileBytes("MuVozedIvazerida.ini"), file);
        MuSettings::instance()->saveLogin("10002", "cGFzcw==", QString());
        MuSettings::destroyInstance();
        QVERIFY(
            fileBytes("MuVozedIvazerida.ini").contains("[General]\npassword=\"cGFzcw==\"\nuserid=10002\n"));
    }
};

QTEST_GUILESS_MAIN(TestMuSettings)
#include "tst_musettings.moc"
