#include "progresspicture.h"

#include "module1.h"
#include "progressstep.h"

#include <QLabel>

qint16 SetProgressPic(QLabel* ProgressPic1, QLabel* ProgressPic2, const QVector<QPixmap>& ProgressImageList1,
                      qint16 iValue, bool repaintWindow)
{
    if (iValue < 0 || iValue > 100)
        return -1;
    if (iValue == 0) {
        ProgressPic2->setVisible(true);
        ProgressPic2->setGeometry(ProgressPic1->x(), ProgressPic1->y(), 1, ProgressPic1->height());
        ProgressPic1->setPixmap(ProgressPic2->pixmap());
        const int k = vardune::ProgressStep::Pick(Module1::Random(), static_cast<int>(ProgressImageList1.size()));
        ProgressPic2->setPixmap(ProgressImageList1.value(k - 1));
        if (repaintWindow) {
            ProgressPic1->window()->update();
        } else {
            ProgressPic1->update();
            ProgressPic2->update();
        }
        return 0;
    }
    ProgressPic2->resize(vardune::ProgressStep::Width(iValue, ProgressPic1->width()), ProgressPic2->height());
    ProgressPic2->update();
    return 0;
}

void PrepareProgressPictures(QLabel* ProgressPic1, QLabel* ProgressPic2, const QVector<QPixmap>& ProgressImageList1)
{
    for (QLabel* box : {ProgressPic1, ProgressPic2}) {
        box->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        box->setLineWidth(2);
    }
    ProgressPic1->setPixmap(ProgressBackground());
    ProgressPic2->setPixmap(ProgressImageList1.value(2));
}

QVector<QPixmap> ProgressImages()
{
    Module1::LoadResources();
    QVector<QPixmap> images;
    for (int i = 1; i <= 10; ++i)
        images << QPixmap(QStringLiteral(":/progress/progress%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
    return images;
}

QPixmap ProgressBackground()
{
    Module1::LoadResources();
    return QPixmap(QStringLiteral(":/progress/background.jpg"));
}
