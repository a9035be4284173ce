#include "net/session/ProtoSchemas.h"
#include "net/session/VProtoMsg.h"

#include "FatalChild.h"
#include "SessionLogCapture.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QtTest>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include <memory>

namespace {

const char* const probeSchema = R"(syntax = "proto2";
package Probe;
message Item { optional int32 n = 1; }
message All {
    optional int32 i32 = 1;
    optional int64 i64 = 2;
    optional uint32 u32 = 3;
    optional float f = 4;
    optional double d = 5;
    optional bool b = 6;
    optional string s = 7;
    optional bytes raw = 8;
    optional sint32 si32 = 9;
    repeated int32 ri32 = 10;
    repeated int64 ri64 = 11;
    repeated string rs = 12;
    repeated Item items = 13;
    optional Item child = 14;
}
)";

void writeFile(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QByteArray oneFieldSchema(const char* package, const char* field)
{
    return QByteArray("syntax = \"proto2\";\npackage ") + package + ";\nmessage Msg { optional int32 " +
           field + " = 1; }\n";
}

QString firstFieldName(const VProtoMsg& msg)
{
    return QString::fromStdString(msg.message()->GetDescriptor()->field(0)->name());
}

// Cases that end the process; each runs in a child started by the test below.
int runFatalCase(const QByteArray& name)
{
    loadProtoSchemas();
    VProtoMsg msg;
    if (name == "setterTypo") {
        msg.create(QStringLiteral("Probe.proto"), QStringLiteral("Probe.All"));
        msg.setInt32(QStringLiteral("i3"), 1);
    } else if (name == "missingSchema") {
        msg.createOrExit(QStringLiteral("Nope.proto"), QStringLiteral("Nope.msg"));
    } else if (name == "repeatedMessagesTypo") {
        msg.create(QStringLiteral("Probe.proto"), QStringLiteral("Probe.All"));
        msg.getRepeatedMessages(QStringLiteral("itemz"));
    }
    return 0;
}

} // namespace

