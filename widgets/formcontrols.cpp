#include "formcontrols.h"

#include <QLabel>

QFont SansSerif(qreal points, bool bold)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QLabel* NewCaption(QWidget* parent, const char* name, const QString& text, QRect at, const QColor& colour)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setFont(SansSerif(9.75, true));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setGeometry(at);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLabel* NewPictureBox(QWidget* parent, const char* name, QRect at)
{
    auto* box = new QLabel(parent);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(at);
    box->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return box;
}

QLabel* NewReadout(QWidget* parent, const char* name, QRect at)
{
    QLabel* readout = NewPictureBox(parent, name, at);
    QPalette palette = readout->palette();
    palette.setColor(QPalette::Window, Qt::black);
    readout->setPalette(palette);
    readout->setAutoFillBackground(true);
    return readout;
}

void FitCaption(QLabel* caption, int width)
{
    QFont font = caption->font();
    // Quarter points down to a size still readable; the text never grows.
    while (QFontMetrics(font).horizontalAdvance(caption->text()) > width && font.pointSizeF() > 6.0)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    caption->setFont(font);
}
