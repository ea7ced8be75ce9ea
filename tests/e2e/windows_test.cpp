// The program's windows on a real X display, seen as a user sees them: the names the window
// system shows for them, the pixels it shows at the skinned windows' corners, the folder
// picker, and files and folders dropped from another program over X.
#include "choicebox.h"
#include "filelistview.h"
#include "form1.h"
#include "frmabout.h"
#include "frmmonitor.h"
#include "frmoption.h"
#include "frmupdate.h"
#include "guitestmain.h"
#include "helpwindow.h"
#include "modalanswer.h"
#include "module1.h"
#include "testaudio.h"
#include "vardolistmodel.h"
#include "vardolistview.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

namespace {

// The name the X window carries: what the taskbar and the window list show.
QString XName(const QWidget* window)
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), QString::number(window->winId())});
    if (!xdotool.waitForFinished(5000))
        return QStringLiteral("(xdotool did not answer)");
    QString name = QString::fromUtf8(xdotool.readAllStandardOutput());
    if (name.endsWith(QLatin1Char('\n')))
        name.chop(1);
    return name;
}

QStringList Column(const VardoListModel* model, int column)
{
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, column).data().toString();
    return texts;
}

} // namespace

class WindowsTest : public QObject {
    Q_OBJECT

private:
    Form1* form_ = nullptr;
    QString music_ = QDir::homePath() + "/music";

