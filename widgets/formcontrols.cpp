#include "formcontrols.h"

#include <QLabel>

QLabel* NewCaption(QWidget* parent, const char* name, const QString& text, QRect at, const QColor& colour)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(9.75);
    font.setBold(true);
    label->setFont(font);
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
