#pragma once

#include "rtc/sdk/IAudioDeviceCollection.h"

#include <QList>
#include <QPair>
#include <QString>

namespace agora {
namespace rtc {

// A fixed snapshot of (name, id) pairs handed out by the real backend's device manager.
class DeviceListCollection : public IAudioDeviceCollection
{
public:
    explicit DeviceListCollection(const QList<QPair<QString, QString>>& devices);

    int getCount() override;
    int getDevice(int index, char* deviceName, char* deviceId) override;
    void release() override;

    // Copies the text's UTF-8 bytes into a kMaxDeviceIdLength buffer, cut at a character
    // boundary, always zero-terminated.
    static void copyToBuffer(const QString& text, char* buffer);

private:
    ~DeviceListCollection() override = default;

    QList<QPair<QString, QString>> m_devices;
};

} // namespace rtc
} // namespace agora
