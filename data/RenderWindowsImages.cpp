// Writes the window's pictures and the application icon as PNG renderings,
// plus the program's .ico, for builds without an SVG renderer (Windows):
//   qv58_render_windows_images app/icons/rendered
// The packaging tests fail while the committed renderings differ from the
// sources, so run this after changing a picture.
#include "app/ActionImages.h"
#include "data/IconFile.h"

#include <QBuffer>
#include <QDir>
#include <QGuiApplication>
#include <QSaveFile>
#include <cstdio>

static bool writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    std::fprintf(stderr, "qv58_render_windows_images: cannot write %s: %s\n", qPrintable(path),
                 qPrintable(file.errorString()));
    return false;
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: qv58_render_windows_images OUT-DIR\n");
        return 2;
    }
    const QDir out(QFile::decodeName(argv[1]));
    QList<QByteArray> iconPngs;
    for (const QString &name : pictureNames())
        for (int size : renderedPictureSizes(name)) {
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            renderPicture(name, size).save(&buffer, "PNG");
            if (!writeFile(out.filePath(renderedPictureFileName(name, size)), png))
                return 1;
            if (name == ApplicationIconName && windowsIconSizes().contains(size))
                iconPngs.append(png);
        }
    return writeFile(out.filePath(ApplicationIconName + QStringLiteral(".ico")), iconFileFromPngs(iconPngs)) ? 0
                                                                                                             : 1;
}
