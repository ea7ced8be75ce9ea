#include "choicebox.h"
#include "filelistview.h"
#include "form1.h"
#include "guitestmain.h"
#include "module1.h"
#include "vardolistmodel.h"
#include "vardolistview.h"

#include <QComboBox>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMimeData>
#include <QToolBar>
#include <QToolButton>

#include <sys/stat.h>

using vardune::EntryState;

namespace {

QStringList Row(const VardoListModel* model, int row)
{
    QStringList texts;
    for (int column = 0; column < 7; ++column)
        texts << model->index(row, column).data().toString();
    return texts;
}

QStringList Column(const VardoListModel* model, int column)
{
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, column).data().toString();
    return texts;
}

} // namespace

class VardoListTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir* dir_ = nullptr;
    Form1* form_ = nullptr;

    QString Make(const QString& name, int bytes)
    {
        QFile file(dir_->path() + "/" + name);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot make %s", qPrintable(name));
        file.write(QByteArray(bytes, 'x'));
        return file.fileName();
    }

    // Selects these names in the file view, in view order, as a user would.
    bool Select(const QStringList& names)
    {
        FileListView* view = form_->XListView1;
        QFileSystemModel* model = view->FileModel();
        view->clearSelection();
        for (const QString& name : names) {
            const QModelIndex index = model->index(dir_->path() + "/" + name);
            if (!QTest::qWaitFor([&] { return view->rootIndex().isValid() && model->rowCount(view->rootIndex()) > 0; }))
                return false;
            if (!index.isValid())
                return false;
            view->selectionModel()->select(index, QItemSelectionModel::Select);
        }
        return true;
    }

    std::vector<Module1::MessageRequest> Asked() { return Module1::Test::TakeAskedMessages(); }

