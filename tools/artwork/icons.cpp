#include "artwork.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

namespace Artwork {

// The program's icon in the sizes a desktop's icon theme asks for, from the one drawing in
// icons/vardune.svg, so every size shows the same player.
bool WriteAppIcons(const QString& dir)
{
    QSvgRenderer drawing(dir + QStringLiteral("/icons/vardune.svg"));
    if (!drawing.isValid())
        return false;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
        icon.fill(Qt::transparent);
        QPainter painter(&icon);
        painter.setRenderHint(QPainter::Antialiasing);
        drawing.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        if (!SaveImage(icon, dir + QStringLiteral("/appicon/vardune-%1.png").arg(size), "PNG", -1))
            return false;
    }
    return true;
}

} // namespace Artwork
