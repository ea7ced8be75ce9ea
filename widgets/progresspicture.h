#pragma once
#include <QPixmap>
#include <QVector>

class QLabel;

// One step of the sliding progress picture. 0 starts a new cycle: the sliding picture becomes
// the background and a random picture of the list starts to slide in, 1 pixel wide. 1 to 100
// make it that many per cent as wide as the background. Any other value changes nothing and
// gives -1. repaintWindow: the whole window is repainted at the change of picture.
qint16 SetProgressPic(QLabel* ProgressPic1, QLabel* ProgressPic2, const QVector<QPixmap>& ProgressImageList1,
                      qint16 iValue, bool repaintWindow);

// Gives a window's two progress boxes their sunken frames and first pictures: the background
// picture behind, the third of the list in front.
void PrepareProgressPictures(QLabel* ProgressPic1, QLabel* ProgressPic2, const QVector<QPixmap>& ProgressImageList1);

// The ten pictures every progress animation chooses from, and the picture behind them at first.
QVector<QPixmap> ProgressImages();
QPixmap ProgressBackground();
