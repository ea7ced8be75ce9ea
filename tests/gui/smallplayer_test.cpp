// The main window for small players, with the real encoder: the forecast beside the list,
// the question before a batch that cannot fit, a folder that fills up anyway, copied MP3s,
// and names on a real FAT file system.
#include "batchwindow.h"
#include "fatcard.h"
#include "form1.h"
#include "frmmonitor.h"
#include "guitestmain.h"
#include "module1.h"
#include "testaudio.h"
#include "vardolistmodel.h"

#include "batchprogress.h"
#include "sizeforecast.h"
#include "outputvolume.h"
#include "waitingforecast.h"

#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>

#include <cmath>

#include <sys/mount.h>

using vardune::EntryState;

class SmallPlayerTest : public QObject, protected BatchWindow {
    Q_OBJECT

private:
    QString encoder_;
    QStringList mounts_;

    QString ToolTip(int row) const { return form_->ListModel->index(row, 2).data(Qt::ToolTipRole).toString(); }

    QString Wav(const QString& name, double seconds)
    {
        QDir().mkpath(QFileInfo(Path(name)).path());
        if (!WriteToneWav(Path(name), seconds))
            qFatal("cannot write %s", qPrintable(name));
        return Path(name);
    }

    // An MP3 at 64 kbit/s, made by the encoder itself.
    QString Mp3At64k(const QString& name, double seconds)
    {
        const QString wav = Wav(name + ".wav", seconds);
        QProcess::execute(QStringLiteral(FASTENCC_PATH), {wav, Path(name), "-br", "64000"});
        QFile::remove(wav);
        return Path(name);
    }

    // The forecast once the encoder has read every file.
    QString ForecastText() const
    {
        if (!QTest::qWaitFor([this] { return !form_->ForecastPanel->isHidden() && !form_->ForecastPanel->text().contains("read)"); }, 20000))
            return QStringLiteral("(no complete forecast: %1)").arg(form_->ForecastPanel->text());
        return form_->ForecastPanel->text();
    }

