#include "frmupdate.h"

#include "digitaldisplay.h"
#include "formcontrols.h"
#include "helpwindow.h"
#include "module1.h"
#include "progresspicture.h"
#include "twips.h"

#include "versioncheck.h"

#include <QCloseEvent>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>


frmUpdate::frmUpdate()
    : SkinnedWindow(QStringLiteral("Check New Version"), Twips::ToPixels(5115), Twips::ToPixels(3465))
    , site(Module1::VendorSite())
    , network_(new QNetworkAccessManager(this))
    , deadline_(new QTimer(this))
{
    setObjectName(QStringLiteral("frmUpdate"));
    setAttribute(Qt::WA_DeleteOnClose);

    Label1 = NewCaption(this, "Label1", QStringLiteral("Connecting to internet......"), Twips::ToRect({240, 480, 4695, 495}), QColor(0, 0, 128));
    Label1->setWordWrap(true);
    ProgressImageList1 = ProgressImages();
    ProgressPic1 = NewPictureBox(this, "ProgressPic1", Twips::ToRect({240, 1080, 4560, 810}));
    ProgressPic2 = NewPictureBox(this, "ProgressPic2", {64, 80, 72, 30});
    PrepareProgressPictures(ProgressPic1, ProgressPic2, ProgressImageList1);
    Label2 = NewCaption(this, "Label2", QStringLiteral("Installed Version:"), Twips::ToRect({120, 2040, 2175, 375}), QColor(0, 0, 128));
    picVer1 = NewReadout(this, "picVer1", Twips::ToRect({240, 2280, 1695, 375}));
    Label3 = NewCaption(this, "Label3", QStringLiteral("Latest Version:"), Twips::ToRect({120, 2640, 2175, 375}), QColor(0, 0, 128));
    picVer2 = NewReadout(this, "picVer2", Twips::ToRect({240, 2880, 1695, 375}));

    cmdDownload = new QToolButton(this);
    cmdDownload->setObjectName(QStringLiteral("cmdDownload"));
    cmdDownload->setText(QStringLiteral("Download Now"));
    cmdDownload->setIcon(QIcon(QStringLiteral(":/icons/download.svg")));
    cmdDownload->setIconSize(QSize(48, 48));
    cmdDownload->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    cmdDownload->setGeometry(Twips::ToRect({2160, 2040, 1455, 1215}));
    connect(cmdDownload, &QToolButton::clicked, this, &frmUpdate::cmdDownload_Click);
    Command5 = new QPushButton(QStringLiteral("Help"), this);
    Command5->setObjectName(QStringLiteral("Command5"));
    Command5->setGeometry(Twips::ToRect({3720, 2040, 1095, 555}));
    connect(Command5, &QPushButton::clicked, this, [this] { HelpWindow::ShowUserGuide(this, Module1::helpFile()); });
    Command4 = new QPushButton(QStringLiteral("Exit"), this);
    Command4->setObjectName(QStringLiteral("Command4"));
    Command4->setGeometry(Twips::ToRect({3720, 2760, 1095, 495}));
    connect(Command4, &QPushButton::clicked, this, &QWidget::close);

    Picture1 = NewPictureBox(this, "Picture1", {8, height() + 20, 252, 20});
    Picture1->setPixmap(QPixmap(QStringLiteral(":/glyphs/glyphstrip.png")));
    Picture1->hide();

    Timer1 = new QTimer(this);
    Timer1->setInterval(200);
    connect(Timer1, &QTimer::timeout, this, &frmUpdate::Timer1_Timer);
    Timer2 = new QTimer(this);
    Timer2->setInterval(1000);
    connect(Timer2, &QTimer::timeout, this, &frmUpdate::Timer2_Timer);
    Timer3 = new QTimer(this);
    Timer3->setInterval(1000);
    connect(Timer3, &QTimer::timeout, this, &frmUpdate::Timer3_Timer);
    deadline_->setSingleShot(true);
    connect(deadline_, &QTimer::timeout, this, [this] {
        EndFetch();
        Failed();
    });

    Form_Load();
    Timer1->start();
    Timer2->start();
}

