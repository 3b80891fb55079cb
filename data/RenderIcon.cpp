// Build step: writes the application icon as the theme's PNG sizes, from the
// same source and renderer as the window's icon.
#include "app/ActionImages.h"

#include <QDir>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: qv58_render_icon OUT-DIR NAME SIZE...\n");
        return 2;
    }
    const QDir out(QFile::decodeName(argv[1]));
    const QString name = QFile::decodeName(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        const QString folder = QStringLiteral("%1x%1").arg(size);
        const QString path = out.filePath(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
        if (size <= 0 || !out.mkpath(folder) || !renderApplicationIcon(size).save(path, "PNG")) {
            std::fprintf(stderr, "qv58_render_icon: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
