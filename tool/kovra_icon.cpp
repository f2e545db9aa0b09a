// Writes the program's icon as PNG files for the desktop: one file per size,
// <folder>/<size>x<size>/apps/kovra.png (the icon theme layout).
#include "tool/KovraIcons.h"

#include <QDir>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kovra_icon FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString sub = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        if (!QDir().mkpath(sub) || !KovraIconImage(size).save(sub + "/kovra.png")) {
            std::fprintf(stderr, "kovra_icon: cannot write %s/kovra.png\n", qPrintable(sub));
            return 1;
        }
    }
    return 0;
}
