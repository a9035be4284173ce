#pragma once

#include "net/session/ProtoIdRegistry.h"
#include "net/session/ProtoSchemas.h"
#include "net/session/SessionClock.h"
#include "net/session/VProtoMsg.h"
#include "net/session/WsEnvelope.h"
#include "support/TestEnv.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>

#include <memory>

// The shipped schemas and protoId table in a private working directory, and clocks the test
// moves by hand.
class SessionFixture
{
public:
    bool setUp()
    {
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
        SessionClock::setWallClock({});
        SessionClock::setMonotonicClock({});
        releaseProtoSchemas();
        m_dir.reset();
    }

    void useFakeClocks()
    {
        wall = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 8));
        monotonic = 5000000;
        SessionClock::setWallClock([this]() { return wall; });
        SessionClock::setMonotonicClock([this]() { return monotonic; });
    }

    QString workDir() const { return m_dir ? m_dir->path() : QString(); }

    static QByteArray frame(quint16 uuid, quint16 protoId, quint16 state, const QByteArray& payload = {})
    {
        WsEnvelope header;
        header.uuid = uuid;
        header.protoId = protoId;
        header.state = state;
        return header.frame(payload);
    }

    static QByteArray heartBeatPayload(qint64 data)
    {
        VProtoMsg msg;
        msg.createByNameOrExit(QStringLiteral("HeartBeatCmd.heartBeat"));
        msg.setInt64(QStringLiteral("data"), data);
        return msg.serialize();
    }

    static QByteArray errorPayload(const QString& errorCode, const QString& description)
    {
        VProtoMsg msg;
        msg.createByNameOrExit(QStringLiteral("ErrorResult.Info"));
        if (!errorCode.isNull())
            msg.setString(QStringLiteral("errorCode"), errorCode);
        msg.setString(QStringLiteral("description"), description);
        return msg.serialize();
    }

    // protoIds of the shipped table.
    static constexpr quint16 heartBeatId = 1;
    static constexpr quint16 logonId = 2;
    static constexpr quint16 errorResultId = 3;

    QDateTime wall;
    qint64 monotonic = 0;

private:
    std::unique_ptr<TestEnv::ScopedWorkDir> m_dir;
};
