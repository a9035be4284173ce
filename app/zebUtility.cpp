#include "app/zebUtility.h"

#include <QDebug>

// Placeholder: the full helpers come with the shell issue.
namespace zebUtility {

namespace {
std::function<QList<QNetworkInterface>()>& interfaceSource()
{
    static std::function<QList<QNetworkInterface>()> source;
    return source;
}
} // namespace

void setInterfaceSource(std::function<QList<QNetworkInterface>()> source)
{
    interfaceSource() = std::move(source);
}

QString macAddress()
{
    const QList<QNetworkInterface> interfaces =
        interfaceSource() ? interfaceSource()() : QNetworkInterface::allInterfaces();
    QString result;
    for (const QNetworkInterface& iface : interfaces) {
        if (iface.flags().testFlag(QNetworkInterface::IsLoopBack))
            continue;
        if (iface.humanReadableName().contains(QLatin1String("VMware"), Qt::CaseInsensitive))
            continue;
        result = iface.hardwareAddress();
        break;
    }
    qInfo() << "MAC====" << result;
    return result;
}

} // namespace zebUtility
