#include "base/MuSettings.h"
#include "base/PlainIniFormat.h"
#include "base/ScrambleText.h"

#include "support/TestEnv.h"

#include <QtTest>

namespace {

void login(const QString& userId, const QString& account = QString())
{
    MuSettings::instance()->saveLogin(userId, "p", account);
}

int volumeOfTheUser()
{
    int volume = -1;
    return MuSettings::instance()->loadVolume(volume) == volume ? volume : -2; // both outputs agree
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
        MuSettings::destroyInstance(); // a fresh store reads the files, as another run of the program
        MuSettings::instance()->loadLogin(loaded[0], loaded[1]);
        QCOMPARE(loaded, QStringList({"b", "QEQ+QU8y"}));
        // Only the two keys are persisted; the account id is not.
        QCOMPARE(MuSettings::instance()->accountUserIdText(), QString());
        QCOMPARE(QSettings("MuVozedIvazerida.ini", QSettings::IniFormat).allKeys().size(), 2);
        MuSettings::instance()->saveLogin("", "secret", ""); // no user, no password
        MuSettings::destroyInstance();
        MuSettings::instance()->loadLogin(loaded[0], loaded[1]);
        QCOMPARE(loaded, QStringList({"", ""}));
    }

    // The smallest's negation does not fit 32 bits: computed wide instead of overflowing back to itself.
    // Too large or not a number leaves it unset; an empty account keeps it.
    void rtcUidIsTheNegatedAccountId()
    {
        const QList<QPair<QString, QString>> rows{
            {"2147483648", ""}, {"12a", ""}, {"12345", "-12345"}, {"-2147483648", "2147483648"}};
        for (const auto& [account, rtcUid] : rows) {
            QString channel, accountOut, uidOut;
            login("u", account);
            MuSettings::instance()->roomIdentity(channel, accountOut, uidOut);
            QCOMPARE(QStringList({accountOut, uidOut}), QStringList({account, rtcUid}));
            login("u");
            MuSettings::instance()->roomIdentity(channel, accountOut, uidOut);
            QCOMPARE(QStringList({accountOut, uidOut}), QStringList({"", rtcUid}));
        }
    }

    // A volume outside 0..100, not a whole number, damaged or not stored reads as full; each user
    // has their own, and another user's save leaves the line as it was, byte for byte.
    void storedVolume()
    {
        QList<QPair<QByteArray, int>> rows{{QByteArray(), 100}};
        for (const QByteArray& broken :
             {QByteArray("101"), QByteArray("-1"), QByteArray("1,2"), QByteArray("50.5"), kHugeList})
            rows.append({broken, 100});
        for (int kept : {0, 37, 100})
            rows.append({QByteArray::number(kept), kept});
        for (const auto& [stored, expected] : rows) {
            TestEnv::ScopedWorkDir dir;
            const QByteArray first = stored.isNull() ? QByteArray() : "[u0]\nvolume=" + stored + "\n\n";
            QVERIFY(TestEnv::writeFile("MuVozedIvazeridaTemp.ini", first + "[u1]\nvolume=42\n"));
            login("u0");
            QCOMPARE(QString(stored) + ' ' + QString::number(volumeOfTheUser()),
                     QString(stored) + ' ' + QString::number(expected));
            login("u1");
            QCOMPARE(volumeOfTheUser(), 42);
            MuSettings::instance()->saveVolume(43);
            MuSettings::destroyInstance();
            QCOMPARE(TestEnv::readBytes("MuVozedIvazeridaTemp.ini"), first + "[u1]\nvolume=43\n");
        }
    }

    // Known values computed outside this code (Base64 of UTF-8 XOR both keys): the round trip alone hides a
    // wrong key.
    void scrambleText()
    {
        // Plain and scrambled: each length of the last Base64 group, non-ASCII, longer than both keys
        // (A wraps at 20, B at 12); a damaged stored value (not Base64, a stray character, not UTF-8
        // after the keys) reads as no password.
        const QList<QPair<QString, QString>> rows{
            {"", ""},
            {"1", "QA=="},
            {"12", "QEQ="},
            {"123", "QEQ+"},
            {"密码abc", "lNmLktqFYGUU"},
            {QString(25, 'a'), "EBdsFBtlYGYWFmdlERBtEBxiZ2YREmkRYA=="},
            {"", "@@@not base64@@@"},
            {"", "QEQ+!QU8y"},
            {"", QString(QByteArray(1, char(0xFF ^ '3' ^ 'B')).toBase64())}};
        for (const auto& [plain, scrambled] : rows) {
            if (!plain.isEmpty() || scrambled.isEmpty())
                QCOMPARE(::scrambleText(plain, false), scrambled);
            QCOMPARE(::scrambleText(scrambled, true), plain);
        }
    }

