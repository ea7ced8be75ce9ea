#include "frmstartup.h"

#include "module1.h"
#include "twips.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>

frmStartUp::frmStartUp(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    Module1::LoadResources();
    setObjectName(QStringLiteral("frmStartUp"));
    setFixedSize(Twips::ToPixels(2880), Twips::ToPixels(2850));

    lblVersion = new QLabel(this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(14.25);
    font.setBold(true);
    lblVersion->setFont(font);
    lblVersion->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblVersion->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    lblVersion->setAttribute(Qt::WA_TranslucentBackground);
    lblVersion->setGeometry(0, Twips::ToPixels(1560), width(), QFontMetrics(font).height() + 4);
    lblVersion->setText(QStringLiteral("Version ") + QLatin1String(Module1::kVersion));

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmStartUp::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(rect(), QImage(QStringLiteral(":/pictures/splash.png")));
}
