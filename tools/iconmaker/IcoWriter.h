#pragma once

#include <QImage>
#include <QString>
#include <QVector>

// Writes a multi-size Windows icon file. Qt's own ico writer stores a single image only, and
// Windows picks the entry nearest to the size it needs, so every size is stored here.
class IcoWriter
{
public:
    // Entries below 256 pixels are 32-bit DIBs with an AND mask (readable everywhere); a
    // 256-pixel entry is stored as PNG, as Windows expects for that size. Every image must be
    // square and at most 256 pixels wide. Returns false and leaves no file on failure.
    static bool write(const QString& path, const QVector<QImage>& images);

    // The bytes of an icon file holding the images (empty when an image cannot be stored).
    static QByteArray encode(const QVector<QImage>& images);
};
