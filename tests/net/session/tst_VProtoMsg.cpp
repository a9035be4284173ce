#include "net/session/ZebServerComm.h"

#include "SessionFixture.h"

#include <QtTest>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

namespace {

const char* const probeSchema = R"(syntax = "proto2";
package Probe;
message Item { optional int32 n = 1; }
message All {
    optional int32 i32 = 1; optional int64 i64 = 2; optional uint32 u32 = 3; optional float f = 4;
    optional bool b = 6; optional string s = 7; optional sint32 si32 = 9;
    repeated int32 ri32 = 10; repeated int64 ri64 = 11; repeated string rs = 12;
    repeated Item items = 13; optional Item child = 14;
}
)";

void writeFile(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
}

void probe(VProtoMsg& msg)
{
    msg.createOrExit(QStringLiteral("Probe.proto"), QStringLiteral("Probe.All"));
}

// Cases that end the process; each runs in a child process started by the test.
const char* const fatalCaseVariable = "TAVIO_FATAL_CASE";

int runFatalCase(const QByteArray& name)
{
    loadProtoSchemas();
    ProtoIdRegistry::loadFile(ProtoIdRegistry::defaultFile());
    VProtoMsg msg;
    probe(msg);
    if (name == "setter")
        msg.setInt32(QStringLiteral("i3"), 1);
    else if (name == "repeated messages")
        msg.getRepeatedMessages(QStringLiteral("itemz"));
    else if (name == "schema")
        msg.createOrExit(QStringLiteral("Nope.proto"), QStringLiteral("Nope.msg"));
    ProtoIdRegistry::add(QStringLiteral("Ghost.thing"), 900);
    ZebServerComm::instance()->Recv(200, WsEnvelope{1, 900, 0}.frame({}), [](const ZebServerResponse&) {});
    return 0;
}

} // namespace

