#include "config/VGlobalConfig.h"

#include "base/VersionResource.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Members of the wrong type leave the stored value as it was.
void takeInt(const QJsonObject& object, const char* key, int& out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isDouble())
        out = value.toInt();
}

void takeString(const QJsonObject& object, const char* key, QString& out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isString())
        out = value.toString();
}

} // namespace

VGlobalConfig::VGlobalConfig()
{
    QDir().mkpath(QStringLiteral("res/logo/"));
}

bool VGlobalConfig::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qInfo() << "VGlobalConfig::load open failed" << path;
        return false;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (doc.isNull()) {
        qInfo() << "VGlobalConfig::load not JSON" << path << error.errorString();
        return false;
    }
    const QJsonObject object = doc.object();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it)
        m_values.insert(it.key(), it.value().toString());
    return true;
}

void VGlobalConfig::applySdkInitReply(const QByteArray& reply)
{
    const int first = reply.indexOf('{');
    const int last = reply.lastIndexOf('}');
    const QByteArray cut = (first >= 0 && last >= first) ? reply.mid(first, last - first + 1) : QByteArray();
    qInfo().noquote() << "SDKInit数据" << QString::fromUtf8(cut);
    if (cut.isEmpty())
        return;

    const QJsonDocument doc = QJsonDocument::fromJson(cut);
    if (!doc.isObject())
        return;
    const QJsonObject root = doc.object();

    takeInt(root, "code", m_code);
    takeString(root, "msg", m_msg);

    const QJsonValue dataValue = root.value(QStringLiteral("data"));
    if (!dataValue.isObject())
        return;
    const QJsonObject data = dataValue.toObject();

    takeInt(data, "forceUpdate", m_forceUpdate);
    takeString(data, "downloadUrl", m_downloadUrl);
    takeString(data, "updateTitle", m_updateTitle);
    takeString(data, "updateContent", m_updateContent);

    struct Address
    {
        const char* member;
        const char* key;
        bool trailingSlash;
    };
    static const Address addresses[] = {
        {"gatewayServer", "WSUrlServer", false}, {"baseServer", "ResURLServer", true},
        {"logoServer", "ImageResServer", true},  {"cdnServer", "ZebResServer", true},
        {"logServer", "ApiLogServer", true},     {"h5WebServer", "H5WebServer", true},
        {"h5Server", "H5Server", true},          {"securityServer", "ChatLogServer", true},
        {"payServer", "QRCodeServer", true},     {"cmsServer", "cmsServer", true},
        {"roomServer", "roomServer", true},
    };
    for (const Address& address : addresses) {
        const QJsonValue v = data.value(QLatin1String(address.member));
        if (!v.isString())
            continue;
        QString text = v.toString();
        qInfo() << address.member << text;
        if (address.trailingSlash && !text.endsWith(QLatin1Char('/')))
            text.append(QLatin1Char('/'));
        m_values.insert(QLatin1String(address.key), text);
    }
}

void VGlobalConfig::appVersion(QString& productVersion, QString& fileVersion)
{
    appVersion(QCoreApplication::applicationFilePath(), productVersion, fileVersion);
}

void VGlobalConfig::appVersion(const QString& filePath, QString& productVersion, QString& fileVersion)
{
    const std::string path = filePath.toLocal8Bit().toStdString();
    std::string value;
    if (!VersionResource::queryValue(path, "\\StringFileInfo\\080404b0\\ProductVersion", value))
        return;
    productVersion = QString::fromLatin1(value.c_str());
    if (!VersionResource::queryValue(path, "\\StringFileInfo\\080404b0\\FileVersion", value))
        return;
    fileVersion = QString::fromLatin1(value.c_str());
}
