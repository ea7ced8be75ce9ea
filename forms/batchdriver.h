#pragma once
#include "batchwalk.h"

#include <QObject>
#include <QPointer>
#include <QProcess>

class Form1;
class frmMonitor;

// Runs one batch over the Vardo list. It belongs to the main window, not to the status board:
// closing the board mid-batch ends the walk after the file in progress, whose outcome is still
// written into its own entry. It waits for each encoder by its finished signal, so the program
// uses no CPU while an encoder works.
class BatchDriver : public QObject {
    Q_OBJECT
public:
    BatchDriver(Form1* main, frmMonitor* board);

    void VardoMediaFile();

    // Starts the encoder for one file: 0 when it runs, -1 when it cannot be started.
    int MediaConvert(const QString& Source, const QString& Target);

signals:
    // The batch is over; the driver deletes itself afterwards.
    void Finished();

private:
    bool Running() const;
    void TakeNext();
    void Record(int started, int exitStatus, const QString& errorLine);
    void EncoderFinished(int exitCode, QProcess::ExitStatus status);
    void EndBatch();

    QPointer<Form1> main_;
    QPointer<frmMonitor> board_;
    vardune::BatchWalk walk_;
    QProcess* process_ = nullptr;
    std::uint64_t entry_ = 0;
    std::string target_;
};
