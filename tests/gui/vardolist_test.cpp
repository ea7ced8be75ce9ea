#include "choicebox.h"
#include "filelistview.h"
#include "foldertreeview.h"
#include "form1.h"
#include "guitestmain.h"
#include "module1.h"
#include "vardolistmodel.h"
#include "vardolistview.h"
#include "vardolistactions.h"

#include "mediafolder.h"

#include <QComboBox>
#include <QDBusConnection>
#include <QProcess>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMenu>
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

// A right click on a point of a widget, through its window as the window system delivers it,
// so the widget gets its context menu event as it would from the mouse.
void RightClick(QWidget* widget, QPoint at)
{
    QWidget* window = widget->window();
    QTest::mouseClick(window->windowHandle(), Qt::RightButton, Qt::NoModifier, widget->mapTo(window, at));
}

// The context menu that is open now, and the names of its actions that can be chosen.
QMenu* OpenMenu()
{
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

QStringList Enabled(QMenu* menu)
{
    QStringList names;
    for (QAction* action : menu->actions())
        if (!action->isSeparator() && action->isEnabled())
            names << action->objectName();
    return names;
}

// Chooses an action of the open menu with the mouse.
void Choose(QMenu* menu, const char* name)
{
    for (QAction* action : menu->actions())
        if (action->objectName() == QLatin1String(name))
            QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(action).center());
}

} // namespace

// A file manager on the session bus, as far as the program uses one: it keeps what it was
// asked to show.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;

