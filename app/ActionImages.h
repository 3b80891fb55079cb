#pragma once

#include <QList>
#include <QPixmap>

// The window's image list: 16 x 16 pictures with alpha. Image 0 is the
// Upgrade picture (an upward arrow), image 1 the Refresh picture (a circular arrow).
QList<QPixmap> makeActionImages();
