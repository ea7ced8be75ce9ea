#include "focusframe.h"

#include <QEvent>
#include <QPainter>

FocusFrame* FocusFrame::Attach(QWidget* pane)
{
    return new FocusFrame(pane);
}

FocusFrame::FocusFrame(QWidget* pane)
    : QWidget(pane)
    , pane_(pane)
{
    setObjectName(pane->objectName() + QStringLiteral("_FocusFrame"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    pane->installEventFilter(this);
    Follow();
}

void FocusFrame::Follow()
{
    setGeometry(pane_->rect());
    // Shown only while it has something to show: a hidden frame costs the scrolling nothing.
    setVisible(pane_->hasFocus());
    raise();
}

bool FocusFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == pane_) {
        switch (event->type()) {
        case QEvent::FocusIn:
        case QEvent::FocusOut:
        case QEvent::Resize:
        case QEvent::ChildAdded:
            Follow();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FocusFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QPen pen(pane_->palette().color(QPalette::Active, QPalette::Highlight), kWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawRect(QRectF(rect()).adjusted(kWidth / 2.0, kWidth / 2.0, -kWidth / 2.0, -kWidth / 2.0));
}
