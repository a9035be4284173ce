#include "base/OutsideText.h"

#include <QtTest>

// Outside texts: what is shown of them and how they are cut for the log.
class TestOutsideText : public QObject
{
    Q_OBJECT

private slots:
    void display()
    {
        const QList<QPair<QString, QString>> rows{
            {"用户ID密码不正确", "用户ID密码不正确"},
            {"<b>x</b>&amp;", "<b>x</b>&amp;"},                         // markup stays literal
            {"\u202ab\u202bc\u202cd\u202de\u202ef", "bcdef"},           // every embedding and override
            {"a\u2066b\u2067c\u2068d\u2069e", "abcde"},                 // isolates
            {"a\u200eb\u200fc\u061cd\u2028e\u2029f\ufeffg", "abcdefg"}, // marks, separators and BOM
            {"a\r\nb\nc\td", "a  b c d"},
            {QString("a") + QChar(0) + "b\u0007c\u007fd\u0080e\u009ff", "abcdef"}, // C0, DEL and C1
            {"a\u200db\u200cc\u00a0d", "a\u200db\u200cc\u00a0d"}}; // joiners, non-breaking space kept
        for (const auto& [text, shown] : rows)
            QCOMPARE(OutsideText::forDisplay(text), shown);
    }

    // The cut lands on a character boundary at or below the cap, wherever a multi-byte
    // character straddles it; the note carries the full length.
    void logCut()
    {
        const QByteArray three = QString("长").toUtf8(), four = QString("😀").toUtf8();
        const struct
        {
            QByteArray utf8;
            int cap, keptBytes; // -1: unchanged, no note
        } rows[] = {{QByteArray(2048, 'a'), 2048, -1},
                    {QByteArray(2049, 'a'), 2048, 2048},
                    {QByteArray(2045, 'a') + three + "b", 2048, 2048}, // ends at the cap
                    {QByteArray(2047, 'a') + three, 2048, 2047},       // cut after its first byte
                    {QByteArray(2045, 'a') + four, 2048, 2045},        // cut after its third byte
                    {"abc", 0, 0},
                    {three.repeated(700), 2048, 2046}};
        for (const auto& [utf8, cap, keptBytes] : rows) {
            const QString expected = keptBytes < 0 ? QString::fromUtf8(utf8)
                                                   : QString::fromUtf8(utf8.left(keptBytes)) +
                                                         QStringLiteral("…(%1 bytes)").arg(utf8.size());
            QCOMPARE(OutsideText::forLog(utf8, cap), expected);
            QCOMPARE(OutsideText::capped(QString::fromUtf8(utf8), cap), expected);
        }
    }

    void logEscapesHiddenCharacters()
    {
        QCOMPARE(OutsideText::forLog(QString("a\u202eb\nc")), QString("a\\u202eb\\u000ac"));
        // The cap counts the bytes received, not the escaped text.
        QCOMPARE(OutsideText::forLog(QByteArray(3000, '\x01'), 2048),
                 QString("\\u0001").repeated(2048) + "…(3000 bytes)");
    }
};

QTEST_APPLESS_MAIN(TestOutsideText)
#include "tst_outsidetext.moc"
