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
    optional int32 i32 = 1; optional int64 i64 = 2; optional string s = 7; optional sint32 si32 = 9;
    repeated int32 ri32 = 10; repeated int64 ri64 = 11; repeated Item items = 13;
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
    qint64 value = 0;
    if (name == "unknown field")
        msg.getInt64(QStringLiteral("i3"), value);
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

    // What the program reads of an answer (int64, string, presence) survives the wire; a field read
    // as another kind, or by a name the type lacks, is refused instead of aborting inside protobuf.
    void valuesSurviveSerializeAndParse()
    {
        VProtoMsg out;
        probe(out);
        QVERIFY(out.setInt64(QStringLiteral("i64"), -(1LL << 40)) && out.setInt32(QStringLiteral("si32"), 5));
        QVERIFY(out.setString(QStringLiteral("s"), QStringLiteral("温馨提示")));
        VProtoMsg in;
        probe(in);
        QVERIFY(!in.parse(QByteArray("\x08\xff", 2)) && in.parse(out.serialize()));
        qint64 i64 = 0;
        QString s;
        QVERIFY(in.getInt64(QStringLiteral("i64"), i64) && in.getString(QStringLiteral("s"), s, QString()));
        QCOMPARE(QStringLiteral("%1 %2").arg(i64).arg(s), QStringLiteral("-1099511627776 温馨提示"));
        QVERIFY(in.hasField(QStringLiteral("s")) && !in.hasField(QStringLiteral("i32")));
        QVERIFY(!in.hasField(QStringLiteral("ri32")) && !in.hasField(QStringLiteral("nothing")));
        qint32 i32 = 42;
        QVERIFY(!in.getInt32(QStringLiteral("i64"), i32) && i32 == 42);
        QVERIFY(!in.getInt32(QStringLiteral("si32"), i32, 9) && i32 == 9);
        QVERIFY(SessionFixture::logged(QStringLiteral("proto field error 17 5")));
        // Unset: the form with a default tells absence, the other reads the schema default.
        QVERIFY(!in.getInt64(QStringLiteral("ri64"), i64) &&
                !in.getString(QStringLiteral("i32"), s, QString()));
        QVERIFY(!in.getInt64(QStringLiteral("nothing"), i64, 1) && i64 == 1);
        QVERIFY(in.getInt32(QStringLiteral("i32"), i32) && i32 == 0);
        // An object without a message refuses everything.
        VProtoMsg empty;
        QVERIFY(empty.serialize().isEmpty() && !empty.parse("\x08\x01") &&
                !empty.hasField(QStringLiteral("x")));
        QVERIFY(!empty.getInt64(QStringLiteral("x"), i64, 1) && !empty.setInt32(QStringLiteral("x"), 1));
        QCOMPARE(QMetaType::type("VProtoMsgPtr"), qMetaTypeId<VProtoMsgPtr>());
    }

    void fatalExitsInAChildProcess_data()
    {
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown field") << QStringLiteral("proto访问错误，i3");
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
