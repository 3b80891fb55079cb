#pragma once

#include <QByteArray>
#include <QList>

// A Windows icon file (.ico) holding the given PNG images, each a square of
// at most 256 pixels, in the order given. Empty when an image is not a square
// PNG of such a size.
QByteArray iconFileFromPngs(const QList<QByteArray> &pngs);

// The sizes of the application icon that go into the program's .ico.
inline const QList<int> &windowsIconSizes()
{
    static const QList<int> sizes{16, 24, 32, 48, 64, 256};
    return sizes;
}
