#include "base/MuSettings.h"

#include "base/PlainIniFormat.h"

#include <QCryptographicHash>

MuSettings::MuSettings()
    : m_mainIni(QStringLiteral("MuVozedIvazerida.ini"), PlainIniFormat::format()),
      m_tempIni(QStringLiteral("MuVozedIvazeridaTemp.ini"), PlainIniFormat::format())
{
}

void MuSettings::loadLogin(QString& userId, QString& password)
{
    m_userId = m_mainIni.value(QStringLiteral("userid")).toString();
    m_password = m_mainIni.value(QStringLiteral("password")).toString();
    userId = m_userId;
    password = m_password;
}

void MuSettings::saveLogin(const QString& userId, const QString& password, const QString& accountUserId)
{
    m_userId = userId;
    m_password = password;
    m_accountUserId = accountUserId;

    bool ok = false;
    const int account = accountUserId.toInt(&ok, 10);
    if (ok)
        m_rtcUid = QString::number(-qint64(account));

    m_mainIni.setValue(QStringLiteral("userid"), m_userId);
    m_mainIni.setValue(QStringLiteral("password"), m_userId.isEmpty() ? QString() : m_password);
}

int MuSettings::loadVolume(int& volume)
{
    m_tempIni.sync(); // see what another run wrote
    bool ok = false;
    const int stored = m_tempIni.value(QStringLiteral("%1/%2").arg(m_userId, QStringLiteral("volume")))
                           .toString()
                           .toInt(&ok, 10);
    m_volume = (!ok || stored < 0 || stored > 100) ? 100 : stored;
    volume = m_volume;
    return m_volume;
}

void MuSettings::saveVolume(int volume)
{
    m_volume = volume;
    m_tempIni.beginGroup(m_userId);
    m_tempIni.setValue(QStringLiteral("volume"), volume);
    m_tempIni.endGroup();
}

QString MuSettings::loadUserValue(const QString& key)
{
    m_tempIni.sync();
    const QString path = QStringLiteral("%1/%2").arg(m_userId, key);
    if (!m_tempIni.contains(path))
        return QString();
    const QString text = m_tempIni.value(path).toString();
    return text.isNull() ? QStringLiteral("") : text; // stored but not readable as text: empty, not null
}

void MuSettings::saveUserValue(const QString& key, const QString& value)
{
    m_tempIni.beginGroup(m_userId);
    m_tempIni.setValue(key, value);
    m_tempIni.endGroup();
}

void MuSettings::roomIdentity(QString& channelName, QString& accountUserId, QString& rtcUid) const
{
    channelName = m_channelName;
    accountUserId = m_accountUserId;
    rtcUid = m_rtcUid;
}

QString MuSettings::md5Hex(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}
