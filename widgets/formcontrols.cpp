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

QPalette FixedFacePalette(QPalette from, const QColor& face)
{
    const QColor text(Qt::black);
    const QColor ground(Qt::white);
    const QColor greyed(120, 120, 120);
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        from.setColor(group, QPalette::Window, face);
        from.setColor(group, QPalette::Button, face);
        from.setColor(group, QPalette::Base, disabled ? face : ground);
        from.setColor(group, QPalette::AlternateBase, face.lighter(110));
        from.setColor(group, QPalette::WindowText, disabled ? greyed : text);
        from.setColor(group, QPalette::Text, disabled ? greyed : text);
        from.setColor(group, QPalette::ButtonText, disabled ? greyed : text);
        from.setColor(group, QPalette::PlaceholderText, greyed);
        from.setColor(group, QPalette::BrightText, ground);
        from.setColor(group, QPalette::Light, face.lighter(150));
        from.setColor(group, QPalette::Midlight, face.lighter(125));
        from.setColor(group, QPalette::Mid, face.darker(150));
        from.setColor(group, QPalette::Dark, face.darker(200));
        from.setColor(group, QPalette::Shadow, Qt::black);
        from.setColor(group, QPalette::ToolTipBase, QColor(255, 255, 220));
        from.setColor(group, QPalette::ToolTipText, text);
        from.setColor(group, QPalette::Link, QColor(0, 0, 192));
        from.setColor(group, QPalette::LinkVisited, QColor(96, 0, 128));
    }
    // The selection keeps the theme's colour, with a text that reads on it.
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        const QColor highlight = from.color(group, QPalette::Highlight);
        from.setColor(group, QPalette::HighlightedText, highlight.lightness() > 140 ? Qt::black : Qt::white);
    }
    return from;
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

void NameReadout(QLabel* readout, const QLabel* caption, const QString& shown)
{
    QString words = caption->text().trimmed();
    if (words.endsWith(QLatin1Char(':')))
        words.chop(1);
    readout->setAccessibleName(words + QStringLiteral(": ") + shown);
}

void FitCaption(QLabel* caption, int width)
{
    QFont font = caption->font();
    // Quarter points down to a size still readable; the text never grows.
    while (QFontMetrics(font).horizontalAdvance(caption->text()) > width && font.pointSizeF() > 6.0)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    caption->setFont(font);
}
