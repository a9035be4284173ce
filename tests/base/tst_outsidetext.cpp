#include "base/OutsideText.h"

#include <QtTest>

// Outside texts: what is shown of them and how they are cut for the log.
class TestOutsideText : public QObject
{
    Q_OBJECT

private slots:
    void display_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        auto row = [](const char* name, const QString& text, const QString& shown) {
            QTest::newRow(name) << text << shown;
        };
        row("plain", "用户ID密码不正确", "用户ID密码不正确");
        row("markup stays literal", "<b>x</b>&amp;", "<b>x</b>&amp;");
        row("every embedding and override", "\u202ab\u202bc\u202cd\u202de\u202ef", "bcdef");
        row("isolates", "a\u2066b\u2067c\u2068d\u2069e", "abcde");
        row("marks, separators and BOM", "a\u200eb\u200fc\u061cd\u2028e\u2029f\ufeffg", "abcdefg");
        row("line breaks become spaces", "a\r\nb\nc\td", "a  b c d");
        row("C0, DEL and C1", QString("a") + QChar(0) + "b\u0007c\u007fd\u0080e\u009ff", "abcdef");
        row("joiners and non-breaking space kept", "a\u200db\u200cc\u00a0d", "a\u200db\u200cc\u00a0d");
    }

    void display()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(OutsideText::forDisplay(text), shown);
    }

    // The cut lands on a character boundary at or below the cap, wherever a multi-byte
    // character straddles it; the note carries the full length.
    void logCut_data()
    {
        QTest::addColumn<QByteArray>("utf8");
        QTest::addColumn<int>("cap");
        QTest::addColumn<int>("keptBytes"); // -1: unchanged, no note
        const QByteArray three = QString("长").toUtf8();
        const QByteArray four = QString("😀").toUtf8();
        QTest::newRow("exactly the cap") << QByteArray(2048, 'a') << 2048 << -1;
        QTest::newRow("one over") << QByteArray(2049, 'a') << 2048 << 2048;
        QTest::newRow("3-byte char ends at cap") << QByteArray(2045, 'a') + three + "b" << 2048 << 2048;
        QTest::newRow("3-byte char cut after 1") << QByteArray(2047, 'a') + three << 2048 << 2047;
        QTest::newRow("4-byte char cut after 3") << QByteArray(2045, 'a') + four << 2048 << 2045;
        QTest::newRow("cap 0") << QByteArray("abc") << 0 << 0;
        QTest::newRow("only 3-byte chars") << three.repeated(700) << 2048 << 2046;
    }

    void logCut()
    {
        QFETCH(QByteArray, utf8);
        QFETCH(int, cap);
        QFETCH(int, keptBytes);
        const QString logged = OutsideText::forLog(utf8, cap);
        const QString capped = OutsideText::capped(QString::fromUtf8(utf8), cap);
        QCOMPARE(logged, capped); // no hidden characters here: both agree
        if (keptBytes < 0) {
            QCOMPARE(logged, QString::fromUtf8(utf8));
            return;
        }
        const QString note = QStringLiteral("…(%1 bytes)").arg(utf8.size());
        QVERIFY(logged.endsWith(note));
        QCOMPARE(logged.chopped(note.size()).toUtf8(), utf8.left(keptBytes));
    }

    void logEscapesHiddenCharacters()
    {
        QCOMPARE(OutsideText::forLog(QString("a\u202eb\nc")), QString("a\\u202eb\\u000ac"));
        // The cap counts the bytes received, not the escaped text.
        const QString logged = OutsideText::forLog(QByteArray(3000, '\x01'), 2048);
        QVERIFY(logged.startsWith("\\u0001\\u0001"));
        QVERIFY(logged.endsWith("…(3000 bytes)"));
        QCOMPARE(logged.count("\\u0001"), 2048);
    }
};

QTEST_APPLESS_MAIN(TestOutsideText)
#include "tst_outsidetext.moc"
