#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QSettings>

// The INI format of the settings files, read and written as plain text only.
//
// Qt's own INI format turns values that start with "@Variant(", "@ByteArray(" or "@DateTime("
// (also when spelled with escapes) into deserialised objects: one crafted line can make it
// allocate gigabytes and abort the program on every start. We only ever store texts and
// numbers, so this format writes them exactly as Qt's INI format does (same sections, key and
// value escapes, quoting and "@@" prefix) and reads every value back as text. A value it cannot
// read as text is kept byte for byte as a RawValue, which reads as no text, so the caller's
// fallback applies and the value survives the next write unchanged.
class PlainIniFormat
{
public:
    struct RawValue
    {
        QByteArray bytes; // the value as it stood in the file, after "="
    };

    // Registered with QSettings on first use.
    static QSettings::Format format();

    static bool read(QIODevice& device, QSettings::SettingsMap& map);
    static bool write(QIODevice& device, const QSettings::SettingsMap& map);

    // One value as Qt's INI format would write it (without the key), and back.
    static QByteArray encodeValue(const QVariant& value);
    static QVariant decodeValue(const QByteArray& text);
    static QByteArray encodeKey(const QString& key);
    static QString decodeKey(const QByteArray& text);
};

Q_DECLARE_METATYPE(PlainIniFormat::RawValue)
