#pragma once
#include <QImage>
#include <QString>

// Each painter writes its pictures below the resources folder it is given and returns false,
// after saying why on stderr, when a file could not be written.
namespace Artwork {

bool WriteSkin(const QString& resourcesDir);
bool WriteGlyphStrip(const QString& resourcesDir);
bool WriteProgressPictures(const QString& resourcesDir);
bool WriteOptionPictures(const QString& resourcesDir);
bool WriteProductPictures(const QString& resourcesDir);

bool SaveImage(const QImage& image, const QString& path, const char* format, int quality = -1);

// The program's icon for the desktop, in several sizes, from icons/vardune.svg.
bool WriteAppIcons(const QString& dir);

} // namespace Artwork
