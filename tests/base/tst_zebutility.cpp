#include "base/zebUtility.h"

#include <QtTest>

class TestZebUtility : public QObject
{
    Q_OBJECT

private slots:
    // Digests computed outside this code: md5 of the sorted query followed by the key.
    void signedQuery()
    {
        using Pairs = QList<QPair<QString, QString>>;
        const struct
        {
            Pairs pairs;
            QString key, expected;
        } rows[] = {
            // Sorted for the digest ("a=1&b=2K"), the caller's order on the wire.
            {{{"b", "2"}, {"a", "1"}}, "K", "b=2&a=1&sign=c3ade36f19be6d39bae19ed4e8673071"},
            // A repeated key signs its later value ("a=3&b=2K") and sends both.
            {{{"a", "1"}, {"b", "2"}, {"a", "3"}}, "K", "a=1&b=2&a=3&sign=e875a57453f6adba605c2025ebed28a9"},
            {{{"b", "2"}, {"a", "1"}}, "", "b=2&a=1&sign=ed04c91cf6f6ab5a01a31c0295c5da34"},
            // Over the UTF-8 of the decoded text.
            {{{"name", "中文"}, {"deviceId", "aa:bb"}},
             "key",
             "name=中文&deviceId=aa:bb&sign=00afcd489ce25adedc1782c55d060bcc"},
            // Delimiters in values are encoded, so they cannot add parameters.
            {{{"a", "x&sign=forged"}, {"b", "y=z"}},
             "K",
             "a=x%26sign%3Dforged&b=y%3Dz&sign=e730e88da8bec7c96d7f24ef0e5ba8d3"}};
        for (const auto& [pairs, key, expected] : rows)
            QCOMPARE(zebUtility::signedQuery(pairs, key), expected);
    }
};

QTEST_APPLESS_MAIN(TestZebUtility)
#include "tst_zebutility.moc"