void frmUpdate::Form_Load()
{
    counter_ = 0;
    SetFormSkin();
    cmdDownload->setEnabled(false);
    DisplayDigital(picVer1, QLatin1String(Module1::kVersion));
    DisplayDigital(picVer2, QStringLiteral("........"));
    update();
    Timer3->stop();
}

void frmUpdate::DisplayDigital(QLabel* DisplayPic, const QString& Strin)
{
    ::DisplayDigital(DisplayPic, Strin, Picture1);
}

qint16 frmUpdate::SetProgressPic(qint16 iValue)
{
    return ::SetProgressPic(ProgressPic1, ProgressPic2, ProgressImageList1, iValue, false);
}

void frmUpdate::Timer1_Timer()
{
    SetProgressPic(counter_);
    counter_ = static_cast<qint16>(counter_ + static_cast<int>(Module1::Random() * 5));
    if (counter_ >= 99) {
        SetProgressPic(0);
        counter_ = 1;
    }
}

void frmUpdate::Timer2_Timer()
{
    Timer2->stop();
    cmdDownload->setEnabled(false);
    QNetworkRequest request(QUrl(site + QLatin1String(vardune::VersionCheck::kVersionFile)));
    body_.clear();
    bodyComplete_ = false;
    deadline_->start(requestTimeout);
    reply_ = network_->get(request);
    // Qt's network thread reads no further ahead than the start the check needs, however
    // fast a server sends and however long this window waits for its turn.
    reply_->setReadBufferSize(static_cast<qint64>(vardune::VersionCheck::kReadLimit));
    connect(reply_, &QNetworkReply::readyRead, this, &frmUpdate::FetchRead);
    connect(reply_, &QNetworkReply::finished, this, &frmUpdate::FetchFinished);
}

void frmUpdate::FetchRead()
{
    body_ += reply_->read(static_cast<qint64>(vardune::VersionCheck::kReadLimit) - body_.size());
    // Enough to decide: the rest of the body is not wanted.
    if (body_.size() >= static_cast<qsizetype>(vardune::VersionCheck::kReadLimit)) {
        bodyComplete_ = true;
        reply_->abort();
    }
}

void frmUpdate::FetchFinished()
{
    deadline_->stop();
    QNetworkReply* reply = reply_;
    reply->deleteLater();
    if (!bodyComplete_) {
        if (reply->error() != QNetworkReply::NoError) {
            Failed();
            return;
        }
        body_ += reply->read(static_cast<qint64>(vardune::VersionCheck::kReadLimit) - body_.size());
    }
    // Each byte is one character: Latin-1.
    const auto latest = vardune::VersionCheck::LatestVersion(body_.toStdString());
    if (!latest) {
        Failed();
        return;
    }
    DisplayDigital(picVer2, QString::fromLatin1(latest->data(), static_cast<qsizetype>(latest->size())));
    Timer1->stop();
    if (vardune::VersionCheck::IsNewer(*latest, Module1::kVersion)) {
        cmdDownload->setEnabled(true);
        Timer3->start(1000);
        Label1->setText(QStringLiteral("Find new version, you can donwload it now"));
    } else {
        cmdDownload->setEnabled(false);
        QPalette palette = Label1->palette();
        palette.setColor(QPalette::WindowText, QColor(200, 0, 200));
        Label1->setPalette(palette);
        Label1->setText(QStringLiteral("Not find new version, please check later"));
    }
}

void frmUpdate::Failed()
{
    Timer1->stop();
    QPalette palette = Label1->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    Label1->setPalette(palette);
    Label1->setText(QStringLiteral("Cannot get information from internet, please check later"));
}

void frmUpdate::Timer3_Timer()
{
    cmdDownload->setText(cmdDownload->text() == QLatin1String("   ") ? QStringLiteral("Download Now")
                                                                   : QStringLiteral("   "));
}

void frmUpdate::cmdDownload_Click()
{
    Module1::OpenWebPage(site + QLatin1String(vardune::VersionCheck::kDownloadPage));
}

void frmUpdate::EndFetch()
{
    deadline_->stop();
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        reply_->deleteLater();
    }
}

void frmUpdate::closeEvent(QCloseEvent* event)
{
    Timer1->stop();
    Timer2->stop();
    Timer3->stop();
    // A fetch still under way ends with the window: nothing writes into it later.
    EndFetch();
    event->accept();
}
