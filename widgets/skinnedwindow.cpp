#include "skinnedwindow.h"

#include "formcontrols.h"
#include "module1.h"
#include "skinlayout.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <QWindow>

#include <cmath>

namespace {
QRect Placed(const vardune::SkinLayout::Piece& p, const QSize& artwork)
{
    const int left = static_cast<int>(std::lround(p.left));
    const int top = static_cast<int>(std::lround(p.top));
    const int width = p.width > 0 ? static_cast<int>(std::lround(p.width)) : artwork.width();
    const int height = p.height > 0 ? static_cast<int>(std::lround(p.height)) : artwork.height();
    return QRect(left, top, width, height);
}
} // namespace

SkinnedWindow::SkinnedWindow(const QString& title, int width, int height, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    Module1::LoadResources();
    setFixedSize(width, height);

    // Created bottom first: the edges and title pieces lie under the buttons and the title.
    imgWindowRight = Piece("imgWindowRight", true);
    imgWindowLeft = Piece("imgWindowLeft", true);
    imgWindowBottom = Piece("imgWindowBottom", true);
    imgTitleMain = Piece("imgTitleMain", true);
    imgWindowBottomRight = Piece("imgWindowBottomRight", false);
    imgWindowBottomLeft = Piece("imgWindowBottomLeft", false);
    imgTitleRight = Piece("imgTitleRight", false);
    imgTitleLeft = Piece("imgTitleLeft", false);
    imgTitleHelp = Piece("imgTitleHelp", false);
    imgTitleClose = Piece("imgTitleClose", false);
    imgTitleMinimize = Piece("imgTitleMinimize", false);

    lblTitle = new QLabel(title, this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(9.75);
    font.setBold(true);
    lblTitle->setFont(font);
    lblTitle->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    lblTitle->adjustSize();
    lblTitle->installEventFilter(this);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QLabel* SkinnedWindow::Piece(const char* name, bool stretched)
{
    auto* piece = new QLabel(this);
    piece->setObjectName(QLatin1String(name));
    const QPixmap artwork(QStringLiteral(":/skin/%1.png").arg(QLatin1String(name)));
    piece->setPixmap(artwork);
    piece->setScaledContents(stretched);
    piece->resize(artwork.isNull() ? QSize(19, 30) : artwork.size());
    // Parked out of sight until the frame is laid out.
    piece->move(-100, -100);
    piece->installEventFilter(this);
    pieces_ << piece;
    return piece;
}

void SkinnedWindow::SetFormSkin()
{
    // The skin's own grey face, with every colour its texts and controls need.
    setPalette(FixedFacePalette(QApplication::palette(this), QColor(207, 207, 207)));
    setAutoFillBackground(true);
    setWindowTitle(lblTitle->text());

    const auto s = vardune::SkinLayout::For(static_cast<float>(width()), static_cast<float>(height()));
    lblTitle->move(static_cast<int>(s.title.left), static_cast<int>(s.title.top));
    const struct {
        QLabel* label;
        const vardune::SkinLayout::Piece& piece;
    } pieces[] = {
        {imgTitleLeft, s.titleLeft},           {imgTitleRight, s.titleRight},
        {imgTitleMain, s.titleMain},           {imgWindowLeft, s.windowLeft},
        {imgWindowBottomLeft, s.windowBottomLeft}, {imgWindowBottom, s.windowBottom},
        {imgWindowBottomRight, s.windowBottomRight}, {imgWindowRight, s.windowRight},
        {imgTitleClose, s.titleClose},         {imgTitleMinimize, s.titleMinimize},
        {imgTitleHelp, s.titleHelp},
    };
    for (const auto& p : pieces)
        p.label->setGeometry(Placed(p.piece, p.label->pixmap().isNull() ? p.label->size() : p.label->pixmap().size()));
    SetFormRegion();
}

void SkinnedWindow::SetFormRegion()
{
    const auto s = vardune::SkinLayout::For(static_cast<float>(width()), static_cast<float>(height()));
    const qreal radius = vardune::SkinLayout::kCornerEllipse / 2.0;
    QPainterPath outline;
    outline.addRoundedRect(QRectF(0, 0, s.regionWidth, s.regionHeight), radius, radius);
    QRegion region(outline.toFillPolygon().toPolygon());

    // The corner art marks in magenta what lies outside the rounding. A polygon only comes
    // close to the art's own curve, so every pixel the frame would show in magenta is cut
    // away as well: the frame is drawn as it stacks, and its magenta pixels leave the region.
    QImage frame(size(), QImage::Format_ARGB32_Premultiplied);
    frame.fill(Qt::transparent);
    {
        QPainter painter(&frame);
        for (QWidget* piece : pieces_)
            if (piece->geometry().intersects(rect()))
                painter.drawPixmap(piece->geometry(), static_cast<QLabel*>(piece)->pixmap());
    }
    const QRgb magenta = qRgb(255, 0, 255);
    for (int y = 0; y < frame.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(frame.constScanLine(y));
        for (int x = 0; x < frame.width();) {
            if (line[x] != magenta) {
                ++x;
                continue;
            }
            int end = x;
            while (end < frame.width() && line[end] == magenta)
                ++end;
            region -= QRegion(x, y, end - x, 1);
            x = end;
        }
    }
    setMask(region);
}

void SkinnedWindow::DragForm()
{
    // The window system moves the window where it can; elsewhere the title follows the mouse
    // by hand (eventFilter) until the button is released.
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    dragging_ = true;
    dragOffset_ = QCursor::pos() - pos();
}

bool SkinnedWindow::IsClick(const QMouseEvent* release, const QWidget* on)
{
    return release->button() == Qt::LeftButton && on->rect().contains(release->position().toPoint());
}

void SkinnedWindow::SetFormTopMost(qint16 OnTop)
{
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, OnTop == -1);
    if (wasVisible)
        show();
}

bool SkinnedWindow::eventFilter(QObject* watched, QEvent* event)
{
    const bool title = watched == imgTitleLeft || watched == imgTitleMain || watched == imgTitleRight
        || watched == lblTitle;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (title) {
            DragForm();
            return true;
        }
        break;
    case QEvent::MouseMove:
        if (dragging_) {
            move(static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - dragOffset_);
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        if (dragging_) {
            dragging_ = false;
            return true;
        }
        if (watched == imgTitleClose && IsClick(static_cast<QMouseEvent*>(event), imgTitleClose)) {
            imgTitleClose_Click();
            return true;
        }
        break;
    default:
        break;
    }
    // The frame's pictures answer no other click, and pass none on to the window behind them.
    const bool mouse = event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease
        || event->type() == QEvent::MouseButtonDblClick;
    if (mouse && (title || pieces_.contains(static_cast<QWidget*>(watched))))
        return true;
    return QWidget::eventFilter(watched, event);
}
