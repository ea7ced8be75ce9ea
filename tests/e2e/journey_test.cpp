// A user's first session, with the real windows on a real X display and the real encoder:
// collect files, refuse the empty one, choose the output folder and the options, run the
// batch, close, and find everything again at the next start.
#include "choicebox.h"
#include "fatcard.h"
#include "filelistview.h"
#include "foldertreeview.h"
#include "form1.h"
#include "frmmonitor.h"
#include "frmoption.h"
#include "frmstartup.h"
#include "modalanswer.h"
#include "module1.h"
#include "testaudio.h"
#include "vardolistmodel.h"
#include "vardolistview.h"

#include "configcodec.h"
#include "configtable.h"
#include "vardolistactions.h"

#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QProcess>
#include <QRadioButton>
#include <QDialog>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <mpg123.h>

namespace {

QToolButton* ToolbarButton(Form1* form, const QString& key)
{
    for (QAction* action : form->Toolbar1->actions())
        if (action->data().toString() == key)
            return qobject_cast<QToolButton*>(form->Toolbar1->widgetForAction(action));
    return nullptr;
}

struct Decoded {
    long samples = 0;
    int channels = 0;
    long rate = 0;
    int bitrate = 0;
};

Decoded Decode(const QString& path)
{
    Decoded d;
    mpg123_handle* handle = mpg123_new(nullptr, nullptr);
    mpg123_param(handle, MPG123_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
    if (mpg123_open(handle, QFile::encodeName(path).constData()) == MPG123_OK) {
        int encoding = 0;
        mpg123_getformat(handle, &d.rate, &d.channels, &encoding);
        unsigned char buffer[16384];
        size_t done = 0;
        // The last read, the one that says the stream is done, may still bring samples.
        int result;
        do {
            result = mpg123_read(handle, buffer, sizeof buffer, &done);
            d.samples += static_cast<long>(done) / (d.channels * mpg123_encsize(encoding));
        } while (result == MPG123_OK || result == MPG123_NEW_FORMAT);
        mpg123_frameinfo info {};
        mpg123_info(handle, &info);
        d.bitrate = info.bitrate;
        mpg123_close(handle);
    }
    mpg123_delete(handle);
    return d;
}

} // namespace

class JourneyTest : public QObject {
    Q_OBJECT

private:
    QString home_ = QDir::homePath();
    QString music_ = QDir::homePath() + "/music";
    QString out_ = QDir::homePath() + "/small";
    QString ini_;
    int ended_ = 0;
    QString card_; // a FAT image mounted as a player's card, once mounted

private slots:
    void initTestCase()
    {
        mpg123_init();
        Module1::Test::SetEndProcessHandler([this] { ++ended_; });
        ini_ = Module1::ConfigFilePath();
        QVERIFY(!QFile::exists(ini_));
        QDir().mkpath(music_);
        QDir().mkpath(out_);
        WriteToneWav(music_ + "/first song.wav", 2.0, 523.25);
        QFile(music_ + "/empty.wav").open(QIODevice::WriteOnly);
        WriteToneWav(music_ + "/Zweites Lied ü.wav", 1.5, 523.25);
    }

    // A failed step must not leave the instance lock to the next, which would then be refused.
    void cleanup() { Module1::Test::ReleaseInstanceLock(); }

    void cleanupTestCase()
    {
        if (!card_.isEmpty() && QProcess::execute(QStringLiteral("umount"), {card_}) != 0)
            QProcess::execute(QStringLiteral("fusermount"), {"-u", "-z", card_});
    }

