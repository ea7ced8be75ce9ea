#include "frmabout.h"

#include "module1.h"
#include "twips.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>

frmAbout::frmAbout(QWidget* main)
    : SkinnedWindow(QStringLiteral("About Vardune"), Twips::ToPixels(3465), Twips::ToPixels(3585))
    , main_(main)
{
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(Twips::ToRect({240, 480, 2940, 2895}));
    Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/product.png")));
    Image1->setScaledContents(true);
    Image1->installEventFilter(this);

    lblVersion = new QLabel(this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setGeometry(Twips::ToRect({480, 1440, 2535, 375}));
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(12);
    font.setBold(true);
    lblVersion->setFont(font);
    lblVersion->setAlignment(Qt::AlignCenter);
    lblVersion->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    // A click on the version closes nothing: the label keeps its clicks from the picture.
    lblVersion->installEventFilter(this);

    Form_Load();
}

frmAbout::~frmAbout()
{
    if (main_)
        main_->setEnabled(true);
}

void frmAbout::Form_Load()
{
    SetFormSkin();
    SetFormTopMost(-1);
    if (main_)
        main_->setEnabled(false);
    lblVersion->setText(QStringLiteral("Version ") + QLatin1String(Module1::kVersion));
}

void frmAbout::CloseBox()
{
    close();
    if (main_)
        main_->setEnabled(true);
}

void frmAbout::imgTitleClose_Click()
{
    CloseBox();
}

void frmAbout::mouseReleaseEvent(QMouseEvent* event)
{
    if (IsClick(event, this))
        CloseBox();
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    const auto type = event->type();
    const bool mouse = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease
        || type == QEvent::MouseButtonDblClick;
    if (watched == lblVersion && mouse)
        return true;
    // The picture and the background close the box by the same rule: a click is the left
    // button, as everywhere in the program's windows.
    if (watched == Image1 && type == QEvent::MouseButtonRelease) {
        if (IsClick(static_cast<QMouseEvent*>(event), Image1))
            CloseBox();
        return true;
    }
    return SkinnedWindow::eventFilter(watched, event);
}

void frmAbout::closeEvent(QCloseEvent* event)
{
    if (main_)
        main_->setEnabled(true);
    event->accept();
}
