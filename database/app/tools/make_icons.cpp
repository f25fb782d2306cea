// Writes the database-send application's icon as PNG files (the sizes a
// desktop's icon theme takes) from the drawing the program uses:
// tarndbsend-<size>.png in the folder given.
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

#include "icons.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarn_make_dbsend_icons FOLDER\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString path =
            QString::fromLocal8Bit(argv[1]) + QStringLiteral("/tarndbsend-%1.png").arg(size);
        if (!tarn::dbsendapp::applicationImage(size).save(path)) {
            std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