public slots:
    void ShowItems(const QStringList& uris, const QString&) { shown << uris; }
};

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
        view->clearSelection();
        const auto shown = [&] {
            for (const QString& name : names)
                if (!view->IndexOf(dir_->path() + "/" + name).isValid())
                    return false;
            return true;
        };
        if (!QTest::qWaitFor(shown))
            return false;
        // Files that have just come are sorted into their places a moment later.
        QTest::qWait(50);
        for (const QString& name : names)
            view->selectionModel()->select(view->IndexOf(dir_->path() + "/" + name), QItemSelectionModel::Select);
        return shown();
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
        // Added from the folder the file view shows: kept folders start there.
        QCOMPARE(form_->ListModel->List().At(0).root, Module1::FromQt(dir_->path() + "/"));
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
        form_->ListActions->AddSelectedEntries();
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
        form_->ListActions->AddSelectedEntries();
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
        form_->ListActions->AddSelectedEntries();
        QStringList expected = names;
        std::sort(expected.begin(), expected.end(), [this](const QString& a, const QString& b) {
            return form_->XListView1->IndexOf(dir_->path() + "/" + a).row()
                < form_->XListView1->IndexOf(dir_->path() + "/" + b).row();
        });
        QCOMPARE(Column(form_->ListModel, 2), expected);
        const auto asked = Asked();
        QCOMPARE(asked.size(), std::size_t(1));
        QCOMPARE(asked[0].title, QStringLiteral("Invalid File Name"));
    }

    void filesDroppedFromAFileManagerGoThroughTheSameChecks()
    {
        const QString good = Make("good.wav", 5);
        const QString picture = Make("loose.jpg", 5);
        const QString folder = dir_->path() + "/folder";
        QDir(dir_->path()).mkpath("folder/sub");
        // A folder gives the same files as its files dropped one by one: its FLAC too, never
        // its picture or notes.
        for (const auto& [name, size] : {std::pair{"folder/b.mp3", 3}, {"folder/empty.wav", 0}, {"folder/sub/a.WAV", 2},
                                        {"folder/notes.txt", 4}, {"folder/c.flac", 6}, {"folder/cover.jpg", 7}})
            Make(name, size);
        ::mkfifo(QFile::encodeName(dir_->path() + "/pipe.wav").constData(), 0600);
        for (int i = 0; i < 5; ++i)
            Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        const QString playlist = Make("road.m3u8", 9);
        emit form_->ListView1->DroppedFiles({good, picture, folder, dir_->path() + "/pipe.wav", good, playlist});
        // Added once the drop is over, so no message holds the dragging program.
        QCOMPARE(form_->ListModel->rowCount(), 0);
        QTRY_COMPARE(Column(form_->ListModel, 2), QStringList({"good.wav", "b.mp3", "c.flac", "a.WAV"}));
        QCOMPARE(Column(form_->ListModel, 1), QStringList({dir_->path() + "/", folder + "/", folder + "/", folder + "/sub/"}));
        // A file dropped on its own has no folder it was added from; a dropped folder's files
        // are kept below the folder above it, so the folder keeps its name.
        QStringList roots;
        for (const auto& e : form_->ListModel->List().Entries())
            roots << Module1::ToQt(e.root);
        QCOMPARE(roots, QStringList({"", dir_->path() + "/", dir_->path() + "/", dir_->path() + "/"}));
        // A playlist dropped is no entry and no refused file: it goes along from its folder.
        QCOMPARE(int(form_->ListActions->Playlists().size()), 1);
        QCOMPARE(Module1::ToQt(form_->ListActions->Playlists()[0].path), playlist);
        QCOMPARE(Module1::ToQt(form_->ListActions->Playlists()[0].root), dir_->path() + "/");
        const auto asked = Asked();
        QCOMPARE(asked.size(), std::size_t(5));
        QCOMPARE(asked[0].title, QStringLiteral("Not an Audio File"));
        QVERIFY2(asked[0].text.startsWith("Not an audio file: " + picture + "."), qPrintable(asked[0].text));
        QCOMPARE(asked[1].title, QStringLiteral("Invalid File Name"));
        QCOMPARE(asked[1].text, "Invalid file name: " + folder + "/empty.wav or file size is 0 byte.");
        QCOMPARE(asked[2].title, QStringLiteral("Folder Added"));
        QCOMPARE(asked[2].text, "3 media files were added from " + folder
                                    + ". 2 other files were left out: Vardune converts only audio files (MP3, WAV, FLAC, Ogg, AIFF).");
        QCOMPARE(asked[2].icon, QMessageBox::Information);
        QCOMPARE(asked[3].title, QStringLiteral("Invalid File Name"));
        QCOMPARE(asked[4].title, QStringLiteral("Duplicated File Name"));

        // A folder dropped again adds nothing new: each of its files is a duplicate.
        for (int i = 0; i < 2; ++i)
            Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        emit form_->ListView1->DroppedFiles({folder + "/sub"});
        QCoreApplication::processEvents();
        QCOMPARE(form_->ListModel->rowCount(), 4);
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
        QTRY_COMPARE(Column(form_->ListModel, 2), QStringList({"good.wav", "b.mp3", "c.flac", "a.WAV", "other.wav"}));
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
        form_->ListActions->AddSelectedEntries();
        form_->ListActions->RemoveSelectedEntries();  // nothing selected in the list: nothing happens
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
        form_->ListActions->ClearAllEntries();
        QCOMPARE(Asked().size(), std::size_t(1));
    }

    void deleteKeyAndTheListMenu()
    {
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_));
        Module1::Test::CaptureDesktopRequests(true);
        std::vector<std::pair<std::string, std::string>> files;
        for (const char* name : {"1.mp3", "2.mp3", "3.mp3", "4.mp3"})
            files.emplace_back(Module1::FromQt(Make(name, 4)), " 4");
        form_->ListModel->Append(files);
        VardoListView* list = form_->ListView1;
        VardoListModel* model = form_->ListModel;
        const auto id = [&](int row) { return model->List().At(std::size_t(row)).id; };
        // 1 done (its output is there), 2 failed, 3 failed, 4 waiting.
        const QString output = Make("V_1.mp3", 2);
        model->SetResult(id(0), Module1::FromQt(output), " 2", " 50%", EntryState::Done);
        model->Record(id(1), Module1::FromQt(dir_->path() + "/V_2.mp3"),
                      {EntryState::Failed, true, " 0", std::nullopt, "the encoder left no output"});
        model->SetResult(id(2), "", "", "", EntryState::Failed);

        // On the done entry: its output can be opened and shown; nothing selected has failed.
        const auto rowCentre = [&](int row) { return list->visualRect(model->index(row, 2)).center(); };
        RightClick(list->viewport(), rowCentre(0));
        QTRY_VERIFY(OpenMenu());
        QCOMPARE(Enabled(OpenMenu()), QStringList({"ListRemove", "ListOpen", "ListShowInFolder"}));
        Choose(OpenMenu(), "ListOpen");
        RightClick(list->viewport(), rowCentre(0));
        QTRY_VERIFY(OpenMenu());
        Choose(OpenMenu(), "ListShowInFolder");
        QCOMPARE(Module1::Test::TakeDesktopRequests(), QStringList({"open " + output, "show " + output}));

        // Two failed entries selected: Retry sets them waiting, as new ones wait.
        list->setFocus();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rowCentre(1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ShiftModifier, rowCentre(2));
        RightClick(list->viewport(), rowCentre(2));
        QTRY_VERIFY(OpenMenu());
        QCOMPARE(Enabled(OpenMenu()), QStringList({"ListRemove", "ListRetry"}));  // no output to open
        Choose(OpenMenu(), "ListRetry");
        QTRY_COMPARE(model->index(1, 0).data(Qt::UserRole).toInt(), 5);
        QCOMPARE(model->index(2, 0).data(Qt::UserRole).toInt(), 5);
        QCOMPARE(Row(model, 1), QStringList({"Media File", dir_->path() + "/", "2.mp3", " 4", "", "", ""}));
        QCOMPARE(model->index(1, 2).data(Qt::ToolTipRole).toString(), QStringLiteral("2.mp3"));
        QVERIFY(Asked().empty());

        // Over no entry the menu offers only what the selection allows; with the file waiting
        // in another entry, a failed one is not set waiting twice.
        model->SetResult(id(1), "", "", "", EntryState::Failed);
        Make("5.mp3", 4);
        QTRY_VERIFY(Select({"2.mp3"}));
        form_->ListActions->AddSelectedEntries();
        list->selectionModel()->select(model->index(1, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ListRetry->trigger();
        QCOMPARE(model->index(1, 0).data(Qt::UserRole).toInt(), 3);
        auto asked = Asked();
        QCOMPARE(asked.size(), std::size_t(1));
        QCOMPARE(asked[0].text, "Duplicated file name: " + dir_->path() + "/2.mp3");

        // The Delete key removes the selected entries, as Remove does.
        list->selectionModel()->select(model->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        list->selectionModel()->select(model->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(Column(model, 2), QStringList({"2.mp3", "3.mp3", "2.mp3"}));
        list->clearSelection();
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(model->rowCount(), 3);
        RightClick(list->viewport(), QPoint(5, list->viewport()->height() - 5));
        QTRY_VERIFY(OpenMenu());
        QCOMPARE(Enabled(OpenMenu()), QStringList());
        OpenMenu()->close();
        Module1::Test::CaptureDesktopRequests(false);
    }

    void openAndShowInFolderSayWhenTheDesktopCannot()
    {
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_));
        // A session bus of the test's own, before the program first looks for one.
        QProcess bus;
        bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
        QVERIFY(bus.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(bus.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
        // The desktop's opener, as xdg-open answers: what it was given, and its exit status. The
        // status is read before the name is written, so that once the test sees the name it may
        // set the next run's status.
        const QString bin = dir_->path() + "/bin";
        QDir().mkpath(bin);
        QFile opener(bin + "/xdg-open");
        QVERIFY(opener.open(QIODevice::WriteOnly));
        opener.write(QString("#!/bin/sh\ns=$(cat '%1/status')\necho \"$1\" >> '%1/opened'\nexit $s\n").arg(bin).toUtf8());
        opener.close();
        opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        const auto status = [&](int code) {
            QFile file(bin + "/status");
            file.open(QIODevice::WriteOnly);
            file.write(QByteArray::number(code));
        };
        const auto opened = [&] {
            QFile file(bin + "/opened");
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
        };
        // Messages that come when the opener has ended, gathered as they come.
        std::vector<Module1::MessageRequest> got;
        const auto told = [&] {
            for (const auto& message : Module1::Test::TakeAskedMessages())
                got.push_back(message);
            return got.size();
        };
        const QString output = Make("V_1.mp3", 2);
        form_->ListModel->Append({{Module1::FromQt(Make("1.mp3", 4)), " 4"}});
        form_->ListModel->SetResult(form_->ListModel->List().At(0).id, Module1::FromQt(output), " 2", " 50%", EntryState::Done);
        const auto command = [&](const char* item) {
            RightClick(form_->ListView1->viewport(), form_->ListView1->visualRect(form_->ListModel->index(0, 2)).center());
            QTRY_VERIFY(OpenMenu());
            Choose(OpenMenu(), item);
        };

        // No opener on the desktop at all: said at once.
        qputenv("PATH", "/nonexistent");
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        command("ListOpen");
        auto asked = Asked();
        QCOMPARE(asked.size(), std::size_t(1));
        QCOMPARE(asked[0].title, QStringLiteral("No Program to Open It"));
        QVERIFY2(asked[0].text.contains(output), qPrintable(asked[0].text));

        // An opener that finds no program for the file: said when it gives up.
        qputenv("PATH", bin.toUtf8() + ":" + path);
        status(3);
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        command("ListOpen");
        QTRY_COMPARE(opened(), QStringList({output}));
        QTRY_COMPARE(told(), std::size_t(1));
        QCOMPARE(got[0].title, QStringLiteral("No Program to Open It"));
        // One that opens it: nothing to say.
        status(0);
        command("ListOpen");
        QTRY_COMPARE(opened(), QStringList({output, output}));

        // A file manager on the bus picks the file out; the opener is not asked.
        FakeFileManager manager;
        QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("file manager"));
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager, QDBusConnection::ExportAllSlots));
        command("ListShowInFolder");
        QTRY_COMPARE(manager.shown, QStringList({QUrl::fromLocalFile(output).toString()}));
        // None: the folder opens; where nothing opens it either, a message says where the file is.
        service.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
        command("ListShowInFolder");
        QTRY_COMPARE(opened().size(), 3);
        QCOMPARE(opened().last(), dir_->path());
        status(4);
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        command("ListShowInFolder");
        QTRY_COMPARE(opened().size(), 4);
        QTRY_COMPARE(told(), std::size_t(2));
        QVERIFY2(got[1].text.contains("in the folder " + dir_->path()), qPrintable(got[1].text));

        qputenv("PATH", path);
        QDBusConnection::disconnectFromBus(QStringLiteral("file manager"));
        bus.kill();
        bus.waitForFinished();
    }

    void aFolderOfThreeLevelsFromTheTreeInPathOrder()
    {
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_));
        // Matching and other files on three levels; one empty, one waiting already.
        QDir(dir_->path()).mkpath("Album/CD 2/Bonus");
        const QStringList made = {"Album/02 b.MP3", "Album/01 a.mp3", "Album/cover.jpg", "Album/CD 2/01 c.mp3",
                                  "Album/CD 2/notes.txt", "Album/CD 2/track.wav", "Album/CD 2/Bonus/x.mp3",
                                  "Album/CD 2/Bonus/empty.mp3", "top.mp3"};
        for (const QString& name : made)
            Make(name, name.contains("empty") ? 0 : 6);
        const QString album = dir_->path() + "/Album";
        QTRY_VERIFY(Select({"top.mp3"}));
        form_->XListView1->SetCurrentFolder(album);
        QTRY_VERIFY(Select({}));
        const auto addWaiting = [&] {
            emit form_->ListView1->DroppedFiles({album + "/02 b.MP3"});
            QTRY_COMPARE(form_->ListModel->rowCount(), 1);
        };
        addWaiting();
        form_->ComboBox1->setFocus();
        QTest::keyClick(form_->ComboBox1, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(form_->ComboBox1, "*.MP3");

        FolderTreeView* tree = form_->XTreeView1;
        const QPersistentModelIndex folder = tree->FolderModel()->index(album);
        QTRY_VERIFY(tree->visualRect(folder).isValid());
        tree->scrollTo(folder);
        for (int i = 0; i < 3; ++i)
            Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        RightClick(tree->viewport(), tree->visualRect(folder).center());
        QTRY_VERIFY(OpenMenu());
        QCOMPARE(OpenMenu()->actions().first()->text().remove('&'), QStringLiteral("Add Folder to Vardo List"));
        Choose(OpenMenu(), "AddFolderToVardoList");

        QTRY_COMPARE(Column(form_->ListModel, 2), QStringList({"02 b.MP3", "01 a.mp3", "01 c.mp3", "x.mp3"}));
        QCOMPARE(Column(form_->ListModel, 1),
                 QStringList({album + "/", album + "/", album + "/CD 2/", album + "/CD 2/Bonus/"}));
        const auto asked = Asked();
        QCOMPARE(asked.size(), std::size_t(3));
        QCOMPARE(asked[0].title, QStringLiteral("Duplicated File Name"));
        QCOMPARE(asked[0].text, "Duplicated file name: " + album + "/02 b.MP3");
        QCOMPARE(asked[1].title, QStringLiteral("Invalid File Name"));
        QCOMPARE(asked[1].text, "Invalid file name: " + album + "/CD 2/Bonus/empty.mp3 or file size is 0 byte.");
        QCOMPARE(asked[2].title, QStringLiteral("Folder Added"));
        // The WAV file the Type box left out is named.
        QCOMPARE(asked[2].text, "3 media files were added from " + album
                                    + ". 1 file of another type was not added: choose All audio in Type to take it.");

        // Many refused at once: one message each for the waiting and for the empty ones, naming
        // the first ten and counting the rest.
        QDir(dir_->path()).mkpath("many");
        for (int i = 0; i < 14; ++i)
            Make(QString("many/e%1.mp3").arg(i, 2, 10, QLatin1Char('0')), 0);
        Make("many/twice.mp3", 3);
        for (int i = 0; i < 5; ++i)
            Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ListActions->AddFolderEntries(dir_->path() + "/many");
        form_->ListActions->AddFolderEntries(dir_->path() + "/many");
        const auto grouped = Asked();
        QCOMPARE(grouped.size(), std::size_t(5));
        QCOMPARE(grouped[0].title, QStringLiteral("Invalid File Name"));
        QVERIFY2(grouped[0].text.startsWith("These 14 files are empty or cannot be read:\n" + dir_->path() + "/many/e00.mp3\n"),
                 qPrintable(grouped[0].text));
        QVERIFY2(grouped[0].text.endsWith("/many/e09.mp3\n\u2026 and 4 more."), qPrintable(grouped[0].text));
        QCOMPARE(grouped[1].text, "1 media file was added from " + dir_->path() + "/many.");
        QCOMPARE(grouped[2].text, "Duplicated file name: " + dir_->path() + "/many/twice.mp3");
        QCOMPARE(grouped[3].title, QStringLiteral("Invalid File Name"));
        QCOMPARE(grouped[4].text, "0 media files were added from " + dir_->path() + "/many.");

        // With every file shown, the album's picture and notes are still left out, and counted.
        QDir(dir_->path()).mkpath("mixed");
        for (const char* name : {"mixed/song.ogg", "mixed/folder.jpg", "mixed/track.mp3"})
            Make(name, 6);
        form_->ComboBox1->setCurrentText("*.*");
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ListActions->AddFolderEntries(dir_->path() + "/mixed");
        QCOMPARE(Column(form_->ListModel, 2).mid(5), QStringList({"song.ogg", "track.mp3"}));
        const auto all = Asked();
        QCOMPARE(all.size(), std::size_t(1));
        QCOMPARE(all[0].text, "2 media files were added from " + dir_->path()
                                  + "/mixed. 1 other file was left out: Vardune converts only audio files (MP3, WAV, FLAC, Ogg, AIFF).");

        // The type box chose MP3 only: the audio files of other types are counted, and the
        // choice that takes them named.
        QDir(dir_->path()).mkpath("typed/sub");
        for (const char* name : {"typed/a.mp3", "typed/b.wav", "typed/sub/c.flac", "typed/notes.txt"})
            Make(name, 6);
        form_->ComboBox1->setCurrentText("*.MP3");
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ListActions->AddFolderEntries(dir_->path() + "/typed");
        const auto typed = Asked();
        QCOMPARE(typed.size(), std::size_t(1));
        QCOMPARE(typed[0].text, "1 media file was added from " + dir_->path()
                                    + "/typed. 2 files of other types were not added: choose All audio in Type to take them.");
        form_->ComboBox1->setCurrentIndex(3);
        QCOMPARE(form_->ComboBox1->currentText(), QStringLiteral("All audio (") + Module1::ToQt(vardune::MediaFolder::AudioPattern()) + ")");
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);  // a.mp3 is in the list already
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ListActions->AddFolderEntries(dir_->path() + "/typed");
        QCOMPARE(Asked().back().text, "2 media files were added from " + dir_->path() + "/typed.");
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
