#include "net/session/ZebServerComm.h"

#include "SessionFixture.h"

#include <QtTest>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

namespace {

void writeFile(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
}

const QString kProbe = QStringLiteral("Probe.proto");
const QByteArray kProbeSchema = "syntax = \"proto2\"; package Probe; message All { optional int32 i32 = 1;"
                                " optional int64 i64 = 2; optional string s = 7; repeated int64 ri64 = 11; }";

// Cases that end the process; each runs in a child process started by the test.
const char* const fatalCaseVariable = "TAVIO_FATAL_CASE";

int runFatalCase(const QByteArray& name)
{
    loadProtoSchemas();
    ProtoIdRegistry::loadFile(ProtoIdRegistry::defaultFile());
    VProtoMsg msg;
    msg.createOrExit(kProbe, QStringLiteral("Probe.All"));
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
        writeFile(QStringLiteral("protoFiles/") + kProbe, kProbeSchema);
    }
    void cleanup() { m_fixture.tearDown(); }

    // A schema is looked up in the request, then the response, then the common folder; missing and
    // broken ones give invalid messages, and a failed create leaves the object usable.
    void schemaLoading()
    {
        // A is in all three folders, B in the last two; the field names the folder it came from.
        for (const QString& folder : {"request", "response", "common"})
            for (const QString& name : {"A", "B"})
                if (name == "A" || folder != "request")
                    writeFile(QStringLiteral("protoFiles/%1/%2.proto").arg(folder == "common" ? "." : folder, name),
                              QStringLiteral("package %1; message M { optional int32 %2 = 1; }").arg(name, folder).toUtf8());
        writeFile(QStringLiteral("protoFiles/Broken.proto"), "syntax = \"proto2\"; package Broken; message X {");
        VProtoMsg msg;
        for (const QString& name : {"A", "B"}) {
            QVERIFY(msg.create(name + ".proto", name + ".M"));
            QCOMPARE(msg.message()->GetDescriptor()->field(0)->name(), std::string(name == "A" ? "request" : "response"));
        }
        QVERIFY(!msg.create(QStringLiteral("Absent.proto"), QStringLiteral("Absent.X")));
        QVERIFY(!msg.create(QStringLiteral("Broken.proto"), QStringLiteral("Broken.X")) && !msg.isValid());
        QVERIFY(!msg.create(kProbe, QStringLiteral("Probe.Nothing")));
        QVERIFY(LogCapture::contains(QStringLiteral("Broken.proto")));
        QVERIFY(msg.create(kProbe, QStringLiteral("Probe.All")));
        releaseProtoSchemas();
        QVERIFY(!VProtoMsg().create(kProbe, QStringLiteral("Probe.All")));
    }

    // What the program reads of an answer survives the wire; a field read as another kind, by a name
    // the type lacks, or from an object without a message, is refused instead of aborting in protobuf.
    void roundTripAndBadInput()
    {
        VProtoMsg out, in, empty;
        out.createOrExit(kProbe, QStringLiteral("Probe.All"));
        in.createOrExit(kProbe, QStringLiteral("Probe.All"));
        QVERIFY(out.setInt64(QStringLiteral("i64"), -(1LL << 40)) && out.setString(QStringLiteral("s"), "温馨提示"));
        QVERIFY(!in.parse(QByteArray("\x08\xff", 2)) && in.parse(out.serialize()));
        qint64 i64 = 0;
        qint32 i32 = 42;
        QString s;
        QVERIFY(in.getInt64(QStringLiteral("i64"), i64) && in.getString(QStringLiteral("s"), s, QString()));
        QCOMPARE(QStringLiteral("%1 %2").arg(i64).arg(s), QStringLiteral("-1099511627776 温馨提示"));
        QVERIFY(in.hasField(QStringLiteral("s")) && !in.hasField(QStringLiteral("i32")));
        QVERIFY(!in.getInt32(QStringLiteral("i64"), i32) && i32 == 42);
        QVERIFY(!in.getInt64(QStringLiteral("ri64"), i64) && !in.getString(QStringLiteral("i32"), s, QString()));
        QVERIFY(!in.getInt64(QStringLiteral("nothing"), i64, 1) && i64 == 1);
        QVERIFY(in.getInt32(QStringLiteral("i32"), i32) && i32 == 0); // unset: the schema default
        QVERIFY(empty.serialize().isEmpty() && !empty.parse("\x08\x01") && !empty.setInt32(QStringLiteral("x"), 1));
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
