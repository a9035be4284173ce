#include "IcoWriter.h"

#include <QBuffer>
#include <QDataStream>
#include <QSaveFile>

namespace {

constexpr int kMaxIconSide = 256;
constexpr int kDirHeaderBytes = 6;
constexpr int kDirEntryBytes = 16;
constexpr quint32 kBitmapInfoHeaderBytes = 40;

QByteArray encodePng(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    return bytes;
}

// A DIB entry: header with the doubled height (colour rows plus mask rows), the colour rows
// bottom-up in BGRA, then the 1-bit AND mask (set where fully transparent) padded to 32 bits.
QByteArray encodeDib(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int side = image.width();
    const int maskStride = ((side + 31) / 32) * 4;

    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << kBitmapInfoHeaderBytes << qint32(side) << qint32(side * 2) << quint16(1) << quint16(32)
        << quint32(0) << quint32(side * side * 4 + maskStride * side) << qint32(0) << qint32(0) << quint32(0)
        << quint32(0);
    for (int y = side - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < side; ++x)
            out << quint8(qBlue(row[x])) << quint8(qGreen(row[x])) << quint8(qRed(row[x]))
                << quint8(qAlpha(row[x]));
    }
    for (int y = side - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        QByteArray mask(maskStride, '\0');
        for (int x = 0; x < side; ++x) {
            if (qAlpha(row[x]) == 0)
                mask[x / 8] = char(quint8(mask[x / 8]) | (0x80 >> (x % 8)));
        }
        out.writeRawData(mask.constData(), mask.size());
    }
    return bytes;
}

} // namespace

QByteArray IcoWriter::encode(const QVector<QImage>& images)
{
    QVector<QByteArray> payloads;
    for (const QImage& image : images) {
        if (image.isNull() || image.width() != image.height() || image.width() > kMaxIconSide)
            return {};
        payloads.append(image.width() == kMaxIconSide ? encodePng(image) : encodeDib(image));
        if (payloads.last().isEmpty())
            return {};
    }
    if (payloads.isEmpty())
        return {};

    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(payloads.size());
    quint32 offset = kDirHeaderBytes + kDirEntryBytes * payloads.size();
    for (int i = 0; i < payloads.size(); ++i) {
        const int side = images[i].width();
        const quint8 sideByte = side == kMaxIconSide ? 0 : quint8(side); // 0 stands for 256
        out << sideByte << sideByte << quint8(0) << quint8(0) << quint16(1) << quint16(32)
            << quint32(payloads[i].size()) << offset;
        offset += payloads[i].size();
    }
    for (const QByteArray& payload : payloads)
        out.writeRawData(payload.constData(), payload.size());
    return bytes;
}

bool IcoWriter::write(const QString& path, const QVector<QImage>& images)
{
    const QByteArray bytes = encode(images);
    if (bytes.isEmpty())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(bytes);
    return file.commit();
}
