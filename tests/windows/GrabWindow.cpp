// Writes a picture of one X window, as the screen shows it, for the Windows
// end-to-end run under Wine:
//   qv58_grab_window <window id> <file.png>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    bool ok = false;
    const WId window = argc == 3 ? QByteArray(argv[1]).toULongLong(&ok, 0) : 0;
    if (!ok) {
        std::fprintf(stderr, "usage: qv58_grab_window WINDOW-ID FILE.png\n");
        return 2;
    }
    const QPixmap picture = app.primaryScreen()->grabWindow(window);
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "qv58_grab_window: cannot grab window %s into %s\n", argv[1], argv[2]);
        return 1;
    }
    return 0;
}
