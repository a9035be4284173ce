#include "net/session/ProtoIdRegistry.h"

#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Never freed: senders and receivers may look names up until the very end of the process.
QHash<QString, QString>& storage()
{
    static auto* registry = new QHash<QString, QString>();
    return *registry;
}

bool g_defaultLoaded = false;

} // namespace

QHash<QString, QString>& ProtoIdRegistry::table()
{
    if (!g_defaultLoaded) {
        g_defaultLoaded = true;
        loadFile(defaultFile());
    }
    return storage();
}

quint16 ProtoIdRegistry::idOf(const QString& fullName, bool* ok)
{
    bool parsed = false;
    const uint value = table().value(fullName).toUInt(&parsed, 10);
    parsed = parsed && value >= 1 && value <= 0xFFFF;
    if (ok)
        *ok = parsed;
    return parsed ? quint16(value) : 0;
}

QString ProtoIdRegistry::nameOf(quint16 protoId)
{
    return table().value(QString::number(protoId, 10));
}

bool ProtoIdRegistry::add(const QString& fullName, int protoId)
{
    if (fullName.isEmpty() || protoId < 1 || protoId > 0xFFFF) {
        qInfo() << "ProtoIdRegistry::add refused" << fullName << protoId;
        return false;
    }
    QHash<QString, QString>& registry = storage();
    registry.insert(fullName, QString::number(protoId, 10));
    registry.insert(QString::number(protoId, 10), fullName);
    return true;
}

bool ProtoIdRegistry::loadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qInfo() << "ProtoIdRegistry::loadFile missing" << path;
        return false;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject()) {
        qInfo() << "ProtoIdRegistry::loadFile invalid" << path << error.errorString();
        return false;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const double id = it.value().toDouble(-1);
        const bool whole = id >= 1 && id <= 0xFFFF && id == double(int(id));
        if (!whole || !add(it.key(), int(id)))
            qInfo() << "ProtoIdRegistry::loadFile skip" << it.key();
    }
    return true;
}