    void firstSession()
    {
        frmStartUp splash;
        splash.show();
        Form1 form(&splash);
        form.InitForm();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(!splash.isVisible());
        QCOMPARE(form.ComboBox1->currentText(), QStringLiteral("*.MP3"));
        QCOMPARE(form.XListView1->CurrentFolder(), home_ + "/");

        // Into the music folder through the tree, then show the WAV files.
        QFileSystemModel* folders = form.XTreeView1->FolderModel();
        QModelIndex music;
        QVERIFY(QTest::qWaitFor([&] {
            music = folders->index(music_);
            form.XTreeView1->scrollTo(music);
            return music.isValid() && !form.XTreeView1->visualRect(music).isEmpty();
        }, 10000));
        QTest::mouseClick(form.XTreeView1->viewport(), Qt::LeftButton, {}, form.XTreeView1->visualRect(music).center());
        QTRY_COMPARE(form.XListView1->CurrentFolder(), music_);
        form.ComboBox1->lineEdit()->selectAll();
        QTest::keyClicks(form.ComboBox1->lineEdit(), "*.wav");
        QTRY_COMPARE(form.XListView1->ShownPaths().size(), 3);

        // All three selected and added: the empty one is refused with its message.
        form.XListView1->setFocus();
        QTest::keyClick(form.XListView1, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(form.XListView1->SelectedPaths().size(), 3);
        ModalAnswer refusal([](QWidget* box) { QTest::keyClick(box, Qt::Key_Return); });
        QTest::mouseClick(ToolbarButton(&form, "Add"), Qt::LeftButton);
        QCOMPARE(refusal.title, QStringLiteral("Invalid File Name"));
        QCOMPARE(refusal.text, "Invalid file name: " + music_ + "/empty.wav or file size is 0 byte.");
        QCOMPARE(form.ListModel->rowCount(), 2);

        // The output folder through the folder picker.
        ModalAnswer picker([this](QWidget* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(edit);
            edit->setText(out_);
            QTest::keyClick(edit, Qt::Key_Return);
        });
        QTest::mouseClick(form.Command1, Qt::LeftButton);
        QCOMPARE(form.Text1->text(), out_);

        // Options: mono, tape quality.
        QTest::mouseClick(ToolbarButton(&form, "Options"), Qt::LeftButton);
        frmOption* options = nullptr;
        QTRY_VERIFY((options = qobject_cast<frmOption*>(QApplication::topLevelWidgets().value(0)), [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* o = qobject_cast<frmOption*>(w); o && o->isVisible())
                    options = o;
            return options != nullptr;
        }()));
        QVERIFY(QTest::qWaitForWindowExposed(options));
        QTest::keyClick(options->Combo3, Qt::Key_Down);
        QTest::keyClick(options->Combo2, Qt::Key_Down);
        QTest::keyClick(options->Combo2, Qt::Key_Down);
        QCOMPARE(options->Combo3->currentText(), QStringLiteral("2- Mono"));
        QCOMPARE(options->Combo2->currentText(), QStringLiteral("3- Tape Quality"));
        QCOMPARE(options->Picture5->property("pictureIndex").toInt(), 9);
        QTest::mouseClick(options->Command1, Qt::LeftButton);
        QCOMPARE(form.StatusPanel->text(), QStringLiteral("1- MP3 Potable Player  3- Tape Quality  2- Mono"));

        // The batch.
        QTest::mouseClick(ToolbarButton(&form, "Vardo"), Qt::LeftButton);
        QTRY_VERIFY(!form.isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(form.isEnabled(), 60000);
        for (int row = 0; row < 2; ++row) {
            const auto& e = form.ListModel->List().At(static_cast<std::size_t>(row));
            QCOMPARE(e.state, vardune::EntryState::Done);
            const QString target = Module1::ToQt(e.targetPath);
            QCOMPARE(target, out_ + "/V_" + Module1::ToQt(e.sourceName) + ".MP3");
            QVERIFY(!e.rate.empty());
            const Decoded d = Decode(target);
            QCOMPARE(d.channels, 1);
            QCOMPARE(d.bitrate, 32);
            const double sourceSeconds = e.sourceName == "first song.wav" ? 2.0 : 1.5;
            QVERIFY2(std::abs(double(d.samples) / d.rate - sourceSeconds) < 0.05, qPrintable(QString::number(d.samples)));
        }

        // Closing writes the settings.
        form.close();
        QCOMPARE(ended_, 1);
        const vardune::Settings saved = vardune::ReadConfig(Module1::FromQt(ini_), "");
        QCOMPARE(Module1::ToQt(saved.sourceFolder), music_);
        QCOMPARE(Module1::ToQt(saved.targetFolder), out_ + "/");
        QCOMPARE(saved.profile.channel, std::string("2- Mono"));
        QCOMPARE(saved.profile.quality, std::string("3- Tape Quality"));
    }

    void nextStartRestoresEverything()
    {
        Module1::settings() = {};
        Form1 form;
        form.InitForm();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.XListView1->CurrentFolder(), music_);
        QCOMPARE(form.Text1->text(), out_ + "/");
        QCOMPARE(form.StatusPanel->text(), QStringLiteral("1- MP3 Potable Player  3- Tape Quality  2- Mono"));
        // The list as the batch left it: both files done, with their outputs.
        QCOMPARE(form.ListModel->rowCount(), 2);
        for (int row = 0; row < 2; ++row) {
            const auto& e = form.ListModel->List().At(static_cast<std::size_t>(row));
            QCOMPARE(e.state, vardune::EntryState::Done);
            QCOMPARE(Module1::ToQt(e.targetPath), out_ + "/V_" + Module1::ToQt(e.sourceName) + ".MP3");
        }
    }