private slots:
    void initTestCase() { Module1::Test::SetEndProcessHandler([] {}); }

    void init()
    {
        dir_ = new QTemporaryDir;
        Module1::Test::ReleaseInstanceLock();
        form_ = new Form1;
        form_->InitForm();
        form_->ComboBox1->setEditText("*.*");
        form_->XListView1->SetCurrentFolder(dir_->path());
        Asked();
    }

    void cleanup()
    {
        delete form_;
        delete dir_;
    }

    void anEntryShowsFolderNameSizeAndWaits()
    {
        const QString song = Make("song.wav", 1048576);
        QTRY_VERIFY(Select({"song.wav"}));
        form_->AddEntry->trigger();
        QCOMPARE(form_->ListModel->rowCount(), 1);
        QCOMPARE(Row(form_->ListModel, 0),
                 QStringList({"Media File", dir_->path() + "/", "song.wav", " 1048576", "", "", ""}));
        QCOMPARE(form_->ListModel->index(0, 0).data(Qt::UserRole).toInt(), 5);
        QVERIFY(!form_->ListModel->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        QVERIFY(Asked().empty());
    }

    void refusedFilesGetTheirOwnMessageAndTheOthersAreAdded()
    {
        Make("1.mp3", 10);
        const QString empty = Make("2.mp3", 0);
        Make("3.mp3", 30);
        QTRY_VERIFY(Select({"1.mp3", "2.mp3", "3.mp3"}));
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ButtonClick("Add");
        QCOMPARE(Column(form_->ListModel, 2), QStringList({"1.mp3", "3.mp3"}));
        auto asked = Asked();
        QCOMPARE(asked.size(), std::size_t(1));
        QCOMPARE(asked[0].text, "Invalid file name: " + empty + " or file size is 0 byte.");
        QCOMPARE(asked[0].title, QStringLiteral("Invalid File Name"));
        QCOMPARE(asked[0].icon, QMessageBox::Information);
        QCOMPARE(asked[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

        // The same files again: duplicates of waiting entries, one message each.
        QTRY_VERIFY(Select({"1.mp3", "3.mp3"}));
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->AddSelectedEntries();
        asked = Asked();
        QCOMPARE(asked.size(), std::size_t(2));
        QCOMPARE(asked[1].text, "Duplicated file name: " + dir_->path() + "/3.mp3");
        QCOMPARE(asked[1].title, QStringLiteral("Duplicated File Name"));
        QCOMPARE(asked[1].icon, QMessageBox::Information);
        QCOMPARE(form_->ListModel->rowCount(), 2);

        // Once the batch has marked an entry, the same file can wait again beside it.
        const auto first = form_->ListModel->List().At(0).id;
        form_->ListModel->SetResult(first, "/out/V_1.mp3", " 5", " 50%", EntryState::Done);
        QTRY_VERIFY(Select({"1.mp3"}));
        form_->AddSelectedEntries();
        QVERIFY(Asked().empty());
        QCOMPARE(Column(form_->ListModel, 2), QStringList({"1.mp3", "3.mp3", "1.mp3"}));
    }

    void awkwardNamesAndVanishedFiles()
    {
        const QStringList names = {"with blank.mp3", "quote\"d 'n.mp3", "new\nline.mp3", "-dash.mp3", "Müsik 日本.mp3"};
        for (const QString& name : names)
            Make(name, 7);
        const QString gone = Make("gone.mp3", 7);
        QTRY_VERIFY(Select(names + QStringList{"gone.mp3"}));
        QFile::remove(gone);
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->AddSelectedEntries();
        QStringList expected = names;
        std::sort(expected.begin(), expected.end(), [this](const QString& a, const QString& b) {
            return form_->XListView1->FileModel()->index(dir_->path() + "/" + a).row()
                < form_->XListView1->FileModel()->index(dir_->path() + "/" + b).row();
        });
        QCOMPARE(Column(form_->ListModel, 2), expected);
        const auto asked = Asked();
        QCOMPARE(asked.size(), std::size_t(1));
        QCOMPARE(asked[0].title, QStringLiteral("Invalid File Name"));
    }

    void filesDroppedFromAFileManagerGoThroughTheSameChecks()
    {
        const QString good = Make("good.wav", 5);
        const QString folder = dir_->path() + "/folder";
        QDir(dir_->path()).mkpath("folder/sub");
        for (const auto& [name, size] : {std::pair{"folder/b.mp3", 3}, {"folder/empty.wav", 0}, {"folder/sub/a.WAV", 2},
                                        {"folder/notes.txt", 4}})
            Make(name, size);
        ::mkfifo(QFile::encodeName(dir_->path() + "/pipe").constData(), 0600);
        for (int i = 0; i < 4; ++i)
            Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        emit form_->ListView1->DroppedFiles({good, folder, dir_->path() + "/pipe", good});
        // Added once the drop is over, so no message holds the dragging program.
        QCOMPARE(form_->ListModel->rowCount(), 0);
        QTRY_COMPARE(Column(form_->ListModel, 2), QStringList({"good.wav", "b.mp3", "a.WAV"}));
        QCOMPARE(Column(form_->ListModel, 1), QStringList({dir_->path() + "/", folder + "/", folder + "/sub/"}));
        const auto asked = Asked();
        QCOMPARE(asked.size(), std::size_t(4));
        QCOMPARE(asked[0].title, QStringLiteral("Invalid File Name"));
        QCOMPARE(asked[0].text, "Invalid file name: " + folder + "/empty.wav or file size is 0 byte.");
        QCOMPARE(asked[1].title, QStringLiteral("Folder Added"));
        QCOMPARE(asked[1].text, "2 media files were added from " + folder + ".");
        QCOMPARE(asked[1].icon, QMessageBox::Information);
        QCOMPARE(asked[2].title, QStringLiteral("Invalid File Name"));
        QCOMPARE(asked[3].title, QStringLiteral("Duplicated File Name"));

        // A folder dropped again adds nothing new: each of its files is a duplicate.
        for (int i = 0; i < 2; ++i)
            Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        emit form_->ListView1->DroppedFiles({folder + "/sub"});
        QCoreApplication::processEvents();
        QCOMPARE(form_->ListModel->rowCount(), 3);
        const auto again = Asked();
        QCOMPARE(again.size(), std::size_t(2));
        QCOMPARE(again[0].title, QStringLiteral("Duplicated File Name"));
        QCOMPARE(again[1].text, "0 media files were added from " + folder + "/sub.");

        // A drop of URLs reaches the same path.
        const QString other = Make("other.wav", 5);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(other)});
        const QPoint at = form_->ListView1->viewport()->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form_->ListView1->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form_->ListView1->viewport(), &drop);
        QTRY_COMPARE(Column(form_->ListModel, 2), QStringList({"good.wav", "b.mp3", "a.WAV", "other.wav"}));
    }

    void itemEventAddsOnlyWhenTheFirstSelectedIsANonEmptyFile()
    {
        Make("a.mp3", 0);
        Make("b.mp3", 9);
        QTRY_VERIFY(Select({"a.mp3", "b.mp3"}));
        emit form_->XListView1->ItemEvent(QString());
        QCOMPARE(form_->ListModel->rowCount(), 0);
        QVERIFY(Asked().empty());
        QTRY_VERIFY(Select({"b.mp3"}));
        emit form_->XListView1->ItemEvent(QString());
        QCOMPARE(form_->ListModel->rowCount(), 1);
        form_->XListView1->clearSelection();
        emit form_->XListView1->ItemEvent(QString());
        QCOMPARE(form_->ListModel->rowCount(), 1);
    }

    void removeTakesTheSelectedEntriesAndClearAsksFirst()
    {
        QStringList names = {"1.mp3", "2.mp3", "3.mp3", "4.mp3"};
        for (const QString& name : names)
            Make(name, 4);
        QTRY_VERIFY(Select(names));
        form_->AddSelectedEntries();
        form_->RemoveSelectedEntries();  // nothing selected in the list: nothing happens
        QCOMPARE(form_->ListModel->rowCount(), 4);
        auto* selection = form_->ListView1->selectionModel();
        selection->select(form_->ListModel->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        selection->select(form_->ListModel->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        form_->RemoveEntry->trigger();
        QCOMPARE(Column(form_->ListModel, 2), QStringList({"1.mp3", "4.mp3"}));

        form_->ListModel->SetResult(form_->ListModel->List().At(0).id, "/o", " 1", " 25%", EntryState::Failed);
        Module1::Test::SetNextMessageAnswer(QMessageBox::Cancel);
        form_->ClearAllEntry->trigger();
        QCOMPARE(form_->ListModel->rowCount(), 2);
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ButtonClick("Clear");
        QCOMPARE(form_->ListModel->rowCount(), 0);
        const auto asked = Asked();
        QCOMPARE(asked.size(), std::size_t(2));
        QCOMPARE(asked[0].text, QStringLiteral("Do yo really want to delete all enties?"));
        QCOMPARE(asked[0].title, QStringLiteral("Confirm Delete All"));
        QCOMPARE(asked[0].icon, QMessageBox::Question);
        QCOMPARE(asked[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(asked[0].defaultButton, QMessageBox::Cancel);
        // Asked even when the list is empty.
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ClearAllEntries();
        QCOMPARE(Asked().size(), std::size_t(1));
    }

    void outputFolderFromThePickerReachesTheSettings()
    {
        form_->Text1->setText(dir_->path());
        const QString before = form_->Text1->text();
        Module1::Test::SetNextFolderAnswer(QString());
        form_->Command1->click();
        QCOMPARE(Module1::Test::TakeFolderTitles(), QStringList({"Please select a folder."}));
        // The picker opens at the output folder.
        QCOMPARE(Module1::Test::TakeFolderStarts(), QStringList({before}));
        QCOMPARE(form_->Text1->text(), before);
        QCOMPARE(form_->Text1->toolTip(), QStringLiteral("Output path"));

        const QString chosen = dir_->path() + "/Müsik out";
        QDir().mkpath(chosen);
        Module1::Test::SetNextFolderAnswer(chosen);
        form_->OutputPath->trigger();
        QCOMPARE(form_->Text1->text(), chosen);
        QCOMPARE(form_->Text1->toolTip(), chosen);
        QCOMPARE(Module1::settings().targetFolder, Module1::FromQt(chosen));
        form_->Exit->trigger();
        QCOMPARE(vardune::ReadConfig(Module1::FromQt(Module1::ConfigFilePath()), "").targetFolder,
                 Module1::FromQt(chosen));

        Module1::Test::SetNextFolderAnswer(QString());
        form_->Command1->click();
        QCOMPARE(Module1::Test::TakeFolderStarts(), QStringList({before, chosen}));

        // Typing into the box keeps the setting in step too; a folder that is not there sends
        // the picker home.
        form_->Text1->setFocus();
        QTest::keyClick(form_->Text1, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(form_->Text1, "/typed");
        QCOMPARE(Module1::settings().targetFolder, std::string("/typed"));
        Module1::Test::SetNextFolderAnswer(QString());
        form_->Command1->click();
        QCOMPARE(Module1::Test::TakeFolderStarts(), QStringList({QDir::homePath()}));
    }
};

VARDUNE_GUI_TEST_MAIN(VardoListTest)
#include "vardolist_test.moc"
