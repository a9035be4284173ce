#include "net/session/ProtoIdRegistry.h"
#include "net/session/WsEnvelope.h"

#include "support/TestEnv.h"

#include <QFile>
#include <QtTest>

// The 6-byte envelope and the protoId table that gives its protoId a message name.
class TstWsEnvelope : public QObject
{
    Q_OBJECT

private slots:
    void roundTrips_data()
    {
        QTest::addColumn<int>("uuid");
        QTest::addColumn<int>("protoId");
        QTest::addColumn<int>("state");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("first request")
            << 1 << 2 << 0 << QByteArray() << QByteArray("\x00\x01\x00\x02\x00\x00", 6);
        QTest::newRow("big-endian") << 0x1234 << 0xABCD << 11 << QByteArray("\x08\x2a", 2)
                                    << QByteArray("\x12\x34\xab\xcd\x00\x0b", 6);
        QTest::newRow("extremes") << 65535 << 65535 << 65535 << QByteArray(300, 'p')
                                  << QByteArray("\xff\xff\xff\xff\xff\xff", 6);
        QTest::newRow("broadcast") << 0 << 9 << 0 << QByteArray("x")
                                   << QByteArray("\x00\x00\x00\x09\x00\x00", 6);
    }
    void roundTrips()
    {
        QFETCH(int, uuid);
        QFETCH(int, protoId);
        QFETCH(int, state);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, header);
        WsEnvelope out;
        out.uuid = quint16(uuid);
        out.protoId = quint16(protoId);
        out.state = quint16(state);
        const QByteArray message = out.frame(payload);
        QCOMPARE(message.left(6), header);
        QCOMPARE(message.size(), 6 + payload.size());

        WsEnvelope in;
        QVERIFY(WsEnvelope::read(message, in));
        QCOMPARE(int(in.uuid), uuid);
        QCOMPARE(int(in.protoId), protoId);
        QCOMPARE(int(in.state), state);
        QCOMPARE(WsEnvelope::payloadOf(message), payload);
    }

    void shortMessagesAreRejected()
    {
        WsEnvelope in;
        in.uuid = 5;
        for (int size = 0; size < 6; ++size)
            QVERIFY(!WsEnvelope::read(QByteArray(size, '\x01'), in));
        QCOMPARE(int(in.uuid), 5);
        QVERIFY(WsEnvelope::payloadOf(QByteArray(6, '\x01')).isEmpty());
    }

    void registryHoldsBothDirections()
    {
        TestEnv::ScopedWorkDir dir;
        QVERIFY(ProtoIdRegistry::loadFile(QStringLiteral(TAVIO_SOURCE_DIR "/protoFiles/protoIds.json")));
        bool ok = false;
        const quint16 id = ProtoIdRegistry::idOf(QStringLiteral("HeartBeatCmd.heartBeat"), &ok);
        QVERIFY(ok);
        QCOMPARE(ProtoIdRegistry::nameOf(id), QStringLiteral("HeartBeatCmd.heartBeat"));
        QCOMPARE(ProtoIdRegistry::table().value(QString::number(id)),
                 QStringLiteral("HeartBeatCmd.heartBeat"));
        for (const char* name : {"ErrorResult.Info", "UserCmd.logon"}) {
            ProtoIdRegistry::idOf(QLatin1String(name), &ok);
            QVERIFY2(ok, name);
        }
        QCOMPARE(ProtoIdRegistry::idOf(QStringLiteral("No.such"), &ok), quint16(0));
        QVERIFY(!ok);
        QVERIFY(ProtoIdRegistry::nameOf(4321).isEmpty());
    }

    void registryFileEntriesOutOfRangeAreSkipped()
    {
        TestEnv::ScopedWorkDir dir;
        QFile file(QStringLiteral("ids.json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            R"({"Good.one": 4000, "Zero.one": 0, "Big.one": 70000, "Frac.one": 1.5, "Text.one": "12"})");
        file.close();
        QVERIFY(ProtoIdRegistry::loadFile(QStringLiteral("ids.json")));
        bool ok = false;
        QCOMPARE(ProtoIdRegistry::idOf(QStringLiteral("Good.one"), &ok), quint16(4000));
        for (const char* name : {"Zero.one", "Big.one", "Frac.one", "Text.one"}) {
            ProtoIdRegistry::idOf(QLatin1String(name), &ok);
            QVERIFY2(!ok, name);
        }
        QVERIFY(ProtoIdRegistry::nameOf(0).isEmpty());
        QVERIFY(!ProtoIdRegistry::loadFile(QStringLiteral("absent.json")));
        QFile broken(QStringLiteral("broken.json"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("[1, 2");
        broken.close();
        QVERIFY(!ProtoIdRegistry::loadFile(QStringLiteral("broken.json")));
    }
};

QTEST_GUILESS_MAIN(TstWsEnvelope)
#include "tst_WsEnvelope.moc"
