#pragma once

#include <QByteArray>
#include <QtGlobal>

// The 6-byte header in front of every binary message of the session channel, all fields
// big-endian: uuid (0 marks a server broadcast), protoId, state (0 in requests; 11 = user not
// logged in); the protobuf payload follows.
struct WsEnvelope
{
    static constexpr int headerSize = 6;
    static constexpr quint16 stateUserNotLogin = 11;

    quint16 uuid = 0;
    quint16 protoId = 0;
    quint16 state = 0;

    // False (and the fields left untouched) when the message is shorter than the header.
    static bool read(const QByteArray& message, WsEnvelope& out);
    static QByteArray payloadOf(const QByteArray& message);
    QByteArray frame(const QByteArray& payload) const;
};
