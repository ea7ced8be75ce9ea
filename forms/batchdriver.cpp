#include "batchdriver.h"

#include "form1.h"
#include "frmmonitor.h"
#include "module1.h"
#include "vardolistmodel.h"

#include "encodercommand.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>

BatchDriver::BatchDriver(Form1* main, frmMonitor* board)
    : QObject(main)
    , main_(main)
    , board_(board)
{
}

bool BatchDriver::Running() const
{
    return board_ && board_->iRunning == 1;
}

void BatchDriver::VardoMediaFile()
{
    walk_.Start(main_->ListModel->List());
    if (board_) {
        board_->DisplayDigital(board_->PicFile1, Module1::ToQt(vardune::BatchWalk::CounterText(walk_.Total())));
        board_->DisplayDigital(board_->PicFile2, QStringLiteral("000"));
        board_->iRunning = 1;
    }
    TakeNext();
}

void BatchDriver::TakeNext()
{
    // Encoders that cannot be started fail their entries one after the other, here, without
    // waiting for anything.
    while (main_ && Running()) {
        const auto id = walk_.Next(main_->ListModel->List());
        if (!id)
            break;
        const vardune::VardoList& list = main_->ListModel->List();
        const vardune::VardoEntry& entry = list.At(static_cast<std::size_t>(list.Find(*id)));
        const QString source = Module1::ToQt(entry.sourcePath + entry.sourceName);
        board_->DisplayDigital(board_->PicFile2, Module1::ToQt(vardune::BatchWalk::CounterText(walk_.Current())));
        board_->Label1->setText(source);

        // The separator goes into the box itself, so the stored output folder keeps it.
        const std::string folder = vardune::BatchWalk::NormaliseOutputFolder(Module1::FromQt(main_->Text1->text()));
        if (Module1::ToQt(folder) != main_->Text1->text())
            main_->Text1->setText(Module1::ToQt(folder));
        target_ = walk_.OutputPath(folder, entry.sourceName);
        board_->Label2->setText(Module1::ToQt(target_));

        entry_ = *id;
        main_->ListModel->SetConverting(entry_, true);
        if (MediaConvert(source, Module1::ToQt(target_)) == 0)
            return;
        Record(-1, 0, QString());
    }
    EndBatch();
}

int BatchDriver::MediaConvert(const QString& Source, const QString& Target)
{
    const vardune::EncodingProfile profile = Module1::settings().profile;
    QStringList arguments;
    for (const std::string& argument : vardune::EncoderCommand::Arguments(Module1::FromQt(Source), Module1::FromQt(Target), profile))
        arguments << Module1::ToQt(argument);

    delete process_;
    process_ = new QProcess(this);
    process_->setProgram(Module1::EncoderFolder() + QDir::separator() + Module1::ToQt(vardune::EncoderCommand::ProgramName()));
    process_->setArguments(arguments);
    // Its progress lines are not needed; its error line says why a file failed.
    process_->setStandardOutputFile(QProcess::nullDevice());
    process_->setStandardInputFile(QProcess::nullDevice());
    connect(process_, &QProcess::finished, this, &BatchDriver::EncoderFinished);
    process_->start();
    if (!process_->waitForStarted(10000)) {
        process_->disconnect(this);
        return -1;
    }
    return 0;
}

void BatchDriver::EncoderFinished(int exitCode, QProcess::ExitStatus status)
{
    QString errorLine;
    const QStringList lines = QString::fromUtf8(process_->readAllStandardError()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (!lines.isEmpty())
        errorLine = lines.last().trimmed().left(500);
    if (status == QProcess::CrashExit) {
        exitCode = exitCode == 0 ? 1 : exitCode;
        if (errorLine.isEmpty())
            errorLine = QStringLiteral("the encoder stopped unexpectedly");
    }
    Record(0, exitCode, errorLine);
    TakeNext();
}

void BatchDriver::Record(int started, int exitStatus, const QString& errorLine)
{
    if (!main_)
        return;
    VardoListModel* model = main_->ListModel;
    model->SetConverting(entry_, false);
    const vardune::VardoList& list = model->List();
    const long position = list.Find(entry_);
    // Removed while its encoder ran: there is nothing to write into.
    if (position < 0)
        return;
    const std::string sourceSize = list.At(static_cast<std::size_t>(position)).sourceSize;
    const std::string targetSize = started == 0 && exitStatus == 0 ? vardune::VardoList::GetFileSize(target_) : std::string(" ");
    model->Record(entry_, target_, vardune::BatchWalk::Judge(started, exitStatus, Module1::FromQt(errorLine), targetSize, sourceSize));
}

void BatchDriver::EndBatch()
{
    if (board_)
        board_->close();
    emit Finished();
    deleteLater();
}
