#include "app/ActionImages.h"

#include <QGuiApplication>
#include <QPainter>
#ifdef QV58_SVG_IMAGES
#include <QSvgRenderer>
#endif

// The resources live in a static library: nothing would pull them in otherwise.
static void registerActionImages()
{
    static const bool registered = [] {
#ifdef QV58_SVG_IMAGES
        Q_INIT_RESOURCE(ActionImages);
#else
        Q_INIT_RESOURCE(RenderedImages);
#endif
        return true;
    }();
    Q_UNUSED(registered);
}

namespace {

const QString UpgradeName = QStringLiteral("upgrade");
const QString RefreshName = QStringLiteral("refresh");

// Every picture is drawn on a 16-pixel grid; whole multiples of it stay sharp.
constexpr int GridSize = 16;
const int IconSizes[] = {16, 24, 32, 48, 64, 128, 256};

#ifdef QV58_SVG_IMAGES

QImage drawPicture(const QString &name, int pixelSize)
{
    QImage image(pixelSize, pixelSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/qv58link/%1.svg").arg(name));
    QPainter painter(&image);
    renderer.render(&painter, QRectF(0, 0, pixelSize, pixelSize));
    return image;
}

#else

// Without an SVG renderer the pictures come rendered at the sizes in
// renderedPictureSizes(); another size is scaled down from the next larger one
// (or up from the largest).
QImage drawPicture(const QString &name, int pixelSize)
{
    const QList<int> &sizes = renderedPictureSizes(name);
    int chosen = sizes.isEmpty() ? 0 : sizes.last();
    for (int size : sizes)
        if (size >= pixelSize) {
            chosen = size;
            break;
        }
    QImage image(QStringLiteral(":/qv58link/rendered/") + renderedPictureFileName(name, chosen));
    if (image.isNull()) {
        image = QImage(pixelSize, pixelSize, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        return image;
    }
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (chosen != pixelSize)
        image = image.scaled(pixelSize, pixelSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

#endif

QPixmap actionImage(const QString &name, qreal devicePixelRatio)
{
    QPixmap pixmap = QPixmap::fromImage(renderPicture(name, qRound(GridSize * devicePixelRatio)));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

} // namespace

QImage renderPicture(const QString &name, int pixelSize)
{
    registerActionImages();
    return drawPicture(name, pixelSize);
}

const QStringList &pictureNames()
{
    static const QStringList names{UpgradeName, RefreshName, ApplicationIconName};
    return names;
}

const QList<int> &renderedPictureSizes(const QString &name)
{
    // The action images at the scales Windows offers (100 % to 300 %), the
    // icon at the sizes the shell and the installer ask for.
    static const QList<int> actionSizes{16, 20, 24, 28, 32, 40, 48};
    static const QList<int> iconSizes{16, 20, 24, 32, 40, 48, 64, 128, 256};
    return name == ApplicationIconName ? iconSizes : actionSizes;
}

QString renderedPictureFileName(const QString &name, int pixelSize)
{
    return QStringLiteral("%1-%2.png").arg(name).arg(pixelSize);
}

QList<QPixmap> makeActionImages()
{
    return makeActionImages(qGuiApp ? qGuiApp->devicePixelRatio() : 1.0);
}

QList<QPixmap> makeActionImages(qreal devicePixelRatio)
{
    if (!(devicePixelRatio >= 1.0))
        devicePixelRatio = 1.0;
    return {actionImage(UpgradeName, devicePixelRatio), actionImage(RefreshName, devicePixelRatio)};
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
    return renderPicture(ApplicationIconName, pixelSize);
}