    // Opens a secondary window by the main window's command and waits until X shows it.
    template <typename W>
    W* OpenBy(QAction* command)
    {
        // Vardo opens the board for a file waiting (with nothing waiting it says so instead).
        if (command == form_->StartVardo && form_->ListModel->rowCount() == 0)
            form_->ListModel->Append({{Module1::FromQt(music_ + "/single.wav"), " 44"}});
        command->trigger();
        W* window = Open<W>();
        if (!window || !QTest::qWaitForWindowExposed(window))
            return nullptr;
        if (auto* board = qobject_cast<frmMonitor*>(window))
            board->Timer2->stop();  // the board stays open: no batch starts
        if (auto* update = qobject_cast<frmUpdate*>(window))
            update->site = QStringLiteral("http://127.0.0.1:9");
        return window;
    }

private slots:
    void initTestCase()
    {
        Module1::Test::SetEndProcessHandler([] {});
        QDir().mkpath(music_ + "/album/disc 2");
        QFile(music_ + "/empty.wav").open(QIODevice::WriteOnly);
        WriteToneWav(music_ + "/single.wav", 0.5, 440);
        WriteToneWav(music_ + "/album/b.WAV", 0.5, 440);
        WriteToneWav(music_ + "/album/disc 2/a.wav", 0.5, 440);
        QFile cover(music_ + "/album/cover.jpg");
        cover.open(QIODevice::WriteOnly);
        cover.write("\xff\xd8\xff\xe0 not music");
        cover.close();
        QFile flac(music_ + "/album/c.flac");  // added by its name; the encoder judges its content
        flac.open(QIODevice::WriteOnly);
        flac.write("fLaC");
        flac.close();
        form_ = new Form1;
        form_->InitForm();
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_));
    }

    void cleanupTestCase()
    {
        delete form_;
        Module1::Test::ReleaseInstanceLock();
    }

    void namesOnTheScreenAreTheWindowsOwn()
    {
        QCOMPARE(XName(form_), QStringLiteral("Vardune"));
        const struct {
            QAction* command;
            QString name;
        } windows[] = {
            {form_->Options, "Vardune Options"},
            {form_->StartVardo, "Vardune Status Board"},
            {form_->CheckNewVersion, "Check New Version"},
            {form_->About, "About Vardune"},
        };
        for (const auto& w : windows) {
            QWidget* window = OpenBy<SkinnedWindow>(w.command);
            QVERIFY2(window, qPrintable(w.name));
            QCOMPARE(XName(window), w.name);
            window->close();
            QTRY_VERIFY(!Open<SkinnedWindow>());
        }
        form_->ActiveHelp->trigger();
        auto* help = Open<HelpWindow>();
        QVERIFY(help && QTest::qWaitForWindowExposed(help));
        QCOMPARE(XName(help), QStringLiteral("Vardune Help"));
        help->close();

        // A message box: an empty file added from the file view.
        form_->XListView1->SetCurrentFolder(music_);
        form_->ComboBox1->setFocus();
        QTest::keyClick(form_->ComboBox1, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(form_->ComboBox1, "*.wav");
        QTRY_VERIFY(form_->XListView1->IndexOf(music_ + "/empty.wav").isValid());
        form_->XListView1->selectionModel()->select(form_->XListView1->IndexOf(music_ + "/empty.wav"),
                                                    QItemSelectionModel::ClearAndSelect);
        QString boxName;
        ModalAnswer refusal([&](QWidget* box) {
            boxName = XName(box);
            QTest::keyClick(box, Qt::Key_Return);
        });
        QTest::mouseClick(form_->Toolbar1->widgetForAction(form_->Toolbar1->actions().at(0)), Qt::LeftButton);
        QCOMPARE(refusal.title, QStringLiteral("Invalid File Name"));
        QCOMPARE(boxName, QStringLiteral("Invalid File Name"));

        // The folder picker: its name, and it opens at the output folder.
        form_->Text1->setText(music_ + "/album");
        QString pickerName, pickerFolder;
        ModalAnswer picker([&](QWidget* dialog) {
            pickerName = XName(dialog);
            if (auto* files = qobject_cast<QFileDialog*>(dialog))
                pickerFolder = files->directory().absolutePath();
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        QTest::mouseClick(form_->Command1, Qt::LeftButton);
        QCOMPARE(pickerName, QStringLiteral("Please select a folder."));
        QCOMPARE(pickerFolder, music_ + "/album");
        QCOMPARE(form_->Text1->text(), music_ + "/album");
    }

    void noMagentaShowsAtTheCorners_data()
    {
        QTest::addColumn<QString>("window");
        for (const char* window : {"options", "status board", "version check", "about"})
            QTest::newRow(window) << window;
    }

    void noMagentaShowsAtTheCorners()
    {
        QFETCH(QString, window);
        QAction* command = window == "options"        ? form_->Options
                           : window == "status board" ? form_->StartVardo
                           : window == "about"        ? form_->About
                                                      : form_->CheckNewVersion;
        SkinnedWindow* skinned = OpenBy<SkinnedWindow>(command);
        QVERIFY(skinned);
        QTest::qWait(300);
        // What X shows where the window lies, its cut corners included.
        const QRect at = skinned->frameGeometry();
        const QImage shown = QGuiApplication::primaryScreen()->grabWindow(0, at.x(), at.y(), at.width(), at.height()).toImage();
        QCOMPARE(shown.size(), at.size());
        int magenta = 0, titleBlue = 0;
        QPoint first;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb pixel = shown.pixel(x, y) & 0xffffff;
                if (pixel == 0xff00ff && magenta++ == 0)
                    first = {x, y};
                titleBlue += pixel == 0x1562af;
            }
        QVERIFY2(titleBlue > 100, "the grab did not show the window");
        QVERIFY2(magenta == 0, qPrintable(QStringLiteral("%1 magenta pixels, the first at (%2, %3)")
                                              .arg(magenta).arg(first.x()).arg(first.y())));
        skinned->close();
        QTRY_VERIFY(!Open<SkinnedWindow>());
    }

    void filesAndFoldersDroppedFromAnotherProgram()
    {
        form_->ListModel->Clear();
        // A file and a folder, offered by another program as a file manager offers them.
        QProcess source;
        source.start(QCoreApplication::applicationDirPath() + "/dragsource",
                     {"20", "20", music_ + "/single.wav", music_ + "/album"});
        QVERIFY(source.waitForReadyRead(10000));
        QCOMPARE(source.readLine().trimmed(), QByteArray("ready"));
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);

        const QPoint target = form_->ListView1->viewport()->mapToGlobal(form_->ListView1->viewport()->rect().center());
        const QString x = QString::number(target.x()), y = QString::number(target.y());
        QProcess mouse;
        mouse.start("xdotool", {"mousemove", "80", "80", "sleep", "0.3", "mousedown", "1", "sleep", "0.3",
                                "mousemove", "100", "100", "sleep", "0.3", "mousemove", x, y, "sleep", "0.3",
                                "mousemove", QString::number(target.x() + 5), y, "sleep", "0.5", "mouseup", "1"});
        // The folder gives its FLAC as a dropped FLAC would be taken, and never its picture.
        QTRY_COMPARE_WITH_TIMEOUT(Column(form_->ListModel, 2), QStringList({"single.wav", "b.WAV", "c.flac", "a.wav"}), 15000);
        QCOMPARE(Column(form_->ListModel, 1),
                 QStringList({music_ + "/", music_ + "/album/", music_ + "/album/", music_ + "/album/disc 2/"}));
        const auto asked = Module1::Test::TakeAskedMessages();
        QCOMPARE(asked.size(), std::size_t(1));
        QCOMPARE(asked[0].title, QStringLiteral("Folder Added"));
        QCOMPARE(asked[0].text, "3 media files were added from " + music_
                                    + "/album. 1 other file was left out: Vardune converts only audio files (MP3, WAV, FLAC, Ogg, AIFF).");
        QTRY_COMPARE_WITH_TIMEOUT(mouse.state(), QProcess::NotRunning, 10000);
        QCOMPARE(mouse.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(source.canReadLine(), 5000);
        QCOMPARE(source.readLine().trimmed(), QByteArray("dropped 1"));
        source.kill();
        source.waitForFinished();
    }
};

QTEST_MAIN(WindowsTest)
#include "windows_test.moc"
