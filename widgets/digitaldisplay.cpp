#include "digitaldisplay.h"

#include "glyphcells.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>

void DisplayDigital(QLabel* DisplayPic, const QString& Strin, const QLabel* SourcePic)
{
    using vardune::GlyphStrip;
    const QPixmap strip = SourcePic->pixmap();
    const QList<uint> characters = Strin.toUcs4();
    const int n = static_cast<int>(characters.size());

    QPixmap readout(qMax(1, n * GlyphStrip::kCellWidth), GlyphStrip::kCellHeight);
    readout.fill(DisplayPic->palette().color(DisplayPic->backgroundRole()));
    {
        QPainter painter(&readout);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (int i = 0; i < n; ++i) {
            const int cell = GlyphStrip::Cell(static_cast<char32_t>(characters[i]));
            if (cell < 0)
                continue;
            painter.drawPixmap(i * GlyphStrip::kCellWidth, 0, strip, cell * GlyphStrip::kCellWidth, 0,
                               GlyphStrip::kCellWidth, GlyphStrip::kCellHeight);
        }
    }
    DisplayPic->setFrameShape(QFrame::NoFrame);
    DisplayPic->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    DisplayPic->setPixmap(readout);
    // One cell per character, one cell high: n / 18 of the strip's width.
    const double width = static_cast<double>(n) / GlyphStrip::kCells * SourcePic->width();
    DisplayPic->resize(static_cast<int>(width + 0.5), SourcePic->height());
}
