// The forecast of a whole collection: 10,000 MP3 files added to the Vardo list through the
// main window, and the time until the window shows its first figure and its complete one,
// while the largest gap between two turns of the event loop says whether the window waited.
// Usage: forecast_bench FOLDER (the MP3 files, made by forecast.sh). Prints milliseconds.
#include "choicebox.h"
#include "filelistview.h"
#include "form1.h"
#include "module1.h"
#include "sandbox.h"
#include "vardolistactions.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: forecast_bench FOLDER\n");
        return 2;
    }
    const QString music = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir sandbox;
    EnterSandbox(sandbox.path());
    QApplication app(argc, argv);
    Module1::Test::SetEndProcessHandler([] {});

    Form1 form;
    form.InitForm();
    form.show();
    form.Text1->setText(sandbox.path());
    form.ComboBox1->setEditText(QStringLiteral("*.*"));
    form.XListView1->SetCurrentFolder(music);
    QAbstractItemModel* files = form.XListView1->model();
    const int count = QDir(music).entryList(QDir::Files).size();
    if (!WaitFor([&] { return files->rowCount(form.XListView1->rootIndex()) == count; }, 120000)) {
        std::fprintf(stderr, "the file view did not list the files\n");
        return 1;
    }
    // The file view goes on reading the files' details for a while after it lists them: that
    // is its own work, not the forecast's, so it is let finish first.
    Wait(3000);
    const QModelIndex root = form.XListView1->rootIndex();
    form.XListView1->selectionModel()->select(
        QItemSelection(files->index(0, 0, root), files->index(count - 1, 0, root)), QItemSelectionModel::ClearAndSelect);

    // A timer that wants to run every millisecond: the time between two of its turns is how
    // long the window could not answer the user.
    QElapsedTimer clock;
    qint64 lastTurn = 0;
    qint64 largestGap = 0;
    qint64 largestGapAt = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (now - lastTurn > largestGap) {
            largestGap = now - lastTurn;
            largestGapAt = lastTurn;
        }
        lastTurn = now;
    });

    clock.start();
    form.ListActions->AddSelectedEntries();
    const qint64 added = clock.elapsed();
    lastTurn = added;
    heartbeat.start();
    qint64 first = -1;
    qint64 complete = -1;
    const bool done = WaitFor([&] {
        const QString text = form.ForecastPanel->text();
        if (first < 0 && !text.isEmpty() && !text.contains(QStringLiteral("(0 read)")))
            first = clock.elapsed();
        if (!text.isEmpty() && !text.contains(QStringLiteral(" read)"))) {
            complete = clock.elapsed();
            return true;
        }
        return false;
    }, 600000);
    heartbeat.stop();
    if (!done) {
        std::fprintf(stderr, "the forecast did not complete: %s\n", qPrintable(form.ForecastPanel->text()));
        return 1;
    }
    std::printf("files                                %d\n", count);
    std::printf("add to the list                      %lld ms\n", static_cast<long long>(added));
    std::printf("first figure, from the add           %lld ms\n", static_cast<long long>(first));
    std::printf("complete figure, from the add        %lld ms\n", static_cast<long long>(complete));
    std::printf("largest gap between event-loop turns %lld ms (after the add), from %lld ms\n", static_cast<long long>(largestGap),
                static_cast<long long>(largestGapAt));
    std::printf("shown: %s\n", qPrintable(form.ForecastPanel->text()));
    return 0;
}
