#include "splitterbar.h"

#include "twips.h"

#include <QMouseEvent>

SplitterBar::SplitterBar(Qt::Orientation along, QWidget* parent)
    : QWidget(parent)
    , along_(along)
{
    setMouseTracking(true);
    setAutoFillBackground(true);
}

void SplitterBar::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    emit MouseDown();
}

void SplitterBar::mouseMoveEvent(QMouseEvent* event)
{
    setCursor(along_ == Qt::Horizontal ? Qt::SizeVerCursor : Qt::SizeHorCursor);
    const QPointF at = event->position();
    emit MouseMove(Twips::FromPixels(along_ == Qt::Horizontal ? at.y() : at.x()));
}

void SplitterBar::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    emit MouseUp();
}