class TstVProtoMsg : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_fixture.setUp());
        writeFile(QStringLiteral("protoFiles/Probe.proto"), probeSchema);
    }
    void cleanup() { m_fixture.tearDown(); }

    void schemaFolderPrecedenceAndBadSchemas()
    {
        // DupN lies in the first N+1 of the request, response and common folders; its field names the folder.
        const char* const folders[] = {"request/", "response/", ""};
        VProtoMsg msg;
        for (int file = 0; file < 3; ++file) {
            const QByteArray n = QByteArray::number(file);
            for (int folder = file; folder < 3; ++folder)
                writeFile(QStringLiteral("protoFiles/%1Dup%2.proto").arg(folders[folder]).arg(file),
                          "package Dup" + n + "; message Msg { optional int32 from" +
                              QByteArray::number(folder) + " = 1; }");
            QVERIFY(msg.create("Dup" + n + ".proto", "Dup" + n + ".Msg"));
            QCOMPARE(msg.message()->GetDescriptor()->field(0)->name(), "from" + n.toStdString());
        }
        // Missing and broken schemas yield invalid messages.
        writeFile(QStringLiteral("protoFiles/Broken.proto"),
                  "syntax = \"proto2\"; package Broken; message X {");
        QVERIFY(!msg.create(QStringLiteral("Absent.proto"), QStringLiteral("Absent.X")));
        QVERIFY(!msg.create(QStringLiteral("Broken.proto"), QStringLiteral("Broken.X")));
        QVERIFY(!msg.create(QStringLiteral("Probe.proto"), QStringLiteral("Probe.Nothing")));
        QVERIFY(!msg.isValid());
        QVERIFY(SessionFixture::logged(QStringLiteral("Broken.proto")));
        // A failed create leaves the object usable for the next one.
        QVERIFY(msg.create(QStringLiteral("Probe.proto"), QStringLiteral("Probe.All")));
        releaseProtoSchemas();
        QVERIFY(!VProtoMsg().create(QStringLiteral("Probe.proto"), QStringLiteral("Probe.All")));
    }

    void valuesSurviveSerializeAndParse()
    {
        VProtoMsg out;
        probe(out);
        QVERIFY(out.setInt32(QStringLiteral("i32"), -7) && out.setInt64(QStringLiteral("i64"), -(1LL << 40)));
        QVERIFY(out.setUInt32(QStringLiteral("u32"), 4000000000u) && out.setBool(QStringLiteral("b"), true));
        QVERIFY(out.setString(QStringLiteral("s"), QStringLiteral("温馨提示")));
        QVERIFY(out.addInt32s(QStringLiteral("ri32"), {3, 1}) &&
                out.addInt64s(QStringLiteral("ri64"), {1LL << 33}));
        QVERIFY(out.addString(QStringLiteral("rs"), QStringLiteral("一")));
        VProtoMsg::Message* item = nullptr;
        VProtoMsg view;
        QVERIFY(out.addMessage(QStringLiteral("items"), item) && view.attach(item));
        QVERIFY(view.setInt32(QStringLiteral("n"), 77));
        QVERIFY(out.mutableMessage(QStringLiteral("child"), item) && view.attach(item));
        QVERIFY(view.setInt32(QStringLiteral("n"), 5));

        VProtoMsg in;
        probe(in);
        QVERIFY(in.parse(out.serialize()));
        QCOMPARE(in.debugText(),
                 QStringLiteral("i32: -7 i64: -1099511627776 u32: 4000000000 b: true s: "
                                "\"\\346\\270\\251\\351\\246\\250\\346\\217\\220\\347\\244\\272\" "
                                "ri32: 3 ri32: 1 ri64: 8589934592 rs: \"\\344\\270\\200\" "
                                "items { n: 77 } child { n: 5 }"));
        QList<qint64> longs{7};
        QVERIFY(in.getRepeatedInt64(QStringLiteral("ri64"), longs));
        QCOMPARE(longs, (QList<qint64>{7, 1LL << 33}));
        QCOMPARE(in.getRepeatedMessages(QStringLiteral("items")).size(), 1);
        // Reflection would abort on an index outside the list.
        QVERIFY(!in.mutableRepeatedMessage(QStringLiteral("items"), 1, item));
        QVERIFY(!in.parse(QByteArray("\x08\xff", 2)));
    }

    void accessorTypeRules()
    {
        VProtoMsg msg;
        probe(msg);
        QVERIFY(msg.setInt64(QStringLiteral("i64"), 5) && msg.setInt32(QStringLiteral("si32"), 5));
        qint32 i32 = 42;
        QVERIFY(!msg.getInt32(QStringLiteral("i64"), i32));
        QCOMPARE(i32, 42);
        QVERIFY(!msg.getInt32(QStringLiteral("si32"), i32, 9));
        QCOMPARE(i32, 9);
        QVERIFY(SessionFixture::logged(QStringLiteral("proto field error 17 5")));
        // Unset fields: the forms with a default test presence, the others read the schema default.
        QVERIFY(!msg.getInt32(QStringLiteral("i32"), i32, 11));
        QCOMPARE(i32, 11);
        QVERIFY(msg.getInt32(QStringLiteral("i32"), i32));
        QCOMPARE(i32, 0);
        QStringList strings{QStringLiteral("kept")};
        QVERIFY(!msg.getRepeatedString(QStringLiteral("rs"), strings));
        QCOMPARE(strings, QStringList{QStringLiteral("kept")});
        QVERIFY(!msg.hasField(QStringLiteral("ri32")));
        // Names the type does not know: these refuse without ending the process.
        quint32 u32 = 3;
        QVERIFY(!msg.getUInt32(QStringLiteral("nothing"), u32) && !msg.hasField(QStringLiteral("nothing")));
        QCOMPARE(u32, 3u);
        // Reading a field as the wrong kind is refused instead of aborting inside protobuf.
        bool b = false;
        double d = 0;
        QString s;
        QVERIFY(!msg.getBool(QStringLiteral("s"), b) && !msg.getDouble(QStringLiteral("f"), d));
        QVERIFY(!msg.getString(QStringLiteral("i32"), s, QString()) &&
                !msg.setInt32(QStringLiteral("ri32"), 1));
        // An object without a message refuses everything.
        VProtoMsg empty;
        VProtoMsg::Message* item = nullptr;
        QVERIFY(empty.serialize().isEmpty() && !empty.parse("\x08\x01") &&
                !empty.setInt32(QStringLiteral("x"), 1));
        QVERIFY(!empty.getInt32(QStringLiteral("x"), i32, 1) && !empty.addMessage(QStringLiteral("x"), item));
        QCOMPARE(QMetaType::type("VProtoMsgPtr"), qMetaTypeId<VProtoMsgPtr>());
    }

    void fatalExitsInAChildProcess_data()
    {
        QTest::addColumn<QString>("message");
        QTest::newRow("setter") << QStringLiteral("proto访问错误，i3");
        QTest::newRow("repeated messages") << QStringLiteral("proto访问错误，itemz");
        QTest::newRow("schema") << QStringLiteral("proto解析错误，Nope.msg");
        QTest::newRow("answer without schema") << QStringLiteral("proto解析错误，Ghost.thing");
    }
    void fatalExitsInAChildProcess()
    {
        QFETCH(QString, message);
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(fatalCaseVariable), QLatin1String(QTest::currentDataTag()));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(60000) && child.exitStatus() == QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 255);
        const QString errors = QString::fromUtf8(child.readAllStandardError());
        QVERIFY2(errors.contains(message), qPrintable(errors));
    }

private:
    SessionFixture m_fixture;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray fatalCase = qgetenv(fatalCaseVariable);
    if (!fatalCase.isEmpty())
        return runFatalCase(fatalCase);
    TstVProtoMsg test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_VProtoMsg.moc"
