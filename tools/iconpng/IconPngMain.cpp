// klangor-iconpng OUTPUT_DIR SIZE...: writes OUTPUT_DIR/SIZExSIZE/apps/<desktop id>.png for each size,
// the layout of an icon theme's folders.
#include "app/AppIcon.h"

#include <QDir>
#include <QImage>

#include <cstdio>
#include <cstdlib>

using namespace klangor;

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR SIZE...\n", argv[0]);
        return 2;
    }
    // Only images are drawn, so no application object and no display: nothing a build could lack.
    const QString strOut = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        char *pEnd = nullptr;
        const long nSize = std::strtol(argv[i], &pEnd, 10);
        if (*argv[i] == '\0' || *pEnd != '\0' || nSize < 1 || nSize > 4096) {
            std::fprintf(stderr, "%s: not a size in pixels\n", argv[i]);
            return 2;
        }
        const QImage image = klangor::RenderAppIcon(static_cast<int>(nSize));
        const QString strDir = QStringLiteral("%1/%2x%2/apps").arg(strOut).arg(nSize);
        const QString strFile =
            QStringLiteral("%1/%2.png").arg(strDir, QString::fromUtf8(klangor::kDesktopId));
        if (image.isNull() || !QDir().mkpath(strDir) || !image.save(strFile, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(strFile));
            return 1;
        }
    }
    return 0;
}
