#include "frmmonitor.h"

#include "digitaldisplay.h"
#include "formcontrols.h"
#include "progresspicture.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>


frmMonitor::frmMonitor(QWidget* main, qint16* animationStep)
    : SkinnedWindow(QStringLiteral("Vardune Status Board"), 339, 276)
    , main_(main)
    , animationStep_(animationStep ? animationStep : &ownStep_)
{
    setObjectName(QStringLiteral("frmMonitor"));
    setAttribute(Qt::WA_DeleteOnClose);
    const QColor caption(0, 0, 64), path(0, 0, 128);
    Label3 = NewCaption(this, "Label3", QStringLiteral("Source Media File:"), {16, 32, 261, 17}, caption);
    Label1 = NewCaption(this, "Label1", QStringLiteral("Source File"), {16, 48, 304, 49}, path);
    Label4 = NewCaption(this, "Label4", QStringLiteral("Output Media File:"), {16, 104, 297, 17}, caption);
    Label2 = NewCaption(this, "Label2", QStringLiteral("Output File"), {16, 120, 304, 49}, path);
    Label5 = NewCaption(this, "Label5", QStringLiteral("Current:"), {16, 232, 81, 17}, caption);
    Label6 = NewCaption(this, "Label6", QStringLiteral("Total:"), {136, 232, 57, 17}, caption);
    for (QLabel* label : {Label1, Label2}) {
        // Three lines of text; long paths wrap anywhere rather than run out of the board.
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
    }

    ProgressImageList1 = ProgressImages();
    ProgressPic1 = NewPictureBox(this, "ProgressPic1", {16, 176, 304, 54});
    ProgressPic2 = NewPictureBox(this, "ProgressPic2", {16, 176, 16, 54});
    PrepareProgressPictures(ProgressPic1, ProgressPic2, ProgressImageList1);

    PicFile2 = NewReadout(this, "PicFile2", {72, 232, 57, 25});
    PicFile1 = NewReadout(this, "PicFile1", {192, 232, 57, 25});
    // The captions keep their places; each whole text fits before what lies beside it (the
    // readouts overlap the ends of "Current:" and "Total:").
    FitCaption(Label3, Label3->width());
    FitCaption(Label4, Label4->width());
    FitCaption(Label5, PicFile2->x() - Label5->x());
    FitCaption(Label6, PicFile1->x() - Label6->x());
    Command2 = new QPushButton(QStringLiteral("Exit"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(264, 232, 57, 25);
    connect(Command2, &QPushButton::clicked, this, &frmMonitor::Command2_Click);
    // The board's one control has the keys: Space stops the batch from the keyboard, and no
    // other key (Escape included) stops it by accident.
    Command2->setFocus();

    // Several files convert at once, so the paths above tell only of the one started last;
    // this line tells of the whole batch. It takes the free strip above the bottom edge and
    // leaves every other control where it is.
    BatchProgress = NewCaption(this, "BatchProgress", QString(), {16, 259, 305, 13}, caption);
    QFont small = BatchProgress->font();
    small.setBold(false);
    small.setPointSizeF(7.5);
    BatchProgress->setFont(small);
    BatchProgress->setTextFormat(Qt::PlainText);

    Picture1 = NewPictureBox(this, "Picture1", {8, 320, 252, 20});
    Picture1->setPixmap(QPixmap(QStringLiteral(":/glyphs/glyphstrip.png")));
    Picture1->hide();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &frmMonitor::Timer1_Timer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(1000);
    connect(Timer2, &QTimer::timeout, this, &frmMonitor::Timer2_Timer);

    Form_Load();
    Timer1->start();
    Timer2->start();
}

void frmMonitor::Form_Load()
{
    SetFormSkin();
    if (main_)
        main_->setEnabled(false);
    DisplayDigital(PicFile1, QStringLiteral("000"));
    DisplayDigital(PicFile2, QStringLiteral("000"));
    iRunning = 0;
}

void frmMonitor::DisplayDigital(QLabel* DisplayPic, const QString& Strin)
{
    ::DisplayDigital(DisplayPic, Strin, Picture1);
    NameReadout(DisplayPic, DisplayPic == PicFile1 ? Label6 : Label5, Strin);
}

qint16 frmMonitor::SetProgressPic(qint16 iValue)
{
    return ::SetProgressPic(ProgressPic1, ProgressPic2, ProgressImageList1, iValue, true);
}

void frmMonitor::Timer1_Timer()
{
    if (!main_)
        return;
    qint16& step = *animationStep_;
    step = static_cast<qint16>(step + 5);
    if (step > 100 || step < 0)
        step = 0;
    SetProgressPic(step);
}

void frmMonitor::Timer2_Timer()
{
    // Fires once: the batch runs from here.
    Timer2->stop();
    if (!main_)
        return;
    emit Go();
}

void frmMonitor::BatchStarted(const QString& total)
{
    DisplayDigital(PicFile1, total);
    DisplayDigital(PicFile2, QStringLiteral("000"));
    iRunning = 1;
}

void frmMonitor::ShowStatus(const QString& text)
{
    Label1->setText(text);
}

void frmMonitor::ShowSource(const QString& current, const QString& source)
{
    DisplayDigital(PicFile2, current);
    Label1->setText(source);
}

void frmMonitor::ShowTarget(const QString& target)
{
    Label2->setText(target);
}

void frmMonitor::ShowBatchLine(const QString& line)
{
    BatchProgress->setText(line);
}

void frmMonitor::Command2_Click()
{
    iRunning = 0;
    close();
}

void frmMonitor::imgTitleClose_Click()
{
    if (main_)
        main_->setEnabled(true);
    close();
}

void frmMonitor::closeEvent(QCloseEvent* event)
{
    // However the board goes, the batch takes up no further entry and the main window is
    // usable again.
    iRunning = 0;
    Timer1->stop();
    Timer2->stop();
    if (main_)
        main_->setEnabled(true);
    event->accept();
}
