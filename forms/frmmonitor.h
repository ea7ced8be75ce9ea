#pragma once
#include "batchboard.h"
#include "skinnedwindow.h"

#include <QPixmap>
#include <QPointer>
#include <QVector>

#include <optional>

class QLabel;
class QPushButton;
class QTimer;

// The status board: the batch runs while it is open. It disables the main window, asks for the
// batch a second after it opens (Go), shows how it goes, animates the progress picture, and
// closes when the batch is over or when the user ends it.
class frmMonitor : public SkinnedWindow, public BatchBoard {
    Q_OBJECT
public:
    // main: the window it disables while open. animationStep: the progress picture's step,
    // kept by main from one opening of the board to the next (the board's own when null).
    explicit frmMonitor(QWidget* main, qint16* animationStep = nullptr);

    void DisplayDigital(QLabel* DisplayPic, const QString& Strin);
    qint16 SetProgressPic(qint16 iValue);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* ProgressPic1;
    QLabel* ProgressPic2;
    QVector<QPixmap> ProgressImageList1;
    QLabel* PicFile1;
    QLabel* PicFile2;
    QPushButton* Command2;
    QLabel* Picture1;
    // How far the whole batch is and the time left, on the free strip under the readouts.
    QLabel* BatchProgress;
    QTimer* Timer1;
    QTimer* Timer2;

    // 1 while the batch may take up further entries, else 0.
    qint16 iRunning = 0;
    // Only these waiting entries are converted (those that fit in the output folder); all of
    // them when empty.
    std::optional<std::vector<std::uint64_t>> filesChosen;
    // Every file at this bitrate (bit/s) instead of the quality's, or 0.
    int chosenBitrate = 0;

    // What the batch shows here, and whether it goes on.
    QObject* BoardObject() override { return this; }
    bool Going() const override { return iRunning == 1; }
    std::optional<std::vector<std::uint64_t>> FilesChosen() const override { return filesChosen; }
    int ChosenBitrate() const override { return chosenBitrate; }
    void BatchStarted(const QString& total) override;
    void ShowStatus(const QString& text) override;
    void ShowSource(const QString& current, const QString& source) override;
    void ShowTarget(const QString& target) override;
    void ShowBatchLine(const QString& line) override;
    void EndBoard() override { close(); }

signals:
    // The board has been open a second: the batch is to run, shown here.
    void Go();

protected:
    void imgTitleClose_Click() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Timer1_Timer();
    void Timer2_Timer();
    void Command2_Click();

    QPointer<QWidget> main_;
    qint16 ownStep_ = 0;
    qint16* animationStep_;
};
