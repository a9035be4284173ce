#include "localservices/QuerySignature.h"

#include <QCryptographicHash>

#include <algorithm>

QString QuerySignature::signedText(const Items& items)
{
    Items sorted;
    for (const auto& item : items) {
        if (item.first != QLatin1String("sign"))
            sorted.append(item);
    }
    std::stable_sort(
        sorted.begin(), sorted.end(),
        [](const QPair<QString, QString>& a, const QPair<QString, QString>& b) { return a.first < b.first; });
    QStringList parts;
    for (const auto& item : sorted)
        parts.append(item.first + QLatin1Char('=') + item.second);
    return parts.join(QLatin1Char('&'));
}

QString QuerySignature::digest(const Items& items, const QString& key)
{
    return md5Hex(signedText(items) + key);
}

QString QuerySignature::md5Hex(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}
