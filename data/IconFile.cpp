#include "data/IconFile.h"

#include <QBuffer>
#include <QDataStream>
#include <QImage>

QByteArray iconFileFromPngs(const QList<QByteArray> &pngs)
{
    constexpr int HeaderSize = 6;
    constexpr int EntrySize = 16;
    QByteArray file;
    QBuffer buffer(&file);
    buffer.open(QIODevice::WriteOnly);
    QDataStream out(&buffer);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(pngs.size());
    quint32 offset = HeaderSize + EntrySize * pngs.size();
    for (const QByteArray &png : pngs) {
        const QImage image = QImage::fromData(png, "PNG");
        if (image.isNull() || image.width() != image.height() || image.width() > 256)
            return {};
        // A side of 256 is written as 0.
        const quint8 side = quint8(image.width() == 256 ? 0 : image.width());
        out << side << side << quint8(0) << quint8(0) << quint16(1) << quint16(32) << quint32(png.size())
            << offset;
        offset += quint32(png.size());
    }
    for (const QByteArray &png : pngs)
        out.writeRawData(png.constData(), int(png.size()));
    return file;
}
