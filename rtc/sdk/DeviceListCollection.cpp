#include "rtc/sdk/DeviceListCollection.h"

#include "rtc/sdk/RtcTypes.h"

#include <cstring>

namespace agora {
namespace rtc {

DeviceListCollection::DeviceListCollection(const QList<QPair<QString, QString>>& devices) : m_devices(devices)
{
}

int DeviceListCollection::getCount()
{
    return m_devices.size();
}

int DeviceListCollection::getDevice(int index, char* deviceName, char* deviceId)
{
    if (index < 0 || index >= m_devices.size() || !deviceName || !deviceId)
        return kErrInvalidArgument;
    copyToBuffer(m_devices.at(index).first, deviceName);
    copyToBuffer(m_devices.at(index).second, deviceId);
    return kOk;
}

void DeviceListCollection::release()
{
    delete this;
}

void DeviceListCollection::copyToBuffer(const QString& text, char* buffer)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() > kMaxDeviceIdLength - 1) {
        int cut = kMaxDeviceIdLength - 1;
        // Never split a UTF-8 sequence: back off continuation bytes.
        while (cut > 0 && (static_cast<unsigned char>(bytes.at(cut)) & 0xC0) == 0x80)
            --cut;
        bytes.truncate(cut);
    }
    std::memcpy(buffer, bytes.constData(), static_cast<size_t>(bytes.size()));
    buffer[bytes.size()] = '\0';
}

} // namespace rtc
} // namespace agora
