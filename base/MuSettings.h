#pragma once

#include "base/VSingleton.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QString>

// What the assistant remembers between runs (two INI files in the current directory) and
// shares between its windows during a run: login data, per-user volume, room identity,
// the start-up clock and the RTC App ID.
class MuSettings : public VSingleton<MuSettings>
{
    friend class VSingleton<MuSettings>;

public:
    // destroyInstance deletes the store; its INI objects write pending changes as they are
    // destroyed.

    const char* appIdText() const { return m_appId; }

    void loadLogin(QString& userId, QString& password);
    void saveLogin(const QString& userId, const QString& password, const QString& accountUserId);

    int loadVolume(int& volume);
    void saveVolume(int volume);
    // Other per-user values kept beside the volume (the "[<userId>]" group of the temp file), as
    // stored text (null when absent, empty when not readable as text): the caller checks it and
    // falls back to its default.
    QString loadUserValue(const QString& key);
    void saveUserValue(const QString& key, const QString& value);

    void roomIdentity(QString& channelName, QString& accountUserId, QString& rtcUid) const;
    QString accountUserIdText() const { return m_accountUserId; }
    void setChannelName(const QString& channelName) { m_channelName = channelName; }

    void startClock() { m_clock.start(); }
    qint64 elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }

    // Lowercase hexadecimal MD5 of the text's UTF-8 bytes.
    static QString md5Hex(const QString& text);

private:
    MuSettings();
    ~MuSettings() = default;
    MuSettings(const MuSettings&) = delete;
    MuSettings& operator=(const MuSettings&) = delete;

    const char* m_appId = "5e0c7b21d94a4f6e8a13c2b7f0d96e48";
    QString m_userId;
    QString m_password;
    int m_volume = 100;
    QString m_accountUserId;
    QString m_rtcUid;
    QString m_channelName;
    QSettings m_mainIni; // both in the plain-text INI format: no stored value is ever deserialised
    QSettings m_tempIni;
    QElapsedTimer m_clock;
};
