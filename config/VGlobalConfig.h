#pragma once

#include "base/VSingleton.h"

#include <QHash>
#include <QObject>
#include <QString>

// The process-wide text-to-text configuration: "Config/GlobalConfig.json", the device
// identifier computed at start-up and the server addresses of the "sdkinit" reply.
class VGlobalConfig : public QObject, public VSingleton<VGlobalConfig>
{
    Q_OBJECT
    friend class VSingleton<VGlobalConfig>;

public:
    bool load(const QString& path);
    QString value(const QString& key) const { return m_values.value(key); }
    void setValue(const QString& key, const QString& value) { m_values.insert(key, value); }
    void applySdkInitReply(const QByteArray& reply);

    // Product and file version of the running program; outputs untouched when unreadable.
    static void appVersion(QString& productVersion, QString& fileVersion);
    // The same for the program file at filePath (a file without a version block gives nothing).
    static void appVersion(const QString& filePath, QString& productVersion, QString& fileVersion);

    int lastCode() const { return m_code; }
    QString lastMsg() const { return m_msg; }
    int forceUpdate() const { return m_forceUpdate; }
    QString downloadUrl() const { return m_downloadUrl; }
    QString updateTitle() const { return m_updateTitle; }
    QString updateContent() const { return m_updateContent; }

private:
    VGlobalConfig();

    QHash<QString, QString> m_values;
    int m_code = 0;
    QString m_msg;
    int m_forceUpdate = 0;
    QString m_downloadUrl;
    QString m_updateTitle;
    QString m_updateContent;
};
