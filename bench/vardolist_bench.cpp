// How the Vardo list copes with a whole collection: adding 10,000 selected files to a list
// that holds 10,000 waiting entries, removing 5,000 selected entries of 20,000, and clearing
// 20,000 entries, all through the main window as a user drives it. Prints milliseconds.
#include "choicebox.h"
#include "filelistview.h"
#include "form1.h"
#include "module1.h"
#include "sandbox.h"
#include "vardolistmodel.h"
#include "vardolistview.h"
#include "vardolistactions.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileSystemModel>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

constexpr int kFiles = 20000;

void SelectFileRows(FileListView* view, int first, int last)
{
    QAbstractItemModel* model = view->model();
    const QModelIndex root = view->rootIndex();
    view->selectionModel()->select(QItemSelection(model->index(first, 0, root), model->index(last, 0, root)),
                                   QItemSelectionModel::ClearAndSelect);
}

template <typename F>
qint64 Measure(F&& f)
{
    QElapsedTimer timer;
    timer.start();
    f();
    return timer.elapsed();
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir sandbox;
    EnterSandbox(sandbox.path());
    QApplication app(argc, argv);
    Module1::Test::SetEndProcessHandler([] {});

    const QString music = sandbox.path() + QStringLiteral("/music");
    QDir().mkpath(music);
    for (int i = 0; i < kFiles; ++i) {
        QFile file(music + QStringLiteral("/song%1.mp3").arg(i, 5, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write("x", 1) != 1) {
            std::fprintf(stderr, "cannot create the files\n");
            return 1;
        }
    }

    Form1 form;
    form.InitForm();
    form.show();
    form.ComboBox1->setEditText(QStringLiteral("*.*"));
    form.XListView1->SetCurrentFolder(music);
    QFileSystemModel* files = form.XListView1->FileModel();
    if (!WaitFor([&] { return form.XListView1->model()->rowCount(form.XListView1->rootIndex()) == kFiles; }, 120000)) {
        std::fprintf(stderr, "the file view did not list the files\n");
        return 1;
    }
    files->sort(0);

    SelectFileRows(form.XListView1, 0, kFiles / 2 - 1);
    const qint64 fill = Measure([&] { form.ListActions->AddSelectedEntries(); });
    SelectFileRows(form.XListView1, kFiles / 2, kFiles - 1);
    const qint64 add = Measure([&] { form.ListActions->AddSelectedEntries(); });
    QApplication::processEvents();

    // Every fourth entry: 5,000 scattered selected rows.
    QItemSelection every4th;
    for (int row = 0; row < kFiles; row += 4)
        every4th.select(form.ListModel->index(row, 0), form.ListModel->index(row, 6));
    form.ListView1->selectionModel()->select(every4th, QItemSelectionModel::ClearAndSelect);
    const qint64 remove = Measure([&] { form.ListActions->RemoveSelectedEntries(); });
    QApplication::processEvents();
    const int afterRemove = form.ListModel->rowCount();

    // Put the removed ones back, then clear all 20,000.
    SelectFileRows(form.XListView1, 0, kFiles - 1);
    QItemSelection removedFiles;
    QAbstractItemModel* model = form.XListView1->model();
    for (int row = 0; row < kFiles; row += 4)
        removedFiles.select(model->index(row, 0, form.XListView1->rootIndex()), model->index(row, 0, form.XListView1->rootIndex()));
    form.XListView1->selectionModel()->select(removedFiles, QItemSelectionModel::ClearAndSelect);
    form.ListActions->AddSelectedEntries();
    const int beforeClear = form.ListModel->rowCount();
    Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
    const qint64 clear = Measure([&] { form.ListActions->ClearAllEntries(); });

    // The whole folder from the tree's menu: walked, checked and added at once.
    Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
    const qint64 folder = Measure([&] { form.ListActions->AddFolderEntries(music); });
    const int afterFolder = form.ListModel->rowCount();

    std::printf("fill 10000 entries into an empty list:          %5lld ms\n", static_cast<long long>(fill));
    std::printf("add 10000 selected files to 10000 waiting:      %5lld ms (aim: under 1000)\n", static_cast<long long>(add));
    std::printf("remove 5000 selected entries of 20000:          %5lld ms (aim: under 1000), %d left\n",
                static_cast<long long>(remove), afterRemove);
    std::printf("clear %d entries:                            %5lld ms (aim: under 1000)\n", beforeClear,
                static_cast<long long>(clear));
    std::printf("add a folder of %d files from the tree:        %5lld ms (aim: under 1000)\n", afterFolder,
                static_cast<long long>(folder));
    Module1::Test::ReleaseInstanceLock();
    return 0;
}
