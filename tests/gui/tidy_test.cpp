// Keeping a player in step, with the real encoder and the window's batch: Tidy the Player
// offers by default only outputs Vardune wrote whose sources are gone, and those whose
// sources only left the list on a question of their own; an output whose path changed (a
// new title, another layout) replaces its predecessor; folders added one by one keep their
// names.
#include "batchwindow.h"
#include "guitestmain.h"
#include "testaudio.h"

#include "choicebox.h"
#include "numerictext.h"
#include "sourcemark.h"
#include "vardolistactions.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>

class TidyTest : public QObject, protected BatchWindow {
    Q_OBJECT

private:
    QString encoder_;

    QString Wav(const QString& name)
    {
        QDir().mkpath(QFileInfo(Path(name)).path());
        if (!WriteToneWav(Path(name), 0.5))
            qFatal("cannot write %s", qPrintable(name));
        return Path(name);
    }
    void Picture(const QString& name)
    {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QVERIFY(image.save(Path(name), "JPG"));
    }

    // Every file below the output folder, hidden ones aside, by path below it.
    QStringList Outputs() const
    {
        QStringList names;
        const QString root = Path("out") + "/";
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            names << it.next().mid(root.size());
        names.sort();
        return names;
    }

    void AddFolder(const QString& folder)
    {
        form_->ComboBox1->setCurrentText(QStringLiteral("*.wav"));
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ListActions->AddFolderEntries(Path(folder));
    }

    // Asks Tidy the Player, answering its questions in turn; what it asked.
    std::vector<Module1::MessageRequest> Tidy(std::initializer_list<QMessageBox::StandardButton> answers)
    {
        Module1::Test::TakeAskedMessages();
        for (const auto answer : answers)
            Module1::Test::SetNextMessageAnswer(answer);
        form_->TidyThePlayer->trigger();
        return Module1::Test::TakeAskedMessages();
    }

    // Two albums added one by one as folders, each with its cover, converted keeping the
    // folders; a copy of one output among them; then one source deleted and the other
    // album left out of the list.
    void MakePlayer()
    {
        Module1::settings().outputLayout = "FOLDERS";
        Wav("lib/A/one.wav");
        Wav("lib/B/two.wav");
        Wav("lib/B/three.wav");
        Picture("lib/A/folder.jpg");
        Picture("lib/B/folder.jpg");
        AddFolder("lib/A");
        AddFolder("lib/B");
        QVERIFY(RunBatch());
        QCOMPARE(Outputs(), QStringList({"A/folder.jpg", "A/one.mp3", "B/folder.jpg", "B/three.mp3", "B/two.mp3"}));
        QDir().mkpath(Path("out/my_favourites"));
        QVERIFY(QFile::copy(Path("out/B/two.mp3"), Path("out/my_favourites/echoes_copy.mp3")));
        QVERIFY(QFile::remove(Path("lib/B/three.wav")));
        form_->ListModel->Clear();
        AddFolder("lib/A");
    }

private slots:
    void initTestCase()
    {
        Module1::Test::SetEndProcessHandler([] {});
        encoder_ = QCoreApplication::applicationDirPath() + "/fastencc";
        QFile::remove(encoder_);
        QVERIFY(QFile::link(QStringLiteral(FASTENCC_PATH), encoder_));
    }
    void cleanupTestCase() { QFile::remove(encoder_); }
    void init() { OpenMainWindow(); }
    void cleanup() { QVERIFY(CloseMainWindow()); }

