#include "app/ActionImages.h"

#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

// The resources live in a static library: nothing would pull them in otherwise.
static void registerActionImages()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(ActionImages);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace {

const QString UpgradeSource = QStringLiteral(":/qv58link/upgrade.svg");
const QString RefreshSource = QStringLiteral(":/qv58link/refresh.svg");
const QString IconSource = QStringLiteral(":/qv58link/qv58link-upgrade.svg");

// Every picture is drawn on a 16-pixel grid; whole multiples of it stay sharp.
constexpr int GridSize = 16;
const int IconSizes[] = {16, 24, 32, 48, 64, 128, 256};

QImage renderSvg(const QString &source, int pixelSize)
{
    registerActionImages();
    QImage image(pixelSize, pixelSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(source);
    QPainter painter(&image);
    renderer.render(&painter, QRectF(0, 0, pixelSize, pixelSize));
    return image;
}

QPixmap actionImage(const QString &source, qreal devicePixelRatio)
{
    QPixmap pixmap = QPixmap::fromImage(renderSvg(source, qRound(GridSize * devicePixelRatio)));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

} // namespace

QList<QPixmap> makeActionImages()
{
    return makeActionImages(qGuiApp ? qGuiApp->devicePixelRatio() : 1.0);
}

QList<QPixmap> makeActionImages(qreal devicePixelRatio)
{
    if (!(devicePixelRatio >= 1.0))
        devicePixelRatio = 1.0;
    return {actionImage(UpgradeSource, devicePixelRatio), actionImage(RefreshSource, devicePixelRatio)};
}

QIcon makeApplicationIcon()
{
    QIcon icon;
    for (int size : IconSizes)
        icon.addPixmap(QPixmap::fromImage(renderApplicationIcon(size)));
    return icon;
}

QImage renderApplicationIcon(int pixelSize)
{
    return renderSvg(IconSource, pixelSize);
}