    // A library onto a player's FAT card, names made from tags: the choice made in Options,
    // a folder of albums added with its subfolders, the batch run, and the tree found on the
    // card with the names the card takes.
    void namesFromTagsOntoAFatCard()
    {
        const QString image = home_ + "/card.img";
        const QString card = home_ + "/card";
        QDir().mkpath(card);
        QFile blank(image);
        QVERIFY(blank.open(QIODevice::WriteOnly) && blank.resize(16 * 1024 * 1024));
        blank.close();
        if (QProcess::execute(QStringLiteral("mkfs.vfat"), {image}) != 0)
            QSKIP("mkfs.vfat (dosfstools) is not installed");
        if (QProcess::execute(QStringLiteral("mount"), {"-o", "loop", image, card}) == 0
            || MountFat(image, card) == 0)
            card_ = card;
        else
            QSKIP("cannot mount a FAT image here: no loop mount (needs root and the vfat driver) and no fusefat");

        const QString library = home_ + "/library";
        QDir().mkpath(library + "/Alpha/Best Of");
        QDir().mkpath(library + "/Beta/Live");
        QVERIFY(WriteTaggedWav(library + "/Alpha/Best Of/a.wav", {{"IART", "Alpha"}, {"IPRD", "Best Of"}, {"INAM", "Intro"}, {"IPRT", "1"}}));
        QVERIFY(WriteTaggedWav(library + "/Alpha/Best Of/b.wav", {{"IART", "Alpha"}, {"IPRD", "Best Of"}, {"INAM", "Time: 10"}, {"IPRT", "2"}}));
        QVERIFY(WriteTaggedWav(library + "/Beta/Live/a.wav", {{"IART", "Beta"}, {"IPRD", "Live?"}, {"INAM", "Intro"}, {"IPRT", "1"}}));

        Module1::settings() = {};
        Form1 form;
        form.InitForm();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // The first session's two files, done, stay in the list; three more come.
        QCOMPARE(form.ListModel->rowCount(), 2);

        ModalAnswer picker([&](QWidget* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(edit);
            edit->setText(card);
            QTest::keyClick(edit, Qt::Key_Return);
        });
        QTest::mouseClick(form.Command1, Qt::LeftButton);
        QCOMPARE(form.Text1->text(), card);

        QTest::mouseClick(ToolbarButton(&form, "Options"), Qt::LeftButton);
        frmOption* options = nullptr;
        QTRY_VERIFY([&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* o = qobject_cast<frmOption*>(w); o && o->isVisible())
                    options = o;
            return options != nullptr;
        }());
        QVERIFY(QTest::qWaitForWindowExposed(options));
        QTest::mouseClick(options->Option3, Qt::LeftButton, {}, QPoint(6, options->Option3->height() / 2));
        QVERIFY(options->Option3->isChecked());
        QTest::mouseClick(options->Command1, Qt::LeftButton);
        QTRY_VERIFY(!options->isVisible());

        form.ComboBox1->lineEdit()->selectAll();
        QTest::keyClicks(form.ComboBox1->lineEdit(), "*.wav");
        ModalAnswer added([](QWidget* box) { QTest::keyClick(box, Qt::Key_Return); });
        form.ListActions->AddFolderEntries(library);
        QTRY_COMPARE(form.ListModel->rowCount(), 5);

        QTest::mouseClick(ToolbarButton(&form, "Vardo"), Qt::LeftButton);
        QTRY_VERIFY(!form.isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(form.isEnabled(), 60000);
        for (int row = 2; row < 5; ++row)
            QCOMPARE(form.ListModel->List().At(static_cast<std::size_t>(row)).state, vardune::EntryState::Done);

        // What the card holds, read back through the file system.
        QStringList written;
        QDirIterator it(card, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            written << it.next().mid(card.size() + 1);
        written.sort();
        QCOMPARE(written, QStringList({"Alpha/Best Of/01 Intro.mp3", "Alpha/Best Of/02 Time_ 10.mp3", "Beta/Live_/01 Intro.mp3"}));
        for (const QString& file : written)
            QVERIFY2(Decode(card + "/" + file).samples > 0, qPrintable(file));
        form.close();
    }
};

QTEST_MAIN(JourneyTest)
#include "journey_test.moc"
