#pragma once

#include <QHash>
#include <QString>

// Process-wide map between full message names and the protoIds of the frame envelope, held in
// both directions in one hash: name -> decimal id and decimal id -> name. Created on first use
// from the table shipped beside the schemas (defaultFile(), a JSON object name -> id) and never
// freed.
class ProtoIdRegistry
{
public:
    static QHash<QString, QString>& table();

    // The protoId of a full name; 0 and ok = false when unknown.
    static quint16 idOf(const QString& fullName, bool* ok = nullptr);
    // The full name of a protoId; empty when unknown.
    static QString nameOf(quint16 protoId);

    // Adds both directions. Ids outside 1..65535 are refused.
    static bool add(const QString& fullName, int protoId);
    // Adds every entry of a JSON object file; false when the file is missing or not such an object.
    static bool loadFile(const QString& path);
    static QString defaultFile() { return QStringLiteral("protoFiles/protoIds.json"); }
};
