#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

// One request waiting in the channel's outgoing queue (copied by value in and out).
struct WsPendingRequest
{
    QDateTime created;
    quint32 uuid = 0;
    QByteArray frame;
    // Guarded: a receiver deleted while its request waits must read as gone, not dangle.
    QPointer<QObject> receiver;
    QString replySlot;
    QString messageName;
    bool withUid = false;
};
