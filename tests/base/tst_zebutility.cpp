#include "base/zebUtility.h"

#include <QtTest>

class TestZebUtility : public QObject
{
    Q_OBJECT

private slots:
    void signedQuery_data()
    {
        QTest::addColumn<QStringList>("pairs"); // key, value, key, value...
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        // Sorted for the digest (md5 of "a=1&b=2K"), the caller's order on the wire.
        QTest::newRow("sorted") << QStringList{"b", "2", "a", "1"} << "K"
                                << "b=2&a=1&sign=c3ade36f19be6d39bae19ed4e8673071";
        // A repeated key signs its later value (md5 of "a=3&b=2K") and sends both.
        QTest::newRow("repeated key") << QStringList{"a", "1", "b", "2", "a", "3"} << "K"
                                      << "a=1&b=2&a=3&sign=e875a57453f6adba605c2025ebed28a9";
        QTest::newRow("empty key") << QStringList{"b", "2", "a", "1"} << ""
                                   << "b=2&a=1&sign=ed04c91cf6f6ab5a01a31c0295c5da34";
        // The digest is over the UTF-8 of the decoded text.
        QTest::newRow("utf-8") << QStringList{"name", "中文", "deviceId", "aa:bb"} << QStringLiteral("key")
                               << "name=中文&deviceId=aa:bb&sign=00afcd489ce25adedc1782c55d060bcc";
        // Delimiters in values are encoded, so they cannot add parameters (md5 of
        // "a=x%26sign%3Dforged&b=y%3DzK").
        QTest::newRow("no injection") << QStringList{"a", "x&sign=forged", "b", "y=z"} << QStringLiteral("K")
                                      << "a=x%26sign%3Dforged&b=y%3Dz&sign=e730e88da8bec7c96d7f24ef0e5ba8d3";
    }

    void signedQuery()
    {
        QFETCH(QStringList, pairs);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QList<QPair<QString, QString>> list;
        for (int i = 0; i + 1 < pairs.size(); i += 2)
            list.append({pairs.at(i), pairs.at(i + 1)});
        QCOMPARE(zebUtility::signedQuery(list, key), expected);
    }
};

QTEST_APPLESS_MAIN(TestZebUtility)
#include "tst_zebutility.moc"