class TstVProtoMsg : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.reset(new TestEnv::ScopedWorkDir());
        writeFile(QStringLiteral("protoFiles/Probe.proto"), probeSchema);
        QVERIFY(loadProtoSchemas());
    }
    void cleanup()
    {
        releaseProtoSchemas();
        m_dir.reset();
    }

    void requestFolderWinsOverResponseAndCommon()
    {
        writeFile(QStringLiteral("protoFiles/request/Dup1.proto"), oneFieldSchema("Dup1", "fromRequest"));
        writeFile(QStringLiteral("protoFiles/response/Dup1.proto"), oneFieldSchema("Dup1", "fromResponse"));
        writeFile(QStringLiteral("protoFiles/Dup1.proto"), oneFieldSchema("Dup1", "fromCommon"));
        writeFile(QStringLiteral("protoFiles/response/Dup2.proto"), oneFieldSchema("Dup2", "fromResponse"));
        writeFile(QStringLiteral("protoFiles/Dup2.proto"), oneFieldSchema("Dup2", "fromCommon"));
        writeFile(QStringLiteral("protoFiles/Dup3.proto"), oneFieldSchema("Dup3", "fromCommon"));

        VProtoMsg first, second, third;
        QVERIFY(first.create(QStringLiteral("Dup1.proto"), QStringLiteral("Dup1.Msg")));
        QCOMPARE(firstFieldName(first), QStringLiteral("fromRequest"));
        QVERIFY(second.create(QStringLiteral("Dup2.proto"), QStringLiteral("Dup2.Msg")));
        QCOMPARE(firstFieldName(second), QStringLiteral("fromResponse"));
        QVERIFY(third.create(QStringLiteral("Dup3.proto"), QStringLiteral("Dup3.Msg")));
        QCOMPARE(firstFieldName(third), QStringLiteral("fromCommon"));
    }

    void missingOrBrokenSchemasYieldInvalidMessages()
    {
        SessionLogCapture log;
        writeFile(QStringLiteral("protoFiles/Broken.proto"),
                  "syntax = \"proto2\"; package Broken; message X {");
        VProtoMsg msg;
        QVERIFY(!msg.create(QStringLiteral("Absent.proto"), QStringLiteral("Absent.X")));
        QVERIFY(!msg.isValid());
        QVERIFY(!msg.create(QStringLiteral("Broken.proto"), QStringLiteral("Broken.X")));
        QVERIFY(!msg.create(QStringLiteral("Probe.proto"), QStringLiteral("Probe.Nothing")));
        QVERIFY(!msg.create(QString(), QStringLiteral("Probe.All")));
        QVERIFY(log.has(QStringLiteral("Broken.proto")));
        // A failed create leaves the object usable for the next one.
        QVERIFY(msg.create(QStringLiteral("Probe.proto"), QStringLiteral("Probe.All")));
        QVERIFY(msg.isValid());

        releaseProtoSchemas();
        VProtoMsg late;
        QVERIFY(!late.create(QStringLiteral("Probe.proto"), QStringLiteral("Probe.All")));
    }

    void shippedSchemasCarryTheNamesTheSessionUses()
    {
        const QString shipped = QStringLiteral(TAVIO_SOURCE_DIR "/protoFiles/");
        for (const char* file : {"HeartBeatCmd.proto", "ErrorResult.proto", "UserCmd.proto"})
            QVERIFY(QFile::copy(shipped + QLatin1String(file),
                                QStringLiteral("protoFiles/") + QLatin1String(file)));

        VProtoMsg heartBeat;
        heartBeat.createOrExit(QStringLiteral("HeartBeatCmd.proto"),
                               QStringLiteral("HeartBeatCmd.heartBeat"));
        QVERIFY(heartBeat.isValid());
        QVERIFY(heartBeat.serialize().isEmpty());
        QVERIFY(heartBeat.setInt64(QStringLiteral("data"), 1700000000123LL));
        qint64 data = 0;
        QVERIFY(heartBeat.getInt64(QStringLiteral("data"), data, -1));
        QCOMPARE(data, 1700000000123LL);

        VProtoMsg error;
        error.createByNameOrExit(QStringLiteral("ErrorResult.Info"));
        QVERIFY(error.setString(QStringLiteral("errorCode"), QStringLiteral("E1")));
        QVERIFY(error.setString(QStringLiteral("description"), QStringLiteral("描述")));
        VProtoMsg logon;
        logon.createByNameOrExit(QStringLiteral("UserCmd.logon"));
        QVERIFY(logon.isValid());
        QCOMPARE(VProtoMsg::schemaFileOf(QStringLiteral("ErrorResult.Info")),
                 QStringLiteral("ErrorResult.proto"));
        QCOMPARE(VProtoMsg::schemaFileOf(QStringLiteral("A.b.c")), QStringLiteral("A.proto"));
    }

    void scalarsSurviveSerializeAndParse()
    {
        VProtoMsg out;
        QVERIFY(out.create(QStringLiteral("Probe.proto"), QStringLiteral("Probe.All")));
        QVERIFY(out.setInt32(QStringLiteral("i32"), -7));
        QVERIFY(out.setInt64(QStringLiteral("i64"), -(1LL << 40)));
        QVERIFY(out.setUInt32(QStringLiteral("u32"), 4000000000u));
        QVERIFY(out.setBool(QStringLiteral("b"), true));
        QVERIFY(out.setString(QStringLiteral("s"), QStringLiteral("温馨提示")));
        QVERIFY(out.setBytes(QStringLiteral("raw"), QByteArray("\x00\xff", 2)));
        QVERIFY(out.setInt32(QStringLiteral("si32"), -3));
        const QByteArray bytes = out.serialize();
        QVERIFY(!bytes.isEmpty());

        VProtoMsg in;
        QVERIFY(in.create(QStringLiteral("Probe.proto"), QStringLiteral("Probe.All")));
        QVERIFY(in.parse(bytes));
        qint32 i32 = 0;
        qint64 i64 = 0;
        quint32 u32 = 0;
        bool b = false;
        QString s;
        QVERIFY(in.getInt32(QStringLiteral("i32"), i32, 1));
        QCOMPARE(i32, -7);
        QVERIFY(in.getInt64(QStringLiteral("i64"), i64));
        QCOMPARE(i64, -(1LL << 40));
        QVERIFY(in.getUInt32(QStringLiteral("u32"), u32));
        QCOMPARE(u32, 4000000000u);
        QVERIFY(in.getBool(QStringLiteral("b"), b, false));
        QVERIFY(b);
        QVERIFY(in.getString(QStringLiteral("s"), s, QString()));
        QCOMPARE(s, QStringLiteral("温馨提示"));
        QVERIFY(in.getString(QStringLiteral("raw"), s, QString()));
        QCOMPARE(s.toLatin1().size(), 2);
        QVERIFY(in.debugText().contains(QStringLiteral("i32: -7")));

        QVERIFY(!in.parse(QByteArray("\x08\xff", 2)));
    }

    void getterTypeRules()
    {
        SessionLogCapture log;
        VProtoMsg msg;
        QVERIFY(msg.create(QStringLiteral("Probe.proto"), QStringLiteral("Probe.All")));
        QVERIFY(msg.setInt64(QStringLiteral("i64"), 5));
        QVERIFY(msg.setInt32(QStringLiteral("si32"), 5));

        qint32 i32 = 42;
        QVERIFY(!msg.getInt32(QStringLiteral("i64"), i32));
        QCOMPARE(i32, 42);
        QVERIFY(log.has(QStringLiteral("proto field error 3 5")));
        QVERIFY(!msg.getInt32(QStringLiteral("si32"), i32, 9));
        QCOMPARE(i32, 9);
        QVERIFY(log.has(QStringLiteral("proto field error 17 5")));
        qint64 i64 = 0;
        QVERIFY(!msg.getInt64(QStringLiteral("i32"), i64));
        QVERIFY(log.has(QStringLiteral("proto field error 5 3")));

        // Unset fields: the forms with a default test presence, the others read the schema default.
        QVERIFY(!msg.getInt32(QStringLiteral("i32"), i32, 11));
        QCOMPARE(i32, 11);
        QVERIFY(msg.getInt32(QStringLiteral("i32"), i32));
        QCOMPARE(i32, 0);
        QString s = QStringLiteral("keep");
        QVERIFY(!msg.getString(QStringLiteral("s"), s, QStringLiteral("x")));
        QCOMPARE(s, QStringLiteral("x"));
        bool b = true;
        QVERIFY(!msg.getBool(QStringLiteral("b"), b, false));
        QVERIFY(!b);

        // Names the type does not know: these getters refuse without ending the process.
        quint32 u32 = 3;
        QVERIFY(!msg.getUInt32(QStringLiteral("nothing"), u32));
        QCOMPARE(u32, 3u);
        QVERIFY(!msg.getInt32(QStringLiteral("nothing"), i32, 1));
        QVERIFY(!msg.hasField(QStringLiteral("nothing")));

        // Reading a field as the wrong kind is refused instead of aborting inside protobuf.
        double d = 0;
        float f = 0;
        QVERIFY(!msg.getBool(QStringLiteral("s"), b));
        QVERIFY(!msg.getDouble(QStringLiteral("f"), d));
        QVERIFY(msg.getFloat(QStringLiteral("f"), f));
        QVERIFY(!msg.getString(QStringLiteral("i32"), s, QString()));
        QVERIFY(!msg.setString(QStringLiteral("i32"), QStringLiteral("1")));
        QVERIFY(!msg.setInt32(QStringLiteral("ri32"), 1));
        QVERIFY(!msg.getUInt32(QStringLiteral("i32"), u32));
    }

    void repeatedAndNestedFields()
    {
        VProtoMsg msg;
        QVERIFY(msg.create(QStringLiteral("Probe.proto"), QStringLiteral("Probe.All")));
        QStringList strings{QStringLiteral("kept")};
        QVERIFY(!msg.getRepeatedString(QStringLiteral("rs"), strings));
        QCOMPARE(strings, QStringList{QStringLiteral("kept")});
        QList<int> ints;
        QVERIFY(!msg.getRepeatedInt32(QStringLiteral("unknown"), ints));
        QVERIFY(!msg.hasField(QStringLiteral("ri32")));

        QVERIFY(msg.addInt32s(QStringLiteral("ri32"), {3, 1, 2}));
        QVERIFY(msg.addInt64s(QStringLiteral("ri64"), {1LL << 33}));
        QVERIFY(msg.addString(QStringLiteral("rs"), QStringLiteral("一")));
        QVERIFY(msg.addString(QStringLiteral("rs"), QStringLiteral("two")));
        QVERIFY(msg.hasField(QStringLiteral("ri32")));
        QVERIFY(msg.getRepeatedInt32(QStringLiteral("ri32"), ints));
        QCOMPARE(ints, (QList<int>{3, 1, 2}));
        QList<qint64> longs{7};
        QVERIFY(msg.getRepeatedInt64(QStringLiteral("ri64"), longs));
        QCOMPARE(longs, (QList<qint64>{7, 1LL << 33}));
        QVERIFY(msg.getRepeatedString(QStringLiteral("rs"), strings));
        QCOMPARE(strings, (QStringList{QStringLiteral("kept"), QStringLiteral("一"), QStringLiteral("two")}));

        QVERIFY(msg.getRepeatedMessages(QStringLiteral("items")).isEmpty());
        VProtoMsg::Message* item = nullptr;
        QVERIFY(msg.addMessage(QStringLiteral("items"), item));
        VProtoMsg view;
        QVERIFY(view.attach(item));
        QVERIFY(view.setInt32(QStringLiteral("n"), 77));
        QCOMPARE(msg.getRepeatedMessages(QStringLiteral("items")).size(), 1);
        VProtoMsg::Message* again = nullptr;
        QVERIFY(msg.mutableRepeatedMessage(QStringLiteral("items"), 0, again));
        QCOMPARE(again, item);
        QVERIFY(!msg.mutableRepeatedMessage(QStringLiteral("items"), 1, again));

        VProtoMsg::Message* child = nullptr;
        QVERIFY(msg.mutableMessage(QStringLiteral("child"), child));
        QVERIFY(view.attach(child));
        QVERIFY(view.setInt32(QStringLiteral("n"), 5));
        QVERIFY(msg.debugText().contains(QStringLiteral("child { n: 5 }")));
        QVERIFY(msg.debugText().contains(QStringLiteral("items { n: 77 }")));

        VProtoMsg copy;
        QVERIFY(copy.create(QStringLiteral("Probe.proto"), QStringLiteral("Probe.All")));
        QVERIFY(copy.parse(msg.serialize()));
        QCOMPARE(copy.debugText(), msg.debugText());
    }

    void invalidObjectRefusesEverything()
    {
        VProtoMsg msg;
        QVERIFY(!msg.isValid());
        QVERIFY(msg.serialize().isEmpty());
        QVERIFY(!msg.parse(QByteArray("\x08\x01", 2)));
        QVERIFY(msg.debugText().isEmpty());
        qint32 i32 = 4;
        qint64 i64 = 4;
        QString s = QStringLiteral("same");
        QStringList list;
        VProtoMsg::Message* out = nullptr;
        QVERIFY(!msg.hasField(QStringLiteral("x")));
        QVERIFY(!msg.getInt32(QStringLiteral("x"), i32, 1));
        QVERIFY(!msg.getInt64(QStringLiteral("x"), i64));
        QCOMPARE(i32, 4);
        QVERIFY(!msg.getString(QStringLiteral("x"), s, QStringLiteral("d")));
        QCOMPARE(s, QStringLiteral("same"));
        QVERIFY(!msg.setInt32(QStringLiteral("x"), 1));
        QVERIFY(!msg.setString(QStringLiteral("x"), s));
        QVERIFY(!msg.getRepeatedString(QStringLiteral("x"), list));
        QVERIFY(msg.getRepeatedMessages(QStringLiteral("x")).isEmpty());
        QVERIFY(!msg.addMessage(QStringLiteral("x"), out));
        QVERIFY(!msg.mutableMessage(QStringLiteral("x"), out));
        QVERIFY(!msg.attach(nullptr));
    }

    void pointerTravelsUnderItsRegisteredName()
    {
        VProtoMsg msg;
        QCOMPARE(QMetaType::type("VProtoMsgPtr"), qMetaTypeId<VProtoMsgPtr>());
        QCOMPARE(vProtoMsgPtrTypeId(), qMetaTypeId<VProtoMsgPtr>());
        const QVariant carried = QVariant::fromValue(VProtoMsgPtr(new VProtoMsg()));
        QVERIFY(carried.value<VProtoMsgPtr>());
    }

    void unknownFieldNamesEndTheProcess_data()
    {
        QTest::addColumn<QString>("caseName");
        QTest::addColumn<QString>("message");
        QTest::newRow("setter") << "setterTypo" << QStringLiteral("proto访问错误，i3");
        QTest::newRow("repeated messages")
            << "repeatedMessagesTypo" << QStringLiteral("proto访问错误，itemz");
        QTest::newRow("schema") << "missingSchema" << QStringLiteral("proto解析错误，Nope.msg");
    }
    void unknownFieldNamesEndTheProcess()
    {
        QFETCH(QString, caseName);
        QFETCH(QString, message);
        const FatalChildResult result = runFatalChild(caseName, QDir::currentPath());
        QVERIFY(result.finished);
        QCOMPARE(result.exitCode, 255);
        QVERIFY2(result.errorOutput.contains(message), qPrintable(result.errorOutput));
    }

private:
    std::unique_ptr<TestEnv::ScopedWorkDir> m_dir;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray fatalCase = qgetenv(fatalCaseVariable());
    if (!fatalCase.isEmpty())
        return runFatalCase(fatalCase);
    TstVProtoMsg test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_VProtoMsg.moc"