    void offersWhatIsGoneAndAsksApartForWhatLeftTheList()
    {
        MakePlayer();
        auto asked = Tidy({QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok});
        QCOMPARE(asked.size(), std::size_t(3));
        QCOMPARE(asked[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(asked[0].defaultButton, QMessageBox::No);
        // Every file is listed, and only the one whose source is gone: not the copy, not
        // the output whose source only left the list.
        QCOMPARE(asked[0].details, QStringLiteral("B/three.mp3  (its source is gone)\n"));
        QCOMPARE(asked[1].details, QStringLiteral("B/two.mp3  (its source is no longer in the Vardo list)\n"));
        QCOMPARE(asked[1].defaultButton, QMessageBox::No);
        QVERIFY2(asked[2].text.startsWith("1 file removed."), qPrintable(asked[2].text));
        QCOMPARE(Outputs(), QStringList({"A/folder.jpg", "A/one.mp3", "B/folder.jpg", "B/two.mp3", "my_favourites/echoes_copy.mp3"}));

        // Asked again, only the explicit choice is left; taken, the album's folder goes with
        // the picture Vardune put there.
        asked = Tidy({QMessageBox::Yes, QMessageBox::Ok});
        QCOMPARE(asked.size(), std::size_t(2));
        QCOMPARE(asked[0].details, QStringLiteral("B/two.mp3  (its source is no longer in the Vardo list)\n"));
        QVERIFY2(asked[1].text.contains("1 folder left empty removed"), qPrintable(asked[1].text));
        QCOMPARE(Outputs(), QStringList({"A/folder.jpg", "A/one.mp3", "my_favourites/echoes_copy.mp3"}));
        QVERIFY(!QFileInfo::exists(Path("out/B")));

        asked = Tidy({QMessageBox::Ok});
        QCOMPARE(asked.size(), std::size_t(1));
        QVERIFY2(asked[0].text.startsWith("Nothing to tidy"), qPrintable(asked[0].text));
    }

    void keptAfterNo()
    {
        MakePlayer();
        const QStringList before = Outputs();
        const auto asked = Tidy({QMessageBox::No, QMessageBox::No});
        QCOMPARE(asked.size(), std::size_t(2));
        QCOMPARE(Outputs(), before);
    }

    // Outputs made before the record was kept prove nothing: nothing is removed.
    void withoutARecordNothingIsRemoved()
    {
        MakePlayer();
        QVERIFY(QFile::remove(Path("out/.vardune-record")));
        const QStringList before = Outputs();
        const auto asked = Tidy({QMessageBox::Ok});
        QCOMPARE(asked.size(), std::size_t(1));
        QVERIFY2(asked[0].text.contains("holds no record"), qPrintable(asked[0].text));
        QCOMPARE(Outputs(), before);
    }

    // Albums added one by one as folders keep their own names, each with its own picture.
    void albumsAddedAsFoldersKeepTheirNames()
    {
        Module1::settings().outputLayout = "FOLDERS";
        Wav("lib/Album A/01 Intro.wav");
        Wav("lib/Album B/01 Intro.wav");
        Picture("lib/Album A/folder.jpg");
        Picture("lib/Album B/cover.jpg");
        AddFolder("lib/Album A");
        AddFolder("lib/Album B");
        QVERIFY(RunBatch());
        QCOMPARE(Outputs(), QStringList({"Album A/01 Intro.mp3", "Album A/folder.jpg", "Album B/01 Intro.mp3", "Album B/folder.jpg"}));
        QCOMPARE(QFile(Path("out/Album B/folder.jpg")).size(), QFile(Path("lib/Album B/cover.jpg")).size());
    }

    // A new title (names from tags) or another layout gives a source's output a new path:
    // once the new output is whole, the earlier one goes, with the folders it leaves empty.
    void anOutputWhosePathChangedReplacesItsPredecessor_data()
    {
        QTest::addColumn<QString>("firstLayout");
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("newTitle");  // empty: the layout changes instead
        QTest::addColumn<QStringList>("after");
        QTest::newRow("a new title") << "TAGS" << QStringList({"Ann/Road/03 Echoes.mp3", "Ann/Road/04 Time.mp3", "Ann/Road/folder.jpg"})
                                     << "Echoes (Live)"
                                     << QStringList({"Ann/Road/03 Echoes (Live).mp3", "Ann/Road/04 Time.mp3", "Ann/Road/folder.jpg"});
        QTest::newRow("another layout") << "FOLDERS" << QStringList({"Road/03.mp3", "Road/04.mp3", "Road/folder.jpg"}) << ""
                                        << QStringList({"Ann/Road/03 Echoes.mp3", "Ann/Road/04 Time.mp3", "Ann/Road/folder.jpg"});
    }

    void anOutputWhosePathChangedReplacesItsPredecessor()
    {
        QFETCH(QString, firstLayout);
        QFETCH(QStringList, before);
        QFETCH(QString, newTitle);
        QFETCH(QStringList, after);
        QDir().mkpath(Path("lib/Road"));
        const auto tagged = [this](const QString& name, const QByteArray& title, const QByteArray& track) {
            QVERIFY(WriteTaggedWav(Path("lib/Road/" + name), {{"IART", "Ann"}, {"IPRD", "Road"}, {"INAM", title}, {"IPRT", track}}));
        };
        tagged("03.wav", "Echoes", "3");
        tagged("04.wav", "Time", "4");
        Picture("lib/Road/folder.jpg");
        Module1::settings().outputLayout = Module1::FromQt(firstLayout);
        AddFolder("lib/Road");
        QVERIFY(RunBatch());
        QCOMPARE(Outputs(), before);

        if (!newTitle.isEmpty())
            tagged("03.wav", newTitle.toUtf8(), "3");
        Module1::settings().outputLayout = "TAGS";
        form_->ListModel->Clear();
        AddFolder("lib/Road");
        form_->ShowStatusBarValue();
        QVERIFY(RunBatch());
        QCOMPARE(Outputs(), after);
        // Each output there is whole and made from its source as it stands now.
        for (int row = 0; row < 2; ++row) {
            QCOMPARE(Entry(row).state, vardune::EntryState::Done);
            const auto mark = vardune::SourceMark::ReadFile(Entry(row).targetPath);
            QVERIFY(mark);
            const auto source = vardune::SourceMark::Of(Entry(row).sourcePath + Entry(row).sourceName);
            QVERIFY(source);
            QCOMPARE(*vardune::SourceMark::PathIn(*mark), source->path);
        }
        QVERIFY2(form_->StatusPanel->text().contains(newTitle.isEmpty() ? "2 earlier outputs removed" : "1 earlier output removed"),
                 qPrintable(form_->StatusPanel->text()));
    }
};

VARDUNE_GUI_TEST_MAIN(TidyTest)
#include "tidy_test.moc"
