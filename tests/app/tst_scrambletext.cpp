#include "app/ScrambleText.h"

#include <QtTest>

// Known values were computed independently of this code (Base64 of the UTF-8 bytes XOR the two
// ASCII keys), so a wrong key, key length or alphabet shows up even though the round trip holds.
class TestScrambleText : public QObject
{
    Q_OBJECT

private slots:
    void knownValues_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("scrambled");
        QTest::newRow("digits") << QStringLiteral("123456") << QStringLiteral("QEQ+QU8y");
        QTest::newRow("padding") << QStringLiteral("password") << QStringLiteral("ARd+Bg1rc2M=");
        QTest::newRow("non-ascii") << QStringLiteral("密码abc") << QStringLiteral("lNmLktqFYGUU");
        // Longer than both keys: key A wraps at 20, key B at 12.
        QTest::newRow("wraps keys") << QString(25, QLatin1Char('a'))
                                    << QStringLiteral("EBdsFBtlYGYWFmdlERBtEBxiZ2YREmkRYA==");
    }

    void knownValues()
    {
        QFETCH(QString, plain);
        QFETCH(QString, scrambled);
        QCOMPARE(scrambleText(plain, false), scrambled);
        QCOMPARE(scrambleText(scrambled, true), plain);
    }

    void emptyStaysEmpty()
    {
        QVERIFY(scrambleText(QString(), false).isEmpty());
        QVERIFY(scrambleText(QString(), true).isEmpty());
        QVERIFY(!scrambleText(QStringLiteral(""), false).isNull());
    }

    void roundTripOfAwkwardTexts_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::newRow("emoji") << QStringLiteral("pw😀end");
        QTest::newRow("spaces and symbols") << QStringLiteral(" a=b&c/d+e ");
        QTest::newRow("long") << QString(1000, QChar(0x4E2D));
    }

    void roundTripOfAwkwardTexts()
    {
        QFETCH(QString, plain);
        const QString scrambled = scrambleText(plain, false);
        QVERIFY(scrambled != plain);
        QCOMPARE(scrambleText(scrambled, true), plain);
    }

    // A hand-edited or damaged INI value must not crash and must not become a garbage password.
    void brokenStoredValues_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::newRow("not base64") << QStringLiteral("@@@not base64@@@");
        QTest::newRow("plain password typed into the file") << QStringLiteral("my pass!");
        // Valid Base64 whose unscrambled bytes are not UTF-8 (0xFF after the keys).
        QTest::newRow("not utf-8") << QString::fromLatin1(QByteArray(1, char(0xFF ^ '3' ^ 'B')).toBase64());
    }

    void brokenStoredValues()
    {
        QFETCH(QString, stored);
        QCOMPARE(scrambleText(stored, true), QString());
    }
};

QTEST_APPLESS_MAIN(TestScrambleText)
#include "tst_scrambletext.moc"
