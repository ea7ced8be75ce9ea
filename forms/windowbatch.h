#pragma once
#include "batchhost.h"

#include <QObject>
#include <QPointer>

class EncoderPool;
class QLineEdit;
class QWidget;
class VardoListActions;
class VardoListModel;
class WaitingForecast;
class frmMonitor;

namespace vardune {
class TakenNames;
}

// The main window's side of a batch: it opens the status board (once the output folder is
// there and the user has agreed to what fits), runs the batch the board asks for over the
// Vardo list, and is the batch's host: its list, its output folder box, the program's encoder
// pool, what the forecast knows of each source, and the playlists the list carries. It tells
// the window when a batch has ended, and the desktop too when nobody is looking.
class WindowBatch : public QObject, public BatchHost {
    Q_OBJECT
public:
    // The window's parts the batch works with; window is disabled while the board is open.
    // animationStep: the board's animation step, kept from one opening of the board to the next.
    WindowBatch(QWidget* window, VardoListModel* list, QLineEdit* outputFolder, EncoderPool* pool,
                WaitingForecast* waiting, VardoListActions* actions, qint16* animationStep, QObject* parent);

    // Opens the status board, which runs the batch.
    void ShowStatusBoard();
    // The status board while it is open, or nullptr.
    QWidget* Board() const;
    // Closes the board: no further file starts; the files in progress finish.
    void CloseBoard();
    // The encoders running now, of every batch.
    int EncodersRunning() const;
    // Output paths that encoders write now, of every batch: no other encoder gets them.
    vardune::TakenNames& RunningTargets();

    // BatchHost
    QObject* HostObject() override { return this; }
    const vardune::Settings& BatchSettings() const override;
    VardoListModel* BatchList() override { return list_; }
    QString OutputFolderText() const override;
    void SetOutputFolderText(const QString& folder) override;
    EncoderPool& Pool() override { return *pool_; }
    const vardune::OutputLayout::Tags* SourceTags(std::uint64_t entry) const override;
    bool SourceTagsPending(std::uint64_t entry) const override;
    double SourceSeconds(std::uint64_t entry) const override;
    const std::optional<vardune::LoudnessLevel::Measure>* MeasuredAhead(std::uint64_t entry) const override;
    void ReadEditedSources() override;
    const std::vector<CarriedPlaylist>& Playlists() const override;
    bool WantsDesktopNotice() const override;
    void TellDesktop(const QString& summary) override;

signals:
    // The command to start a batch begins (the status bar's line of the last batch goes).
    void CommandBegun();
    // A batch has ended: what it did, or empty when it took up no file.
    void Finished(const QString& summary);

private:
    // Before a batch: the output folder is there and takes files, or the user has it made;
    // false when the batch must not start.
    bool OutputFolderReady();
    // The board's start: the batch runs from here.
    void Run(frmMonitor* board);

    QWidget* window_;
    VardoListModel* list_;
    QLineEdit* outputFolder_;
    EncoderPool* pool_;
    WaitingForecast* waiting_;
    VardoListActions* actions_;
    qint16* animationStep_;
    QPointer<frmMonitor> monitor_;
};
