#pragma once
#include "form1.h"
#include "frmmonitor.h"
#include "module1.h"
#include "vardolistmodel.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

// The main window as the batch tests start from it: fresh settings, an empty list, and an
// output folder in a sandbox of its own. A test class takes it as a base next to QObject and
// calls OpenMainWindow from its init slot and CloseMainWindow from its cleanup slot.
class BatchWindow {
protected:
    QTemporaryDir* dir_ = nullptr;
    Form1* form_ = nullptr;

    void OpenMainWindow()
    {
        dir_ = new QTemporaryDir;
        Module1::Test::ReleaseInstanceLock();
        Module1::settings() = {};
        // An earlier test that closed its window kept its list.
        QFile::remove(Module1::VardoListFilePath());
        form_ = new Form1;
        form_->InitForm();
        QDir().mkpath(Path("out"));
        form_->Text1->setText(Path("out"));
        Module1::Test::TakeAskedMessages();  // what earlier tests were asked
    }

    // False when a board stays open: a failed test may leave its board behind, and the next
    // test must start without it.
    bool CloseMainWindow()
    {
        delete form_;
        form_ = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (qobject_cast<frmMonitor*>(window))
                window->close();
        const bool closed = QTest::qWaitFor([] { return !BoardOpen(); }, 5000);
        // By bytes: QDir passes over names that are not UTF-8, which some tests make.
        std::error_code error;
        std::filesystem::remove_all(QFile::encodeName(dir_->path()).toStdString(), error);
        delete dir_;
        dir_ = nullptr;
        Module1::Test::TakeAskedMessages();
        return closed;
    }

    QString Path(const QString& name) const { return dir_->path() + "/" + name; }
    const vardune::VardoEntry& Entry(int row) const { return form_->ListModel->List().At(static_cast<std::size_t>(row)); }

    // Appends waiting entries for the files, as Add does for files that pass its checks.
    void Add(const QStringList& paths)
    {
        std::vector<std::pair<std::string, std::string>> files;
        for (const QString& path : paths)
            files.emplace_back(Module1::FromQt(path), vardune::VardoList::GetFileSize(Module1::FromQt(path)));
        form_->ListModel->Append(files);
    }

    // Opens the board and waits until it has closed itself.
    bool RunBatch(int seconds = 60)
    {
        form_->StartVardo->trigger();
        return QTest::qWaitFor([this] { return form_->isEnabled() && !BoardOpen(); }, seconds * 1000);
    }

    static frmMonitor* OpenBoard()
    {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* board = qobject_cast<frmMonitor*>(window); board && board->isVisible())
                return board;
        return nullptr;
    }
    static bool BoardOpen() { return OpenBoard() != nullptr; }
};
