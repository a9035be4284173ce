#pragma once

#include "base/VClock.h"
#include "net/session/ProtoIdRegistry.h"
#include "net/session/ProtoSchemas.h"
#include "net/session/VProtoMsg.h"
#include "net/session/WsEnvelope.h"
#include "support/LogCapture.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QTest>

#include <memory>

// Waits for a condition, looking every 10 ms (the QTRY_ macros look every 50 ms).
#define WAIT_FOR(...) QVERIFY2(QTest::qWaitFor([&]() { return bool(__VA_ARGS__); }, 5000), #__VA_ARGS__)

// The shipped schemas and protoId table in a private working directory, every log line of the
// process (LogCapture), and clocks the test moves by hand.
class SessionFixture
{
public:
    bool setUp()
    {
        // Qt Test installs its own message handler when it starts, so ours goes on top of it here.
        static LogCapture capture;
        LogCapture::clear();
        m_dir.reset(new TestEnv::ScopedWorkDir());
        const QString shipped = QStringLiteral(TAVIO_SOURCE_DIR "/protoFiles/");
        QDir().mkpath(QStringLiteral("protoFiles"));
        for (const QString& name : QDir(shipped).entryList(QDir::Files)) {
            if (!QFile::copy(shipped + name, QStringLiteral("protoFiles/") + name))
                return false;
        }
        return loadProtoSchemas() && ProtoIdRegistry::loadFile(ProtoIdRegistry::defaultFile());
    }

    void tearDown()
    {
        VClock::setWallClock({});
        VClock::setMonotonicClock({});
        releaseProtoSchemas();
        m_dir.reset();
    }

    void useFakeClocks()
    {
        wall = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 8));
        monotonic = 5000000;
        VClock::setWallClock([this]() { return wall; });
        VClock::setMonotonicClock([this]() { return monotonic; });
    }

    QString workDir() const { return m_dir->path(); }

    static QByteArray frame(quint16 uuid, quint16 protoId, quint16 state, const QByteArray& payload = {})
    {
        return WsEnvelope{uuid, protoId, state}.frame(payload);
    }

    QDateTime wall;
    qint64 monotonic = 0;

private:
    std::unique_ptr<TestEnv::ScopedWorkDir> m_dir;
};
