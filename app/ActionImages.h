#pragma once

#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QStringList>

// The window's image list: 16 x 16 pictures with alpha, drawn from the SVG
// sources in app/icons. Image 0 is the Upgrade picture, image 1 the Refresh
// picture (a circular arrow). Each is rendered for the device pixel ratio, so
// it stays sharp on a high-density screen; without one, for the application's.
QList<QPixmap> makeActionImages();
QList<QPixmap> makeActionImages(qreal devicePixelRatio);

// The application's icon for the window and its task-bar button: the same
// picture as the one installed in the desktop's icon theme.
QIcon makeApplicationIcon();

// The application's icon as one square image of pixelSize pixels; the build
// renders the theme's PNG icons with it, so they match the window's pixel for pixel.
QImage renderApplicationIcon(int pixelSize);

// One picture by name ("upgrade", "refresh" or ApplicationIconName), as a
// square image of pixelSize pixels: drawn from its SVG source where the build
// has an SVG renderer, else taken from the renderings the sources carry.
inline const QString ApplicationIconName = QStringLiteral("qv58link-upgrade");
QImage renderPicture(const QString &name, int pixelSize);
const QStringList &pictureNames();

// The renderings for a build without an SVG renderer: which pixel sizes of a
// picture are carried, and under which file name.
const QList<int> &renderedPictureSizes(const QString &name);
QString renderedPictureFileName(const QString &name, int pixelSize);
