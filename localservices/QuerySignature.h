#pragma once

#include <QList>
#include <QPair>
#include <QString>

// Request signing of the push-stream service: the parameters other than "sign", sorted by key
// (UTF-16 code units; equal keys keep their received order), written as "k=v&k=v" with nothing
// encoded, followed directly by the key; the signature is the lowercase hex MD5 of its UTF-8 bytes.
class QuerySignature
{
public:
    using Items = QList<QPair<QString, QString>>;

    static QString signedText(const Items& items);
    static QString digest(const Items& items, const QString& key);
    static QString md5Hex(const QString& text);
};
