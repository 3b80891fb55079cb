#pragma once

#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>

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
