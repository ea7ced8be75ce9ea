#pragma once
#include "skinnedwindow.h"

#include <QByteArray>
#include <QPixmap>
#include <QPointer>
#include <QVector>

class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class QPushButton;
class QTimer;
class QToolButton;

// The version check: a second after it opens it fetches the vendor's version file, shows the
// installed and the latest version in glyphs, and offers the download page when a newer
// release exists. The fetch runs in the background: the window stays responsive throughout.
class frmUpdate : public SkinnedWindow {
    Q_OBJECT
public:
    frmUpdate();

    void DisplayDigital(QLabel* DisplayPic, const QString& Strin);
    qint16 SetProgressPic(qint16 iValue);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* ProgressPic1;
    QLabel* ProgressPic2;
    QVector<QPixmap> ProgressImageList1;
    QLabel* picVer1;
    QLabel* picVer2;
    QToolButton* cmdDownload;
    QPushButton* Command5;
    QPushButton* Command4;
    QLabel* Picture1;
    QTimer* Timer1;
    QTimer* Timer2;
    QTimer* Timer3;

    // Where the version file is fetched from, and how long the whole request may take, from
    // asking to the last byte: a server that trickles its answer ends in Failed all the same.
    QString site;
    int requestTimeout = 60000;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    void FetchRead();
    void FetchFinished();
    void EndFetch();
    void Failed();
    void cmdDownload_Click();

    qint16 counter_ = 0;
    QNetworkAccessManager* network_;
    QTimer* deadline_;
    QPointer<QNetworkReply> reply_;
    QByteArray body_;
    bool bodyComplete_ = false;
};