    // A small file system of its own for the output, or an empty text when this machine
    // cannot mount one (not root, or no mount rights in a container).
    QString SmallFolder(const char* size)
    {
        const QString folder = Path("small");
        QDir().mkpath(folder);
        if (mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, size) != 0)
            return {};
        mounts_ << folder;
        return folder;
    }

    // Every file in folder, hidden ones too (an encoder's unfinished copy would be), but the
    // record of what Vardune wrote there.
    static QList<QFileInfo> FilesIn(const QString& folder)
    {
        QList<QFileInfo> files = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
        files.removeIf([](const QFileInfo& file) { return file.fileName() == QLatin1String(".vardune-record"); });
        return files;
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

    void cleanup()
    {
        for (const QString& folder : mounts_) {
            if (umount2(QFile::encodeName(folder).constData(), MNT_DETACH) != 0)
                QProcess::execute(QStringLiteral("fusermount"), {"-u", "-z", folder});
        }
        mounts_.clear();
        // The real encoder again, after a test that put a stand-in there.
        QFile::remove(encoder_);
        QVERIFY(QFile::link(QStringLiteral(FASTENCC_PATH), encoder_));
        QVERIFY(CloseMainWindow());
    }

    // Three known files: the count, their playing time, the forecast at the chosen quality
    // (the size the batch then writes) and the free space; an MP3 already small is copied.
    void forecastOfThreeKnownFilesAndACopiedMp3()
    {
        Add({Wav("a.wav", 2.0), Wav("b.wav", 3.0), Mp3At64k("c.mp3", 4.0)});
        const QString text = ForecastText();
        const QRegularExpression shape(QStringLiteral("^3 files waiting, 0:09 long, about (.+); (.+) free$"));
        const auto match = shape.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        QCOMPARE(form_->ForecastPanel->toolTip(), text);

        // A lower quality forecasts less at once.
        Module1::settings().profile.quality = "3- Tape Quality";
        form_->ShowStatusBarValue();
        QTRY_VERIFY(form_->ForecastPanel->text() != text);
        Module1::settings().profile.quality = "1- CD Quality";
        form_->ShowStatusBarValue();
        QTRY_COMPARE(form_->ForecastPanel->text().section(';', 0, 0), text.section(';', 0, 0));

        QVERIFY(RunBatch());
        double written = 0;
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(Entry(row).state, EntryState::Done);
            written += QFileInfo(Module1::ToQt(Entry(row).targetPath)).size();
        }
        QCOMPARE(match.captured(1), Module1::ToQt(vardune::BatchProgress::SizeText(written)));
        // The MP3 at 64 kbit/s is not made larger at 96: copied, as its tool tip says.
        QCOMPARE(ToolTip(2), QStringLiteral("already small: copied, not re-encoded"));
        QVERIFY(QFileInfo(Module1::ToQt(Entry(2).targetPath)).size() <= QFileInfo(Path("c.mp3")).size());
        QVERIFY(ToolTip(0).endsWith("a.wav"));  // no note: the name, as before
        // Nothing waits any more: the forecast goes.
        QTRY_VERIFY(form_->ForecastPanel->isHidden());
    }

    // A 64 kbit/s stereo MP3 at CD Quality in mono is encoded (mono is asked), at its own
    // bitrate, not the quality's: no larger than it was, and the tool tip says why.
    void aSmallSourceKeepsItsOwnBitrate()
    {
        Module1::settings().profile.channel = "2- Mono";
        Add({Mp3At64k("s64.mp3", 3.0)});
        QVERIFY(RunBatch());
        QCOMPARE(Entry(0).state, EntryState::Done);
        QCOMPARE(ToolTip(0), QStringLiteral("kept at 64 kbit/s: the source is smaller than CD Quality"));
        QVERIFY(QFileInfo(Module1::ToQt(Entry(0).targetPath)).size() <= QFileInfo(Path("s64.mp3")).size());
    }

    // A batch that cannot fit asks first, offering the files that fit and every file at the
    // highest bitrate that fits; No starts nothing. Yes converts in list order each file that
    // still fits: the long one that does not is passed over, the short one after it goes.
    void aBatchThatCannotFitAsksFirst()
    {
        const QString small = SmallFolder("size=1m");
        if (small.isEmpty())
            QSKIP("cannot mount a 1 MB tmpfs for the output here (needs root with mount rights)");
        const QStringList sources {Wav("long1.wav", 20.0), Wav("long2.wav", 20.0), Wav("long3.wav", 20.0),
                                   Wav("longest.wav", 60.0), Wav("short.wav", 5.0)};
        Add(sources);
        form_->Text1->setText(small);
        QVERIFY2(ForecastText().endsWith(QStringLiteral("; 1.0 MB free")), qPrintable(form_->ForecastPanel->text()));
        const vardune::SizeForecast forecast = form_->Waiting->Forecast();
        const double freeBytes = *OutputVolume::FreeBytes(small);
        QVERIFY(forecast.Bytes() > freeBytes);
        const std::optional<int> fit = forecast.FittingBitrate(freeBytes);
        QVERIFY(fit && *fit < 96000);
        const QString question = QStringLiteral("The files need about %1; the output folder has %2 free. Convert the files "
                                                "that fit? All of them fit at %3 kbit/s.")
                                     .arg(Module1::ToQt(vardune::BatchProgress::SizeText(forecast.Bytes())),
                                          Module1::ToQt(vardune::BatchProgress::SizeText(freeBytes)))
                                     .arg(*fit / 1000);

        Module1::Test::SetNextMessageAnswer(QMessageBox::No);
        form_->StartVardo->trigger();
        auto asked = Module1::Test::TakeAskedMessages();
        QCOMPARE(asked.size(), std::size_t(1));
        QCOMPARE(asked[0].text, question);
        QCOMPARE(asked[0].icon, QMessageBox::Question);
        QCOMPARE(asked[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll);
        QCOMPARE(asked[0].buttonTexts.value(QMessageBox::YesToAll), QStringLiteral("All at %1 kbit/s").arg(*fit / 1000));
        QVERIFY(!BoardOpen());
        QVERIFY(form_->isEnabled());
        for (int row = 0; row < 5; ++row)
            QCOMPARE(Entry(row).state, EntryState::Waiting);

        Module1::Test::SetNextMessageAnswer(QMessageBox::Yes);
        QVERIFY(RunBatch());
        QCOMPARE(Module1::Test::TakeAskedMessages().size(), std::size_t(1));
        QCOMPARE(forecast.Fitting(freeBytes).size(), std::size_t(4));
        for (int row = 0; row < 5; ++row)
            QCOMPARE(Entry(row).state, row == 3 ? EntryState::Waiting : EntryState::Done);
        QCOMPARE(FilesIn(small).size(), 4);
    }

    // In the window too, room is needed only for what will be written: an output folder not
    // made yet shows the free space of the folder above it; a second batch of the same files
    // onto a card now full counts no room for outputs up to date, asks nothing and converts
    // nothing.
    void aReRunOntoAFullCardAsksNothing()
    {
        const QString small = SmallFolder("size=1m");
        if (small.isEmpty())
            QSKIP("cannot mount a 1 MB tmpfs for the output here (needs root with mount rights)");
        const QStringList sources {Wav("r1.wav", 10.0), Wav("r2.wav", 10.0)};
        Add(sources);
        form_->Text1->setText(small + "/music");
        QVERIFY2(ForecastText().endsWith(QStringLiteral("; 1.0 MB free")), qPrintable(form_->ForecastPanel->text()));
        Module1::Test::SetNextMessageAnswer(QMessageBox::Yes);  // the folder is made
        QVERIFY(RunBatch());
        QCOMPARE(Module1::Test::TakeAskedMessages().size(), std::size_t(1));
        QCOMPARE(Entry(1).state, EntryState::Done);

        QFile filler(small + "/another program's file");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        filler.write(QByteArray(static_cast<int>(*OutputVolume::FreeBytes(small)) - 4096, 'f'));
        filler.close();
        Add(sources);
        QTRY_VERIFY2(form_->ForecastPanel->text().startsWith(QStringLiteral("2 files waiting, all up to date; ")),
                     qPrintable(form_->ForecastPanel->text()));
        QVERIFY(RunBatch());
        QVERIFY(Module1::Test::TakeAskedMessages().empty());
        QCOMPARE(Entry(2).state, EntryState::Done);
        QCOMPARE(Entry(3).state, EntryState::Done);
        QVERIFY2(form_->StatusPanel->text().startsWith(QStringLiteral("0 done, 2 up to date")), qPrintable(form_->StatusPanel->text()));
    }

    // Filling the card: every file at the highest bitrate at which all of them fit. They all
    // fit, and the forecast at that bitrate was within 1 % of what was written.
    void fillingTheCardAtTheHighestBitrateThatFits()
    {
        const QString small = SmallFolder("size=1m");
        if (small.isEmpty())
            QSKIP("cannot mount a 1 MB tmpfs for the output here (needs root with mount rights)");
        Add({Wav("a.wav", 40.0), Wav("b.wav", 40.0), Wav("c.wav", 30.0)});
        form_->Text1->setText(small);
        ForecastText();
        const vardune::SizeForecast forecast = form_->Waiting->Forecast();
        const double freeBytes = *OutputVolume::FreeBytes(small);
        const std::optional<int> fit = forecast.FittingBitrate(freeBytes);
        QVERIFY(forecast.Bytes() > freeBytes && fit);
        Module1::Test::SetNextMessageAnswer(QMessageBox::YesToAll);
        QVERIFY(RunBatch());
        QCOMPARE(Module1::Test::TakeAskedMessages().size(), std::size_t(1));
        qint64 written = 0;
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(Entry(row).state, EntryState::Done);
            written += QFileInfo(Module1::ToQt(Entry(row).targetPath)).size();
        }
        QVERIFY(written <= freeBytes);
        QVERIFY2(std::abs(forecast.BytesAt(*fit) - written) <= 0.01 * written,
                 qPrintable(QStringLiteral("forecast %1, written %2").arg(forecast.BytesAt(*fit)).arg(written)));
        // The window keeps its quality: only that batch was at the other bitrate.
        QCOMPARE(Module1::settings().profile.bitrate, 0);
        QCOMPARE(Module1::settings().profile.quality, std::string("1- CD Quality"));
    }

    // The forecast fitted, but something else took the room meanwhile: the file that hits the
    // full disk fails with the reason, no further file starts, nothing half-written stays.
    void aFolderThatFillsUpAnywayStopsTheBatch()
    {
        const QString small = SmallFolder("size=1m");
        if (small.isEmpty())
            QSKIP("cannot mount a 1 MB tmpfs for the output here (needs root with mount rights)");
        Module1::settings().jobs = "1";
        Add({Wav("x1.wav", 10.0), Wav("x2.wav", 10.0), Wav("x3.wav", 10.0)});
        form_->Text1->setText(small);
        ForecastText();
        form_->StartVardo->trigger();
        QVERIFY(Module1::Test::TakeAskedMessages().empty()); // it fits
        // Another program writes to the card before the first file starts: 16 kB stay free.
        QFile filler(small + "/other program's file");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        filler.write(QByteArray(static_cast<int>(*OutputVolume::FreeBytes(small)) - 16384, 'f'));
        filler.close();
        QTRY_VERIFY_WITH_TIMEOUT(form_->isEnabled() && !BoardOpen(), 30000);

        QCOMPARE(Entry(0).state, EntryState::Failed);
        QCOMPARE(ToolTip(0), QStringLiteral("the output folder is full"));
        QCOMPARE(Entry(1).state, EntryState::Waiting);
        QCOMPARE(Entry(2).state, EntryState::Waiting);
        QCOMPARE(FilesIn(small).size(), 1); // the other program's file only
    }

    // On a real FAT file system (an image made by mkfs.vfat, mounted through a loop device, or
    // by fusefat where the kernel has no FAT driver), every name lands as a file of its own,
    // and the entry shows the name written.
    void namesOnAFatFileSystem()
    {
        const QString image = Path("card.img");
        const QString card = Path("card");
        QDir().mkpath(card);
        QFile img(image);
        QVERIFY(img.open(QIODevice::WriteOnly) && img.resize(16 * 1024 * 1024));
        img.close();
        if (QProcess::execute(QStringLiteral("mkfs.vfat"), {image}) != 0)
            QSKIP("mkfs.vfat (dosfstools) is not installed");
        if (QProcess::execute(QStringLiteral("mount"), {"-o", "loop", image, card}) == 0)
            mounts_ << card;
        else if (MountFat(image, card) == 0)
            mounts_ << card;
        else
            QSKIP("cannot mount a FAT image here: no loop mount (needs root and the vfat driver) and no fusefat");
        QVERIFY(OutputVolume::TakesOnlyPortableNames(card));

        Add({Wav("src/What?.mp3", 0.5), Wav("src/AC:DC.mp3", 0.5), Wav("src/name.", 0.5), Wav("src/Song.mp3", 0.5),
             Wav("src/SONG.mp3", 0.5)});
        form_->Text1->setText(card);
        QVERIFY(RunBatch());
        const QStringList expected = {"V_What_.mp3", "V_AC_DC.mp3", "V_name..MP3", "V_Song.mp3", "V_SONG (2).mp3"};
        for (int row = 0; row < 5; ++row) {
            QCOMPARE(Entry(row).state, EntryState::Done);
            QCOMPARE(Module1::ToQt(Entry(row).targetPath), card + "/" + expected[row]);
            QCOMPARE(QFileInfo(card + "/" + expected[row]).size(), QString(Module1::ToQt(Entry(row).targetSize)).trimmed().toLongLong());
        }
        // Five files of their own (fusefat shows the volume label as a file too).
        QStringList names;
        for (const QFileInfo& file : FilesIn(card))
            if (file.fileName().startsWith("V_"))
                names << file.fileName();
        QVERIFY2(names.size() == 5, qPrintable(names.join('|')));
    }

    // A card that takes ASCII names only (vfat mounted with iocharset=ascii, or fusefat, which
    // takes no other): an album whose names hold other letters is written under ASCII names,
    // and the list shows the names written. Where no such card can be mounted, an encoder that
    // refuses those names as the card does stands in for it.
    void namesTheCardRefusesAreWrittenInAscii()
    {
        const QString image = Path("ascii.img");
        const QString card = Path("ascii");
        QDir().mkpath(card);
        QFile img(image);
        QVERIFY(img.open(QIODevice::WriteOnly) && img.resize(16 * 1024 * 1024));
        img.close();
        QString how;
        if (QProcess::execute(QStringLiteral("mkfs.vfat"), {image}) == 0) {
            if (QProcess::execute(QStringLiteral("mount"), {"-o", "loop,iocharset=ascii", image, card}) == 0)
                how = QStringLiteral("a FAT image mounted with iocharset=ascii");
            else if (MountFat(image, card) == 0)
                how = QStringLiteral("a FAT image mounted by fusefat");
        }
        if (how.isEmpty()) {
            how = QStringLiteral("the refusal simulated: no FAT image could be mounted here");
            QFile::remove(encoder_);
            QFile fake(encoder_);
            QVERIFY(fake.open(QIODevice::WriteOnly));
            fake.write("#!/bin/sh\nexport LC_ALL=C\ncase \"$2\" in *[!\\ -~]*) echo \"fastencc: cannot write to $2: "
                       "the folder's file system refuses the characters of this name\" >&2; exit 5;; esac\n"
                       "exec " FASTENCC_PATH " \"$@\"\n");
            fake.close();
            QVERIFY(fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        } else {
            mounts_ << card;
        }
        qInfo("%s", qPrintable(how));

        // Other scripts are written in Latin letters (ICU's transliteration).
        Add({Wav(QStringLiteral("album/\u00dcn\u00efc\u00f8d\u00e9.wav"), 0.3), Wav(QStringLiteral("album/S\u00f8ren.wav"), 0.3),
             Wav(QStringLiteral("album/01 \u266a\u266b.wav"), 0.3), Wav(QStringLiteral("album/Plain.wav"), 0.3),
             Wav(QStringLiteral("album/02 \u041f\u0435\u0441\u043d\u044f.wav"), 0.3),
             Wav(QStringLiteral("album/03 \u03b1\u03c5\u03c1\u03b9\u03bf.wav"), 0.3)});
        form_->Text1->setText(card);
        QVERIFY(RunBatch());
        const QStringList expected = {"V_Unicode.wav.MP3", "V_Soren.wav.MP3", "", "V_Plain.wav.MP3", "V_02 Pesna.wav.MP3",
                                      "V_03 aurio.wav.MP3"};
        for (int row = 0; row < expected.size(); ++row) {
            QVERIFY2(Entry(row).state == EntryState::Done, qPrintable(ToolTip(row)));
            const QString written = Module1::ToQt(Entry(row).targetPath);
            QVERIFY2(QFileInfo::exists(written), qPrintable(written));
            if (!expected[row].isEmpty())
                QCOMPARE(written, card + "/" + expected[row]);
        }
        // Nothing readable in the title (musical signs): the track number and a short hash.
        QVERIFY2(QRegularExpression(QStringLiteral("/V_01 [0-9a-f]{8}\\.wav\\.MP3$")).match(Module1::ToQt(Entry(2).targetPath)).hasMatch(),
                 qPrintable(Module1::ToQt(Entry(2).targetPath)));
    }

    // Kept folders on a card that takes ASCII names only: a folder whose name it refuses for
    // its letters makes the batch write ASCII names, folders and files alike.
    void keptFoldersOnACardThatTakesOnlyAscii()
    {
        const QString image = Path("folders.img");
        const QString card = Path("folders");
        QDir().mkpath(card);
        QFile img(image);
        QVERIFY(img.open(QIODevice::WriteOnly) && img.resize(16 * 1024 * 1024));
        img.close();
        if (QProcess::execute(QStringLiteral("mkfs.vfat"), {image}) != 0)
            QSKIP("mkfs.vfat (dosfstools) is not installed");
        if (QProcess::execute(QStringLiteral("mount"), {"-o", "loop,iocharset=ascii", image, card}) == 0
            || MountFat(image, card) == 0)
            mounts_ << card;
        else
            QSKIP("cannot mount a FAT image here: no loop mount (needs root and the vfat driver) and no fusefat");

        const QString plain = Wav("lib/Plain/a.wav", 0.3);
        const QString other = Wav(QStringLiteral("lib/Bj\u00f6rk/S\u00f8ren.wav"), 0.3);
        std::vector<std::pair<std::string, std::string>> files;
        for (const QString& path : {plain, other})
            files.emplace_back(Module1::FromQt(path), vardune::VardoList::GetFileSize(Module1::FromQt(path)));
        form_->ListModel->Append(files, Module1::FromQt(Path("lib")));
        Module1::settings().outputLayout = "FOLDERS";
        form_->Text1->setText(card);
        QVERIFY(RunBatch());
        Module1::settings().outputLayout.clear();
        QVERIFY2(Entry(0).state == EntryState::Done, qPrintable(ToolTip(0)));
        QCOMPARE(Module1::ToQt(Entry(0).targetPath), card + "/Plain/a.mp3");
        QVERIFY2(Entry(1).state == EntryState::Done, qPrintable(ToolTip(1)));
        QCOMPARE(Module1::ToQt(Entry(1).targetPath), card + "/Bjork/Soren.mp3");
        QVERIFY(QFileInfo::exists(card + "/Bjork/Soren.mp3"));
    }
};

VARDUNE_GUI_TEST_MAIN(SmallPlayerTest)
#include "smallplayer_test.moc"
