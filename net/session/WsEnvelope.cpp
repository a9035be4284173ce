#include "net/session/WsEnvelope.h"

namespace {

quint16 readBigEndian(const QByteArray& bytes, int offset)
{
    return quint16((quint8(bytes.at(offset)) << 8) | quint8(bytes.at(offset + 1)));
}

void appendBigEndian(QByteArray& bytes, quint16 value)
{
    bytes.append(char(value >> 8));
    bytes.append(char(value & 0xFF));
}

} // namespace

bool WsEnvelope::read(const QByteArray& message, WsEnvelope& out)
{
    if (message.size() < headerSize)
        return false;
    out.uuid = readBigEndian(message, 0);
    out.protoId = readBigEndian(message, 2);
    out.state = readBigEndian(message, 4);
    return true;
}

QByteArray WsEnvelope::payloadOf(const QByteArray& message)
{
    return message.size() > headerSize ? message.mid(headerSize) : QByteArray();
}

QByteArray WsEnvelope::frame(const QByteArray& payload) const
{
    QByteArray bytes;
    bytes.reserve(headerSize + payload.size());
    appendBigEndian(bytes, uuid);
    appendBigEndian(bytes, protoId);
    appendBigEndian(bytes, state);
    bytes.append(payload);
    return bytes;
}