    // Written by Qt's INI format and by ours: the same bytes; each reads the other's file back.
    void sameBytesAsQtIni()
    {
        // A scrambled password with padding, leading @ and @@, spaces, quotes and backslash, non-ASCII
        // then hex digits, controls and NUL, a negative volume, groups with odd characters or named general.
        const QList<QPair<QString, QVariant>> rows{{"password", "QEQ+QU8y/w=="},
                                                   {"userid", "@Variant(x)"},
                                                   {"userid", "@@a"},
                                                   {"userid", " a\"b\\c'd "},
                                                   {"userid", QString::fromUtf8("é中1aF g")},
                                                   {"userid", QString("a\tb\nc\u007fe") + QChar(0) + "1"},
                                                   {"10001/volume", -1},
                                                   {"a b%é中/volume", 7},
                                                   {"general/volume", 7}};
        for (const auto& [key, value] : rows) {
            TestEnv::ScopedWorkDir dir;
            {
                QSettings qt("qt.ini", QSettings::IniFormat);
                QSettings plain("plain.ini", PlainIniFormat::format());
                for (QSettings* s : {&qt, &plain}) {
                    s->setValue("zz/volume", 1); // a second section after it
                    s->setValue(key, value);
                }
            }
            QCOMPARE(TestEnv::readBytes("plain.ini"), TestEnv::readBytes("qt.ini"));
            QCOMPARE(QSettings("qt.ini", PlainIniFormat::format()).value(key).toString(), value.toString());
            QCOMPARE(QSettings("plain.ini", QSettings::IniFormat).value(key).toString(), value.toString());
        }
    }

    // A hand-edited, foreign or hostile file: what the store reads of it (a hostile value reads as
    // damaged: the store's fallback applies, the other values stay), as Qt reads it where Qt can
    // (not the hostile rows); reading alone changes nothing, and a later save replaces it.
    void handEditedLoginFile()
    {
        QList<QPair<QByteArray, QString>> rows{
            {"\xef\xbb\xbf; c\r\n[General]\r\nuserid = 7 ; c\r\n", "7"}, // CRLF, BOM, comments
            {"[x]\nuserid=7\n", ""},
            {QByteArray(1, '\0') + "\xff[\n=\n[General]\nuserid\nuserid=7\n", "7"}, // line without =
            {"[General]\n%U0075ser%69d=7\n", "7"},
            {"[General]\nuserid=\"7\\\"\"\n", "7\""},
            {"[General]\nuserid=@String(7)\n", "7"}, // text wrapped as Qt does
            {"[General]\nuserid=\xe9\n", QString(QChar(0xe9))}};
        // Hostile passwords: a huge list, written with @ escaped or octal, quoted, a byte array.
        for (const QByteArray& password :
             {kHugeList, QByteArray("\\x40Variant(\\0\\0\\0\\x31\\x7f\\xff\\xff\\xff)"),
              QByteArray("\\100Variant(\\0\\0\\0\\x31\\x7f\\xff\\xff\\xff)"),
              QByteArray("\"@Variant(\\0\\0\\0\\x31\\x7f\\xff\\xff\\xff)\""), QByteArray("@ByteArray(abc)")})
            rows.append({"[General]\npassword=" + password + "\nuserid=10001\n", "10001"});
        for (const auto& [file, userId] : rows) {
            TestEnv::ScopedWorkDir dir; // a path of its own: no cached read of an earlier file
            QVERIFY(TestEnv::writeFile("MuVozedIvazerida.ini", file));
            QString readId, password = "stale";
            MuSettings::instance()->loadLogin(readId, password);
            QCOMPARE(readId + '|' + password, userId + '|');
            if (!file.contains("password="))
                QCOMPARE(readId,
                         QSettings("MuVozedIvazerida.ini", QSettings::IniFormat).value("userid").toString());
            MuSettings::destroyInstance();
            QCOMPARE(TestEnv::readBytes("MuVozedIvazerida.ini"), file);
            MuSettings::instance()->saveLogin("10002", "cGFzcw==", QString());
            MuSettings::destroyInstance();
            QVERIFY(TestEnv::readBytes("MuVozedIvazerida.ini")
                        .contains("[General]\npassword=\"cGFzcw==\"\nuserid=10002\n"));
        }
    }
};

QTEST_GUILESS_MAIN(TestMuSettings)
#include "tst_musettings.moc"
