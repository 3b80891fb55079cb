#include "app/ActionImages.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace {

QImage blankImage()
{
    QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QPixmap upgradeImage()
{
    QImage image = blankImage();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x1e, 0x6b, 0x24), 1.0));
    p.setBrush(QColor(0x3c, 0xa5, 0x3c));
    const QPolygonF arrow({{8.0, 1.0}, {15.0, 8.5}, {11.0, 8.5}, {11.0, 14.5},
                           {5.0, 14.5}, {5.0, 8.5}, {1.0, 8.5}});
    p.drawPolygon(arrow);
    return QPixmap::fromImage(image);
}

QPixmap refreshImage()
{
    QImage image = blankImage();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor blue(0x1f, 0x5f, 0xb8);
    p.setPen(QPen(blue, 2.0, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    // Three quarters of a circle, open at the top right where the head sits.
    p.drawArc(QRectF(2.5, 2.5, 11.0, 11.0), 60 * 16, 280 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    p.drawPolygon(QPolygonF({{9.0, 0.5}, {15.0, 3.0}, {10.5, 7.5}}));
    return QPixmap::fromImage(image);
}

} // namespace

QList<QPixmap> makeActionImages()
{
    return {upgradeImage(), refreshImage()};
}
