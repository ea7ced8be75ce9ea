// Draws every picture of the program: window skin, display glyphs, progress pictures, the
// option pictures, the product art and the desktop icon.
//
//   cmake --build build --target vardune_artwork
//   build/bin/vardune_artwork resources
//
// The argument is the resources folder; the generator writes skin/, glyphs/, progress/,
// options/ and pictures/ below it, and resources/artwork.qrc lists those files. Commit the
// output with any change here.

#include "artwork.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

namespace Artwork {

bool SaveImage(const QImage& image, const QString& path, const char* format, int quality)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path, format, quality)) {
        std::fprintf(stderr, "vardune_artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace Artwork

int main(int argc, char* argv[])
{
    // Only images are drawn; no window system is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vardune_artwork OUTPUT_RESOURCES_DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const bool ok = Artwork::WriteSkin(dir) && Artwork::WriteGlyphStrip(dir)
                    && Artwork::WriteProgressPictures(dir) && Artwork::WriteOptionPictures(dir)
                    && Artwork::WriteProductPictures(dir) && Artwork::WriteAppIcons(dir);
    return ok ? 0 : 1;
}
