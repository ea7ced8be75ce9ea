#include "batchdriver.h"
#include "choicebox.h"
#include "batchwindow.h"
#include "digitaldisplay.h"
#include "form1.h"
#include "frmmonitor.h"
#include "guitestmain.h"
#include "testaudio.h"
#include "module1.h"
#include "vardolistmodel.h"
#include "vardolistview.h"

#include "sourcemark.h"
#include "encoderpool.h"
#include "vardolistactions.h"
#include "waitingforecast.h"
#include "windowbatch.h"

#include <QDBusConnection>
#include <QDirIterator>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <cmath>

#include <sched.h>

using vardune::EntryState;

namespace {

QImage Readout(frmMonitor* board, const QString& text)
{
    QLabel scratch;
    scratch.setPalette(board->PicFile1->palette());
    DisplayDigital(&scratch, text, board->Picture1);
    return scratch.pixmap().toImage();
}

} // namespace

// The desktop's notification service, as far as the program uses it: it keeps what it is told.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList received;  // "summary|body"

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body, const QStringList&,
                const QVariantMap&, int)
    {
        received << summary + "|" + body;
        return static_cast<uint>(received.size());
    }
};

class BatchTest : public QObject, protected BatchWindow {
    Q_OBJECT

private:
    QString encoder_;
    QProcess bus_;
    QString busAddress_;
    FakeNotifications notifications_;

    // Puts a fake encoder, a shell script, where the program starts its encoder.
    void FakeEncoder(const QString& body)
    {
        QFile::remove(encoder_);
        QFile file(encoder_);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n" + body.toUtf8() + "\n");
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    void RealEncoder()
    {
        QFile::remove(encoder_);
        QVERIFY(QFile::link(QStringLiteral(FASTENCC_PATH), encoder_));
    }

    QString Make(const QString& name, int bytes)
    {
        QDir().mkpath(QFileInfo(Path(name)).path());
        QFile file(Path(name));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot make %s", qPrintable(name));
        file.write(QByteArray(bytes, 'x'));
        return file.fileName();
    }

private slots:
    void initTestCase()
    {
        // A session bus of the test's own, so the desktop's notification service is one the
        // test can read. It must be in place before the program first looks for a bus.
        bus_.setProgram(QStringLiteral("dbus-daemon"));
        bus_.setArguments({"--session", "--nofork", "--print-address=1"});
        bus_.start();
        if (bus_.waitForReadyRead(5000)) {
            const QString address = QString::fromUtf8(bus_.readLine()).trimmed();
            qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
            QDBusConnection server = QDBusConnection::connectToBus(address, QStringLiteral("notifications"));
            if (server.registerService(QStringLiteral("org.freedesktop.Notifications")) &&
                server.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications_,
                                      QDBusConnection::ExportAllSlots))
                busAddress_ = address;
        }
        Module1::Test::SetEndProcessHandler([] {});
        encoder_ = QCoreApplication::applicationDirPath() + "/fastencc";
    }

    void cleanupTestCase()
    {
        bus_.kill();
        bus_.waitForFinished();
    }

    void init() { OpenMainWindow(); }

    void cleanup()
    {
        QFile::remove(encoder_);
        QVERIFY(CloseMainWindow());
    }

    void realEncoderConvertsOnlyTheWaitingEntries()
    {
        RealEncoder();
        QStringList sources;
        for (const char* name : {"a.wav", "b.wav", "c.wav", "d.wav"}) {
            WriteToneWav(Path(name), 1.0);
            sources << Path(name);
        }
        // d.wav is cut short: what is there is converted, and its tool tip says so.
        QVERIFY(QFile::resize(sources[3], QFileInfo(sources[3]).size() / 2));
        Add(sources);
        form_->ListModel->SetResult(Entry(1).id, "/old/V_b.wav.MP3", " 7", " 1%", EntryState::Done);
        form_->ListModel->SetResult(Entry(2).id, "", "", "", EntryState::Failed);
        QVERIFY(RunBatch());

        QCOMPARE(form_->Text1->text(), Path("out/"));
        QCOMPARE(Module1::settings().targetFolder, Module1::FromQt(Path("out/")));
        for (int row : {0, 3}) {
            const auto& e = Entry(row);
            QCOMPARE(e.state, EntryState::Done);
            const QString target = Path("out/V_" + Module1::ToQt(e.sourceName) + ".MP3");
            QCOMPARE(Module1::ToQt(e.targetPath), target);
            QCOMPARE(Module1::ToQt(e.targetSize), " " + QString::number(QFileInfo(target).size()));
            const int rate = static_cast<int>(std::floor(double(QFileInfo(target).size()) / QFileInfo(sources[row]).size() * 100));
            QCOMPARE(Module1::ToQt(e.rate), " " + QString::number(rate) + "%");
            QFile mp3(target);
            QVERIFY(mp3.open(QIODevice::ReadOnly));
            const QByteArray head = mp3.read(3);
            QVERIFY(head == "ID3" || (quint8(head[0]) == 0xFF && (quint8(head[1]) & 0xE0) == 0xE0));
        }
        QCOMPARE(Entry(1).targetPath, std::string("/old/V_b.wav.MP3"));
        QCOMPARE(Entry(2).state, EntryState::Failed);
        QVERIFY(!QFile::exists(Path("out/V_b.wav.MP3")));
        QVERIFY(!QFile::exists(Path("out/V_c.wav.MP3")));
        QCOMPARE(form_->ListModel->index(0, 0).data(Qt::UserRole).toInt(), 4);
        QCOMPARE(form_->ListModel->index(0, 2).data(Qt::ToolTipRole).toString(), QStringLiteral("a.wav"));
        QVERIFY2(form_->ListModel->index(3, 2).data(Qt::ToolTipRole).toString().contains("the source ends early"),
                 qPrintable(form_->ListModel->index(3, 2).data(Qt::ToolTipRole).toString()));
    }

    // Even loudness: each file is measured, converted at its gain, and its tool tip says how
    // much; made again at the same gain it is up to date, and with levelling off it is made
    // again as it was.
    void evenLoudnessLevelsEachFileAndSaysHowMuch()
    {
        RealEncoder();
        const QString quiet = Path("quiet.wav");
        const QString loud = Path("loud.wav");
        const auto tone = [](double level) {
            return [level](int i, int) { return level * std::sin(2 * M_PI * 440 * i / 44100.0); };
        };
        QVERIFY(WriteWav(quiet, 2 * 44100, 2, 44100, tone(0.02)));
        QVERIFY(WriteWav(loud, 2 * 44100, 2, 44100, tone(0.6)));
        Module1::settings().evenLoudness = "track";
        Add({quiet, loud});
        QVERIFY(RunBatch());
        const auto tip = [this](int row) { return form_->ListModel->index(row, 2).data(Qt::ToolTipRole).toString(); };
        QCOMPARE(Entry(0).state, EntryState::Done);
        QCOMPARE(Entry(1).state, EntryState::Done);
        QVERIFY2(tip(0).startsWith("levelled by +"), qPrintable(tip(0)));
        QVERIFY2(tip(1).startsWith("levelled by -"), qPrintable(tip(1)));
        for (int row : {0, 1}) {
            QFile mp3(Module1::ToQt(Entry(row).targetPath));
            QVERIFY(mp3.open(QIODevice::ReadOnly));
            QVERIFY(mp3.read(4096).contains("REPLAYGAIN_TRACK_GAIN"));
        }
        const qint64 levelledSize = QFileInfo(Module1::ToQt(Entry(0).targetPath)).size();

        for (int row : {0, 1})
            form_->ListModel->SetResult(Entry(row).id, "", "", "", EntryState::Waiting);
        QVERIFY(RunBatch());
        QCOMPARE(tip(0), QStringLiteral("up to date: not converted again"));

        Module1::settings().evenLoudness.clear();
        for (int row : {0, 1})
            form_->ListModel->SetResult(Entry(row).id, "", "", "", EntryState::Waiting);
        QVERIFY(RunBatch());
        QCOMPARE(Entry(0).state, EntryState::Done);
        QCOMPARE(tip(0), QStringLiteral("quiet.wav"));
        QFile mp3(Module1::ToQt(Entry(0).targetPath));
        QVERIFY(mp3.open(QIODevice::ReadOnly));
        QVERIFY(!mp3.read(4096).contains("REPLAYGAIN"));
        QVERIFY(QFileInfo(Module1::ToQt(Entry(0).targetPath)).size() < levelledSize);

        // Nothing waiting: nothing to measure, and the batch ends as it always did.
        Module1::settings().evenLoudness = "album";
        QVERIFY(RunBatch(10));
        Module1::settings().evenLoudness.clear();
    }

    // Even loudness measures the waiting files while the list is put together: a batch
    // started afterwards measures nothing again, and a file written since is measured anew.
    void loudnessIsMeasuredWhileTheListIsPutTogether()
    {
        FakeEncoder(QStringLiteral("[ \"$1\" = --loudness ] && echo measured >> \"%1\"\nexec \"%2\" \"$@\"")
                        .arg(Path("calls"), QStringLiteral(FASTENCC_PATH)));
        const auto tone = [](double level) {
            return [level](int i, int) { return level * std::sin(2 * M_PI * 440 * i / 44100.0); };
        };
        QVERIFY(WriteWav(Path("quiet.wav"), 2 * 44100, 2, 44100, tone(0.02)));
        QVERIFY(WriteWav(Path("loud.wav"), 2 * 44100, 2, 44100, tone(0.6)));
        Module1::settings().evenLoudness = "track";
        Add({Path("quiet.wav"), Path("loud.wav")});
        form_->Waiting->ShowForecast();
        QTRY_VERIFY_WITH_TIMEOUT(form_->Waiting->MeasuredAhead(Entry(0).id) && form_->Waiting->MeasuredAhead(Entry(1).id), 20000);
        QVERIFY(!form_->Waiting->MeasuringAhead());
        const auto calls = [this] {
            QFile file(Path("calls"));
            return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
        };
        QCOMPARE(calls(), 1);
        QVERIFY(RunBatch());
        Module1::settings().evenLoudness.clear();
        const auto tip = [this](int row) { return form_->ListModel->index(row, 2).data(Qt::ToolTipRole).toString(); };
        QVERIFY2(tip(0).startsWith("levelled by +"), qPrintable(tip(0)));
        QVERIFY2(tip(1).startsWith("levelled by -"), qPrintable(tip(1)));
        QCOMPARE(calls(), 1);
        // Written again (its size the same): what was measured no longer holds.
        QTest::qWait(20);
        QVERIFY(WriteWav(Path("quiet.wav"), 2 * 44100, 2, 44100, tone(0.05)));
        QVERIFY(!form_->Waiting->MeasuredAhead(Entry(0).id));
    }

    // The measuring pass and encoders that cannot measure: one that dies on a source, one
    // that answers nonsense, one that ends at once. Every file is converted still, those it
    // could not measure as they are, and only the measured one gets a gain.
    void filesThatCannotBeMeasuredAreConvertedAsTheyAre()
    {
        // Measuring: a.mp3 gets a line, b.mp3 a line that does not read, c.mp3 kills the
        // measuring process; the one started again for d.mp3 ends without a word.
        FakeEncoder(QStringLiteral(R"(if [ "$1" = --loudness ]; then
  exec bash -c 'while IFS= read -r -d "" f; do
    case "$f" in
      *a.mp3) printf "ok\t-20.00\t0.100000\t10.000\t500:90\t\n" ;;
      *b.mp3) printf "ok\tloud\n" ;;
      *c.mp3) kill -9 $$ ;;
      *) exit 0 ;;
    esac
  done'
fi
echo "$@" >> "%1"
printf x > "$2")").arg(Path("calls")));
        Module1::settings().evenLoudness = "track";
        QStringList sources;
        for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"})
            sources << Make(name, 100);
        Add(sources);
        QVERIFY(RunBatch());
        Module1::settings().evenLoudness.clear();
        for (int row = 0; row < 4; ++row)
            QCOMPARE(Entry(row).state, EntryState::Done);
        QFile calls(Path("calls"));
        QVERIFY(calls.open(QIODevice::ReadOnly));
        // The conversions (the window asks the encoder for the forecast too).
        const QStringList lines = QString::fromUtf8(calls.readAll()).split('\n', Qt::SkipEmptyParts).filter(Path("out/"));
        QCOMPARE(lines.size(), 4);
        for (const QString& line : lines)
            QCOMPARE(line.contains("-gain 2.00 -peak 0.100000"), line.startsWith(Path("a.mp3")));
    }

    void missingEncoderFailsEveryEntryAtOnce()
    {
        QFile::remove(encoder_);
        Add({Make("1.mp3", 10), Make("2.mp3", 10)});
        QElapsedTimer timer;
        timer.start();
        QVERIFY(RunBatch());
        QVERIFY(timer.elapsed() < 5000);
        for (int row : {0, 1}) {
            QCOMPARE(Entry(row).state, EntryState::Failed);
            QCOMPARE(Entry(row).targetPath, std::string());
            QCOMPARE(form_->ListModel->index(row, 2).data(Qt::ToolTipRole).toString(),
                     QStringLiteral("the encoder could not be started"));
        }
    }

    void outcomesOfOddEncoders()
    {
        // The fake writes as many bytes as the source's sidecar says, or fails as told.
        FakeEncoder(R"(case "$1" in
  *fail*) echo "not an audio file" >&2; exit 1 ;;
  *crash*) kill -9 $$ ;;
esac
n=$(cat "$1.out"); head -c "$n" /dev/zero > "$2")");
        const struct {
            const char* name;
            int source;
            int output;
            EntryState state;
            const char* size;
            const char* rate;
            const char* note;
        } cases[] = {
            {"rate45.mp3", 10000000, 4567890, EntryState::Done, " 4567890", " 45%", ""},
            {"bigger.mp3", 100, 120, EntryState::Done, " 120", " 120%", ""},
            {"tiny.mp3", 1000, 9, EntryState::Done, " 9", "", ""},
            {"empty.mp3", 1000, 0, EntryState::Failed, " 0", "", "the encoder left no output"},
            {"fail.mp3", 1000, 0, EntryState::Failed, "", "", "not an audio file"},
            {"crash.mp3", 1000, 0, EntryState::Failed, "", "", "the encoder stopped unexpectedly"},
            {"zero.mp3", 0, 50, EntryState::Done, " 50", "", ""},  // no source size: no rate
        };
        QStringList sources;
        for (const auto& c : cases) {
            sources << Make(c.name, c.source);
            Make(QString(c.name) + ".out", 0);
            QFile out(Path(QString(c.name) + ".out"));
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(QByteArray::number(c.output));
        }
        // A file of the failing entry's name stands there from an earlier run.
        Make("out/V_fail.mp3", 5);
        Add(sources);
        QVERIFY(RunBatch());
        for (int row = 0; row < int(std::size(cases)); ++row) {
            const auto& c = cases[row];
            const auto& e = Entry(row);
            QCOMPARE(e.state, c.state);
            QCOMPARE(e.targetSize, std::string(c.size));
            QCOMPARE(e.rate, std::string(c.rate));
            QCOMPARE(e.note, std::string(c.note));
            QCOMPARE(e.targetPath.empty(), std::string(c.size).empty());
        }
    }

    // Two albums whose tracks share names, added with Add Folder, converted by the real
    // encoder: each layout puts every output at its exact place below the output folder,
    // making the folders, and numbers only the paths that collide.
    void layoutsPlaceOutputsBelowTheOutputFolder_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("expected");  // below out/, in list (path) order
        QTest::newRow("keep the folders") << "FOLDERS" << ""
            << QStringList({"lib/Alpha/Best Of/01.mp3", "lib/Alpha/Best Of/02.mp3", "lib/Beta/Live/01.mp3",
                            "lib/Beta/Live/02.mp3", "lib/Beta/Live/03.mp3", "lib/loose.mp3"});
        QTest::newRow("names from tags") << "TAGS" << ""
            << QStringList({"Alpha/Best Of/01 Intro.mp3", "Alpha/Best Of/02 Song_Two.mp3", "Beta/Live/01 Intro.mp3",
                            "Beta/Live/02 02.mp3", "Beta/Live/01 Intro (2).mp3", "Unknown Artist/Unknown Album/loose.mp3"});
        QTest::newRow("names from tags, one album folder") << "TAGS" << "{artist} - {title}"
            << QStringList({"Alpha - Intro.mp3", "Alpha - Song_Two.mp3", "Beta - Intro.mp3", "Beta - 02.mp3",
                            "Beta - Intro (2).mp3", "Unknown Artist - loose.mp3"});
    }

    void layoutsPlaceOutputsBelowTheOutputFolder()
    {
        QFETCH(QString, layout);
        QFETCH(QString, pattern);
        QFETCH(QStringList, expected);
        RealEncoder();
        QDir().mkpath(Path("lib/Alpha/Best Of"));
        QDir().mkpath(Path("lib/Beta/Live"));
        QVERIFY(WriteTaggedWav(Path("lib/Alpha/Best Of/01.wav"), {{"IART", "Alpha"}, {"IPRD", "Best Of"}, {"INAM", "Intro"}, {"IPRT", "1"}}));
        QVERIFY(WriteTaggedWav(Path("lib/Alpha/Best Of/02.wav"), {{"IART", "Alpha"}, {"IPRD", "Best Of"}, {"INAM", "Song/Two"}, {"IPRT", "2"}}));
        QVERIFY(WriteTaggedWav(Path("lib/Beta/Live/01.wav"), {{"IART", "Beta"}, {"IPRD", "Live"}, {"INAM", "Intro"}, {"IPRT", "1"}}));
        QVERIFY(WriteTaggedWav(Path("lib/Beta/Live/02.wav"), {{"IART", "Beta"}, {"IPRD", "Live"}, {"IPRT", "2"}}));
        QVERIFY(WriteTaggedWav(Path("lib/Beta/Live/03.wav"), {{"IART", "Beta"}, {"IPRD", "Live"}, {"INAM", "Intro"}, {"IPRT", "1"}}));
        QVERIFY(WriteToneWav(Path("lib/loose.wav"), 0.2));
        Module1::settings().outputLayout = Module1::FromQt(layout);
        Module1::settings().namePattern = Module1::FromQt(pattern);
        form_->ComboBox1->setCurrentText(QStringLiteral("*.wav"));
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ListActions->AddFolderEntries(Path("lib"));
        QCOMPARE(int(form_->ListModel->List().Count()), expected.size());
        // The folder added keeps its own name: its files are kept below the folder above it.
        QCOMPARE(Entry(0).root, Module1::FromQt(Path("")));
        // Before the batch, each row shows where its output will go, once its tags are read.
        form_->ShowStatusBarValue();
        const auto shown = [this](int row) { return form_->ListModel->index(row, 4).data().toString(); };
        QTRY_COMPARE_WITH_TIMEOUT(shown(expected.size() - 1), Path("out/" + expected.last()), 10000);
        for (int row = 0; row < expected.size(); ++row)
            QCOMPARE(shown(row), Path("out/" + expected[row]));
        Module1::settings().outputLayout = "ONEFOLDER";
        form_->ShowStatusBarValue();
        QTRY_COMPARE(shown(1), Path("out/V_02.wav.MP3"));
        QCOMPARE(shown(3), Path("out/V_02.wav (2).MP3"));
        Module1::settings().outputLayout = Module1::FromQt(layout);
        form_->ShowStatusBarValue();
        QTRY_COMPARE(shown(0), Path("out/" + expected[0]));
        QVERIFY(RunBatch());
        QStringList targets;
        for (int row = 0; row < expected.size(); ++row) {
            QCOMPARE(Entry(row).state, EntryState::Done);
            targets << Module1::ToQt(Entry(row).targetPath).mid(Path("out/").size());
        }
        QCOMPARE(targets, expected);
        QStringList written;
        QDirIterator it(Path("out"), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            written << it.next().mid(Path("out/").size());
        written.sort();
        QStringList sorted = expected;
        sorted.sort();
        QCOMPARE(written, sorted);
    }

    // Tags written again in place (the file's size the same) name the output by what they say
    // now, not by what the encoder read when the file was added.
    void tagsEditedInPlaceAreReadAgain()
    {
        RealEncoder();
        QDir().mkpath(Path("lib"));
        QVERIFY(WriteTaggedWav(Path("lib/1.wav"), {{"IART", "Alpha"}, {"INAM", "Intro"}}));
        Module1::settings().outputLayout = "TAGS";
        Module1::settings().namePattern = "{artist} - {title}";
        form_->ComboBox1->setCurrentText(QStringLiteral("*.wav"));
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ListActions->AddFolderEntries(Path("lib"));
        form_->Waiting->ShowForecast();
        QTRY_VERIFY_WITH_TIMEOUT(!form_->Waiting->SourceTagsPending(Entry(0).id), 10000);
        QCOMPARE(form_->Waiting->SourceTags(Entry(0).id)->title, std::string("Intro"));
        const qint64 size = QFileInfo(Path("lib/1.wav")).size();
        QTest::qWait(20);  // a later change time, on any file system's clock
        QVERIFY(WriteTaggedWav(Path("lib/1.wav"), {{"IART", "Alpha"}, {"INAM", "Outro"}}));
        QCOMPARE(QFileInfo(Path("lib/1.wav")).size(), size);
        QVERIFY(RunBatch());
        QCOMPARE(Entry(0).state, EntryState::Done);
        QCOMPARE(Module1::ToQt(Entry(0).targetPath), Path("out/Alpha - Outro.mp3"));
    }

    // A folder that cannot be made below the output folder fails its entry and says why; the
    // other entries go on.
    void aFolderInTheWayFailsItsEntry()
    {
        RealEncoder();
        QDir().mkpath(Path("lib/A"));
        QDir().mkpath(Path("lib/B"));
        QVERIFY(WriteToneWav(Path("lib/A/1.wav"), 0.2));
        QVERIFY(WriteToneWav(Path("lib/B/2.wav"), 0.2));
        Make("out/lib/A", 3);  // a file where the folder A should be
        Module1::settings().outputLayout = "FOLDERS";
        form_->ComboBox1->setCurrentText(QStringLiteral("*.wav"));
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ListActions->AddFolderEntries(Path("lib"));
        QVERIFY(RunBatch());
        QCOMPARE(Entry(0).state, EntryState::Failed);
        QVERIFY2(QString::fromStdString(Entry(0).note).contains("a file of that name is in the way"), Entry(0).note.c_str());
        QCOMPARE(QFileInfo(Path("out/lib/A")).size(), qint64(3));
        QCOMPARE(Entry(1).state, EntryState::Done);
        QVERIFY(QFile::exists(Path("out/lib/B/2.mp3")));
    }

    void playlistsAndFolderPicturesGoAlong_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("playlist");  // where the carried playlist lies, below out/
        QTest::addColumn<bool>("pictures");     // whether folder pictures go along
        QTest::newRow("keep the folders") << "FOLDERS" << QString::fromUtf8("lib/Album/Straße.m3u8") << true;
        QTest::newRow("one folder") << "ONEFOLDER" << QString::fromUtf8("V_Straße.m3u8") << false;
    }

    // An added folder's playlist is written for the outputs its tracks became, and its cover
    // goes along where the folders are kept; a picture the user put there stays as it is.
    void playlistsAndFolderPicturesGoAlong()
    {
        QFETCH(QString, layout);
        QFETCH(QString, playlist);
        QFETCH(bool, pictures);
        RealEncoder();
        QDir().mkpath(Path("lib/Album"));
        QDir().mkpath(Path("lib/B"));
        QVERIFY(WriteToneWav(Path("lib/Album/01 Intro.wav"), 0.2));
        QVERIFY(WriteToneWav(Path("lib/Album/02 Café.wav"), 0.2));
        QVERIFY(WriteToneWav(Path("lib/B/1.wav"), 0.2));
        QDir().mkpath(Path("lib/C"));
        QVERIFY(WriteToneWav(Path("lib/C/1.wav"), 0.2));
        // Larger than a player's folder art: it goes along shrunk.
        QImage large(1400, 1000, QImage::Format_RGB32);
        large.fill(Qt::blue);
        QVERIFY(large.save(Path("lib/C/folder.jpg"), "JPEG"));
        QImage cover(64, 64, QImage::Format_RGB32);
        cover.fill(Qt::red);
        QVERIFY(cover.save(Path("lib/Album/cover.jpg"), "JPEG"));
        QVERIFY(cover.save(Path("lib/B/folder.png"), "PNG"));
        // The user's own picture where B's would go.
        Make("out/lib/B/folder.png", 4);
        QFile list(Path("lib/Album/Straße.m3u8"));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write(("#EXTM3U\n#EXTINF:1,Intro\n01 Intro.wav\r\n" + Path("lib/Album/02 Café.wav") + "\ngone.wav\n").toUtf8());
        list.close();
        Module1::settings().outputLayout = Module1::FromQt(layout);
        form_->ComboBox1->setCurrentText(QStringLiteral("*.wav"));
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ListActions->AddFolderEntries(Path("lib"));
        QCOMPARE(int(form_->ListModel->List().Count()), 4);  // the playlist is no entry
        QCOMPARE(int(form_->ListActions->Playlists().size()), 1);
        QVERIFY(RunBatch());
        for (int row = 0; row < 4; ++row)
            QCOMPARE(Entry(row).state, EntryState::Done);
        QVERIFY2(form_->StatusPanel->text().contains(QString::fromUtf8("Playlist Straße.m3u8: 2 tracks written, 1 left out")),
                 qPrintable(form_->StatusPanel->text()));

        QFile written(Path("out/" + playlist));
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QString folder = QFileInfo(written).absolutePath() + "/";
        QStringList opened;
        for (const QString& line : QString::fromUtf8(written.readAll()).split('\n', Qt::SkipEmptyParts)) {
            if (line.startsWith('#'))
                continue;
            QVERIFY2(QFileInfo::exists(folder + line), qPrintable(line));
            opened << QFileInfo(folder + line).canonicalFilePath();
        }
        QCOMPARE(opened, QStringList({QFileInfo(Module1::ToQt(Entry(0).targetPath)).canonicalFilePath(),
                                      QFileInfo(Module1::ToQt(Entry(1).targetPath)).canonicalFilePath()}));

        QStringList pictureFiles;
        QDirIterator it(Path("out"), {"*.jpg", "*.png"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            pictureFiles << it.next().mid(Path("out/").size());
        pictureFiles.sort();
        QCOMPARE(pictureFiles, pictures ? QStringList({"lib/Album/folder.jpg", "lib/B/folder.png", "lib/C/folder.jpg"})
                                        : QStringList({"lib/B/folder.png"}));
        QCOMPARE(QFileInfo(Path("out/lib/B/folder.png")).size(), qint64(4));
        if (pictures) {
            QCOMPARE(QImage(Path("out/lib/Album/folder.jpg")).size(), QSize(64, 64));
            QImageReader shrunk(Path("out/lib/C/folder.jpg"));
            QCOMPARE(shrunk.format(), QByteArray("jpeg"));
            QCOMPARE(shrunk.size(), QSize(600, 429));
        }

        // Again, over outputs up to date: the playlist names them, and replaces its own copy.
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ListActions->ClearAllEntries();
        QVERIFY(form_->ListActions->Playlists().empty());
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ListActions->AddFolderEntries(Path("lib"));
        QVERIFY(RunBatch());
        QVERIFY2(form_->StatusPanel->text().contains(QString::fromUtf8("4 up to date")), qPrintable(form_->StatusPanel->text()));
        QVERIFY2(form_->StatusPanel->text().contains(QString::fromUtf8("Playlist Straße.m3u8: 2 tracks written, 1 left out")),
                 qPrintable(form_->StatusPanel->text()));
        QDirIterator lists(Path("out"), {"*.m3u8"}, QDir::Files, QDirIterator::Subdirectories);
        QStringList playlists;
        while (lists.hasNext())
            playlists << lists.next().mid(Path("out/").size());
        QCOMPARE(playlists, QStringList({playlist}));
    }

    // A retried track puts its output into the playlist beside those done in the batch before.
    void aRetriedTrackJoinsTheCarriedPlaylist()
    {
        RealEncoder();
        QDir().mkpath(Path("lib"));
        QVERIFY(WriteToneWav(Path("lib/1.wav"), 0.2));
        Make("lib/2.wav", 100);  // no audio: it fails
        QFile list(Path("lib/all.m3u"));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("1.wav\n2.wav\n");
        list.close();
        Module1::settings().outputLayout = "FOLDERS";
        form_->ComboBox1->setCurrentText(QStringLiteral("*.wav"));
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_->ListActions->AddFolderEntries(Path("lib"));
        QVERIFY(RunBatch());
        QCOMPARE(Entry(1).state, EntryState::Failed);
        QVERIFY2(form_->StatusPanel->text().endsWith("; Playlist all.m3u: 1 track written, 1 left out"),
                 qPrintable(form_->StatusPanel->text()));

        QVERIFY(WriteToneWav(Path("lib/2.wav"), 0.2));
        form_->ListView1->selectionModel()->select(form_->ListModel->index(1, 0),
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        form_->ListRetry->trigger();
        QVERIFY(RunBatch());
        QVERIFY2(form_->StatusPanel->text().endsWith("; Playlist all.m3u: 2 tracks written"), qPrintable(form_->StatusPanel->text()));
        QFile written(Path("out/lib/all.m3u"));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QStringList tracks;
        for (const QString& line : QString::fromUtf8(written.readAll()).split('\n', Qt::SkipEmptyParts))
            if (!line.startsWith('#'))
                tracks << line;
        QCOMPARE(tracks, QStringList({"1.mp3", "2.mp3"}));
    }

    void sameNameFromTwoFoldersAndOddNames()
    {
        // Several at once: names are still given out in list order, and each output on disk is
        // its own entry's (the fake copies its source, whose size tells them apart).
        Module1::settings().jobs = "3";
        FakeEncoder(R"(cat "$1" > "$2")");
        Add({Make("cd1/Track01.mp3", 5), Make("cd2/Track01.mp3", 6), Make("cd1/Song.Mp3", 7), Make("cd1/.mp3", 8),
             Make("cd1/song.wav", 9), Make("cd2/SONG.MP3", 10), Make("cd3/track01.MP3", 11)});
        form_->Text1->setText(Path("out/"));
        QVERIFY(RunBatch());
        QStringList targets;
        for (int row = 0; row < 7; ++row) {
            const auto& e = Entry(row);
            QCOMPARE(e.state, EntryState::Done);
            QCOMPARE(QFileInfo(Module1::ToQt(e.targetPath)).size(), qint64(5 + row));
            QCOMPARE(e.targetSize, " " + std::to_string(5 + row));
            targets << Module1::ToQt(e.targetPath).mid(Path("out/").size());
        }
        // Letter case alone does not make two files on a player's card.
        QCOMPARE(targets, QStringList({"V_Track01.mp3", "V_Track01 (2).mp3", "V_Song.Mp3", "V_.mp3.MP3", "V_song.wav.MP3",
                                       "V_SONG (2).MP3", "V_track01 (3).MP3"}));
        QCOMPARE(form_->Text1->text(), Path("out/"));
    }

    // Outputs are the user's: a later batch, in a later session, never replaces an output of
    // another source that has the same name, nor a file of the user's; it numbers its own. A
    // file added again finds its own output, wherever the numbering put it: up to date, it is
    // done without encoding; its source changed, it is converted again and replaces it.
    void outputsOfOtherSourcesAreNeverReplaced()
    {
        RealEncoder();
        const QString first = Path("First Flight/01 Intro.wav");
        const QString second = Path("Second Flight/01 Intro.wav");
        QDir().mkpath(Path("First Flight"));
        QDir().mkpath(Path("Second Flight"));
        QVERIFY(WriteToneWav(first, 0.5, 440) && WriteToneWav(second, 0.7, 660) && WriteToneWav(Path("mine.wav"), 0.5));
        Make("out/V_mine.wav.MP3", 5);
        Add({first, Path("mine.wav")});
        QVERIFY(RunBatch());
        const QString intro = Path("out/V_01 Intro.wav.MP3");
        QCOMPARE(Module1::ToQt(Entry(0).targetPath), intro);
        QCOMPARE(Module1::ToQt(Entry(1).targetPath), Path("out/V_mine.wav (2).MP3"));
        QCOMPARE(QFileInfo(Path("out/V_mine.wav.MP3")).size(), qint64(5));
        const QFileInfo firstOutput(intro);

        // A new session: the list, the window and the names it gave out are gone.
        delete form_;
        Module1::Test::ReleaseInstanceLock();
        form_ = new Form1;
        form_->InitForm();
        form_->Text1->setText(Path("out"));
        Add({second});
        QVERIFY(RunBatch());
        QCOMPARE(Entry(0).state, EntryState::Done);
        QCOMPARE(Module1::ToQt(Entry(0).targetPath), Path("out/V_01 Intro.wav (2).MP3"));
        QCOMPARE(QFileInfo(intro).size(), firstOutput.size());
        QCOMPARE(QFileInfo(intro).lastModified(), firstOutput.lastModified());

        // Both added again, one of them changed since: it replaces its own output, the other
        // is up to date, and nothing is numbered further.
        QFile touched(first);
        QVERIFY(touched.open(QIODevice::ReadWrite)
                && touched.setFileTime(firstOutput.lastModified().addSecs(60), QFileDevice::FileModificationTime));
        touched.close();
        const QString secondOutput = Path("out/V_01 Intro.wav (2).MP3");
        const QDateTime secondTime = QFileInfo(secondOutput).lastModified();
        Add({second, first});
        QVERIFY(RunBatch());
        QCOMPARE(Entry(1).state, EntryState::Done);
        QCOMPARE(Module1::ToQt(Entry(1).targetPath), Path("out/V_01 Intro.wav (2).MP3"));
        QCOMPARE(form_->ListModel->index(1, 2).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("up to date: not converted again"));
        QCOMPARE(QFileInfo(secondOutput).lastModified(), secondTime);
        QCOMPARE(Entry(2).state, EntryState::Done);
        QCOMPARE(Module1::ToQt(Entry(2).targetPath), intro);
        QVERIFY(QFileInfo(intro).lastModified() != firstOutput.lastModified());
        QVERIFY(form_->StatusPanel->text().startsWith(QStringLiteral("1 done, 1 up to date, 0 failed, ")));
        // Four outputs, no unfinished copy, and the record of what was written.
        QCOMPARE(QDir(Path("out")).entryList(QDir::Files | QDir::Hidden).size(), 5);
        QVERIFY(QFile::exists(Path("out/.vardune-record")));
        QCOMPARE(vardune::SourceMark::PathIn(*vardune::SourceMark::ReadFile(Module1::FromQt(intro))),
                 Module1::FromQt(QFileInfo(first).canonicalFilePath()));
    }

    // A file of another source that comes to stand at the target after the name was given
    // out: the encoder refuses it (status 4) and the entry is started again under the next
    // number, which the list shows. A refusal under every name ends as a failure.
    void aTargetTakenMeanwhileGetsTheNextNumber()
    {
        FakeEncoder(R"sh(case "$2" in
  *"(2)"*|*never*) ;;
  *) echo "fastencc: cannot write to $2: a file that was not made from this source stands there; it is not replaced" >&2; exit 4 ;;
esac
case "$2" in *never*) echo "fastencc: refused again" >&2; exit 4 ;; esac
cat "$1" > "$2")sh");
        Add({Make("song.mp3", 7), Make("never.mp3", 8)});
        QVERIFY(RunBatch());
        QCOMPARE(Entry(0).state, EntryState::Done);
        QCOMPARE(Module1::ToQt(Entry(0).targetPath), Path("out/V_song (2).mp3"));
        QCOMPARE(QFileInfo(Path("out/V_song (2).mp3")).size(), qint64(7));
        QCOMPARE(Entry(1).state, EntryState::Failed);
        QCOMPARE(Entry(1).note, std::string("refused again"));
    }

    // Source names of up to 255 bytes: the output name is cut to the folder's limit, its number
    // and extension kept.
    void longSourceNamesAreShortened()
    {
        RealEncoder();
        const QString name = QString(248, QLatin1Char('n')) + QStringLiteral("é.wav");  // 254 bytes
        QDir().mkpath(Path("a"));
        QDir().mkpath(Path("b"));
        QVERIFY(WriteToneWav(Path("a/" + name), 0.3) && WriteToneWav(Path("b/" + name), 0.3));
        Add({Path("a/" + name), Path("b/" + name)});
        QVERIFY(RunBatch());
        for (int row = 0; row < 2; ++row) {
            QCOMPARE(Entry(row).state, EntryState::Done);
            const std::string written = Entry(row).targetPath.substr(Entry(row).targetPath.rfind('/') + 1);
            QVERIFY2(written.size() <= 255, written.c_str());
            QVERIFY(QFileInfo::exists(Module1::ToQt(Entry(row).targetPath)));
            QVERIFY(QString::fromStdString(written).endsWith(row == 0 ? ".MP3" : " (2).MP3"));
        }
    }

    // An output folder that goes away mid-batch ends the batch: the summary says why, the
    // files not yet converted wait (none is started to fail), and nothing is made again in the
    // folder's place.
    void aFolderThatCanNoLongerBeWrittenStopsTheBatch()
    {
        RealEncoder();
        Module1::settings().jobs = "1";
        QStringList sources;
        for (const char* name : {"g1.wav", "g2.wav", "g3.wav"}) {
            QVERIFY(WriteToneWav(Path(name), 0.3));
            sources << Path(name);
        }
        Add(sources);
        bool moved = false;
        connect(form_->ListModel, &QAbstractItemModel::dataChanged, this, [&] {
            if (!moved && Entry(0).state == EntryState::Done)
                moved = QDir().rename(Path("out"), Path("out-elsewhere"));
        });
        QVERIFY(RunBatch());
        QVERIFY(moved);
        QCOMPARE(Entry(0).state, EntryState::Done);
        QCOMPARE(Entry(1).state, EntryState::Waiting);
        QCOMPARE(Entry(2).state, EntryState::Waiting);
        const QString why = form_->StatusPanel->text();
        QVERIFY2(why.contains("stopped: the output folder can no longer be written"), qPrintable(why));
        QVERIFY(!QFileInfo::exists(Path("out")));
    }

    // The fake encoder of the parallel tests: it marks its start, prints what it is told, waits
    // for its own gate and then copies its source.
    void GatedEncoder(const QString& printed = QString())
    {
        FakeEncoder(QString(R"(name=$(basename "$1")
: > "%1/started-$name"
%2
while [ ! -e "%1/gate-$name" ]; do sleep 0.02; done
cat "$1" > "$2")").arg(dir_->path(), printed));
    }
    void Open(const QString& name) { QFile(Path("gate-" + name)).open(QIODevice::WriteOnly); }
    QStringList Started(int count) const
    {
        QStringList started;
        for (int i = 1; i <= count; ++i)
            if (QFile::exists(Path(QString("started-%1.mp3").arg(i))))
                started << QString::number(i);
        return started;
    }
    QStringList Sources(int count)
    {
        QStringList sources;
        for (int i = 1; i <= count; ++i)
            sources << Make(QString("%1.mp3").arg(i), 10 * i);
        return sources;
    }

    void severalEncodersAtOnceInListOrder()
    {
        Module1::settings().jobs = "3";
        GatedEncoder();
        Add(Sources(7));
        form_->StartVardo->trigger();
        frmMonitor* board = OpenBoard();
        QVERIFY(board);
        QTRY_COMPARE_WITH_TIMEOUT(Started(7), QStringList({"1", "2", "3"}), 5000);
        QTest::qWait(300);
        QCOMPARE(Started(7), QStringList({"1", "2", "3"}));  // never more than three
        QVERIFY(board->Label1->text().endsWith("/3.mp3"));
        QCOMPARE(board->PicFile2->pixmap().toImage(), Readout(board, "003"));
        QCOMPARE(board->PicFile1->pixmap().toImage(), Readout(board, "007"));

        // Each encoder that ends makes room for the next waiting entry, in list order, and its
        // outcome lands in its own row whatever the order of ending.
        const struct {
            int opens;
            QStringList started;
        } steps[] = {
            {2, {"1", "2", "3", "4"}},           {3, {"1", "2", "3", "4", "5"}},
            {1, {"1", "2", "3", "4", "5", "6"}}, {5, {"1", "2", "3", "4", "5", "6", "7"}},
        };
        for (const auto& step : steps) {
            Open(QString("%1.mp3").arg(step.opens));
            QTRY_COMPARE_WITH_TIMEOUT(Entry(step.opens - 1).state, EntryState::Done, 5000);
            QTRY_COMPARE_WITH_TIMEOUT(Started(7), step.started, 5000);
            QVERIFY(board->Label1->text().endsWith("/" + step.started.last() + ".mp3"));
            QVERIFY(board->Label2->text().endsWith("/V_" + step.started.last() + ".mp3"));
        }
        QCOMPARE(board->PicFile2->pixmap().toImage(), Readout(board, "007"));
        QCOMPARE(Entry(3).state, EntryState::Waiting);  // started, not ended
        for (int i : {4, 7, 6})
            Open(QString("%1.mp3").arg(i));
        QTRY_VERIFY_WITH_TIMEOUT(!BoardOpen(), 5000);
        for (int row = 0; row < 7; ++row) {
            const auto& e = Entry(row);
            QCOMPARE(e.state, EntryState::Done);
            QCOMPARE(Module1::ToQt(e.targetPath), Path(QString("out/V_%1.mp3").arg(row + 1)));
            QCOMPARE(e.targetSize, " " + std::to_string(10 * (row + 1)));
            QCOMPARE(QFileInfo(Module1::ToQt(e.targetPath)).size(), qint64(10 * (row + 1)));
        }
    }

    void exitAndClosingWithSeveralInProgress()
    {
        Module1::settings().jobs = "3";
        GatedEncoder();
        Add(Sources(5));
        form_->StartVardo->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(Started(5), QStringList({"1", "2", "3"}), 5000);
        ClickWidget(OpenBoard()->Command2);
        QTRY_VERIFY(!BoardOpen());
        QVERIFY(form_->isEnabled());
        for (int i = 1; i <= 5; ++i)
            Open(QString("%1.mp3").arg(i));
        // Every file in progress is finished and recorded; none starts after Exit.
        for (int row = 0; row < 3; ++row)
            QTRY_COMPARE_WITH_TIMEOUT(Entry(row).state, EntryState::Done, 5000);
        QTest::qWait(300);
        QCOMPARE(Started(5), QStringList({"1", "2", "3"}));
        QCOMPARE(Entry(3).state, EntryState::Waiting);
        QCOMPARE(Entry(4).state, EntryState::Waiting);

        // The main window closing and going away while three encoders still run.
        for (int i = 1; i <= 5; ++i)
            QFile::remove(Path(QString("gate-%1.mp3").arg(i)));
        Add({Make("6.mp3", 60)});
        form_->StartVardo->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(Started(6), QStringList({"1", "2", "3", "4", "5", "6"}), 5000);
        Module1::Test::SetNextMessageAnswer(QMessageBox::Yes);  // stop after the files in progress
        form_->close();
        delete form_;
        form_ = nullptr;
        for (int i = 4; i <= 6; ++i)
            Open(QString("%1.mp3").arg(i));
        QTest::qWait(300);
        if (frmMonitor* board = OpenBoard())
            board->close();
    }

    void aLateEncoderKeepsItsOutputFromTheNextBatch()
    {
        // cd1/Track01.wav still converts from a batch that was ended early when cd2/Track01.wav
        // starts in the next: the two must not share one output, however the next batch's
        // output folder is written.
        Module1::settings().jobs = "2";
        FakeEncoder(QString(R"(case "$1" in *cd1/*) while [ ! -e "%1" ]; do sleep 0.02; done ;; esac
cat "$1" > "$2")").arg(Path("gate")));
        QVERIFY(QFile::link(Path("out"), Path("link to out")));
        const QString spellings[] = {Path("out"), Path("out") + "//", Path("link to out"), Path("cd1/../out")};
        int row = 0;
        for (const QString& spelling : spellings) {
            QTest::qWait(0);
            for (const QString& name : QDir(Path("out")).entryList(QDir::Files))
                QFile::remove(Path("out/" + name));
            QFile::remove(Path("gate"));
            form_->Text1->setText(Path("out"));
            Add({Make("cd1/Track01.wav", 100)});
            form_->StartVardo->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(OpenBoard() && OpenBoard()->Label1->text().endsWith("cd1/Track01.wav"), 5000);
            ClickWidget(OpenBoard()->Command2);
            QTRY_VERIFY(!BoardOpen());
            form_->Text1->setText(spelling);
            Add({Make("cd2/Track01.wav", 200)});
            QVERIFY(RunBatch());
            QCOMPARE(Entry(row + 1).state, EntryState::Done);
            QFile(Path("gate")).open(QIODevice::WriteOnly);
            QTRY_COMPARE_WITH_TIMEOUT(Entry(row).state, EntryState::Done, 5000);
            QCOMPARE(Module1::ToQt(Entry(row).targetPath), Path("out/V_Track01.wav.MP3"));
            QCOMPARE(QFileInfo(Module1::ToQt(Entry(row + 1).targetPath)).canonicalFilePath(),
                     Path("out/V_Track01.wav (2).MP3"));
            for (int i : {0, 1}) {
                QCOMPARE(QFileInfo(Module1::ToQt(Entry(row + i).targetPath)).size(), qint64(100 * (i + 1)));
                QCOMPARE(Entry(row + i).targetSize, " " + std::to_string(100 * (i + 1)));
            }
            // Once that encoder has ended, its name is free again for a later batch.
            QVERIFY(!form_->Batch->RunningTargets().Contains(Module1::FromQt(Path("out/V_Track01.wav.MP3"))));
            row += 2;
        }
    }

    // The job limit counts the encoders of every batch: one started while an earlier one's
    // files finish runs one file of its own and waits for their places for more.
    void theJobLimitHoldsAcrossBatches()
    {
        Module1::settings().jobs = "2";
        GatedEncoder();
        Add(Sources(3));
        form_->StartVardo->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(Started(5), QStringList({"1", "2"}), 5000);
        ClickWidget(OpenBoard()->Command2);
        QTRY_VERIFY(!BoardOpen());
        Add({Make("4.mp3", 40), Make("5.mp3", 50)});
        form_->StartVardo->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(Started(5), QStringList({"1", "2", "3"}), 5000);
        QTest::qWait(300);
        QCOMPARE(Started(5), QStringList({"1", "2", "3"}));
        QCOMPARE(form_->Batch->EncodersRunning(), 3);
        Open("1.mp3");
        QTRY_COMPARE_WITH_TIMEOUT(form_->Batch->EncodersRunning(), 2, 5000);
        QTest::qWait(300);
        QCOMPARE(Started(5), QStringList({"1", "2", "3"}));
        Open("2.mp3");
        QTRY_COMPARE_WITH_TIMEOUT(Started(5), QStringList({"1", "2", "3", "4"}), 5000);
        Open("3.mp3");
        QTRY_COMPARE_WITH_TIMEOUT(Started(5), QStringList({"1", "2", "3", "4", "5"}), 5000);
        QCOMPARE(form_->Batch->EncodersRunning(), 2);
        Open("4.mp3");
        Open("5.mp3");
        QTRY_VERIFY_WITH_TIMEOUT(!BoardOpen(), 5000);
        for (int r = 0; r < 5; ++r)
            QCOMPARE(Entry(r).state, EntryState::Done);
    }

    void progressOfEachFileAndOfTheBatch()
    {
        Module1::settings().jobs = "2";
        GatedEncoder(QStringLiteral("echo 10; sleep 0.5; echo 50; sleep 0.5; printf '90\\nnoise\\n'"));
        Add({Make("1.mp3", 3000), Make("2.mp3", 1000)});
        QList<int> rowPercents;
        connect(form_->ListModel, &QAbstractItemModel::dataChanged, this, [&] {
            const int percent = form_->ListModel->index(0, 4).data(VardoListModel::PercentRole).toInt();
            if (percent >= 0 && (rowPercents.isEmpty() || rowPercents.last() != percent))
                rowPercents << percent;
        });
        form_->StartVardo->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(form_->findChild<BatchDriver*>(), 5000);
        QList<int> batchPercents;
        connect(form_->findChild<BatchDriver*>(), &BatchDriver::ProgressChanged, this, [&](int p) { batchPercents << p; });
        frmMonitor* board = OpenBoard();
        QTRY_COMPARE_WITH_TIMEOUT(board->BatchProgress->text().left(15), QStringLiteral("Batch 90% done,"), 5000);
        // Both files sit at 90 %, and the time left is still judged as the seconds go by.
        QTRY_VERIFY_WITH_TIMEOUT(board->BatchProgress->text().contains(QStringLiteral(", about ")), 5000);
        // The rows follow within their refresh time.
        QTRY_COMPARE(rowPercents, QList<int>({0, 10, 50, 90}));
        QCOMPARE(form_->ListModel->index(0, 4).data().toString(), QStringLiteral("Converting… 90%"));
        Open("2.mp3");
        QTRY_COMPARE_WITH_TIMEOUT(Entry(1).state, EntryState::Done, 5000);
        QCOMPARE(form_->ListModel->index(1, 4).data().toString(), Path("out/V_2.mp3"));
        Open("1.mp3");
        QTRY_VERIFY_WITH_TIMEOUT(!BoardOpen(), 5000);
        QVERIFY(!batchPercents.isEmpty());
        QCOMPARE(batchPercents.last(), 100);
        QVERIFY(std::is_sorted(batchPercents.begin(), batchPercents.end()));
        QCOMPARE(form_->ListModel->index(0, 4).data(VardoListModel::PercentRole).toInt(), -1);
    }

    void oneShortFileGetsItsTimeLeft()
    {
        // Done in well under two seconds, as a long file is on a fast machine.
        FakeEncoder(QStringLiteral("for p in 10 20 30 40 50 60 70 80 90; do echo $p; sleep 0.15; done; cat \"$1\" > \"$2\""));
        Add({Make("chapter.mp3", 5000000)});
        form_->StartVardo->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(OpenBoard(), 5000);
        frmMonitor* board = OpenBoard();
        bool estimated = false;
        while (BoardOpen() && !estimated) {
            estimated = board->BatchProgress->text().contains(QStringLiteral(", about "));
            QTest::qWait(20);
        }
        QVERIFY2(estimated, qPrintable(board->BatchProgress->text()));
        QTRY_VERIFY_WITH_TIMEOUT(!BoardOpen(), 5000);
    }

    void theDesktopIsToldOnlyWhenVarduneIsNotActive()
    {
        if (busAddress_.isEmpty())
            QSKIP("no dbus-daemon to stand in for the desktop's session bus");
        FakeEncoder(QString(R"(while [ ! -e "%1" ]; do sleep 0.02; done; head -c 400 "$1" > "$2")").arg(Path("gate")));
        notifications_.received.clear();  // earlier tests' batches ended with nothing active
        for (bool elsewhere : {false, true}) {
            QFile::remove(Path("gate"));
            Add({Make(QString("%1.mp3").arg(elsewhere), 1000)});
            form_->StartVardo->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(OpenBoard() && !OpenBoard()->Label1->text().startsWith("Source"), 5000);
            // The user watching the board, or working in another program.
            QApplication::setActiveWindow(elsewhere ? nullptr : OpenBoard());
            QFile(Path("gate")).open(QIODevice::WriteOnly);
            QTRY_VERIFY_WITH_TIMEOUT(!BoardOpen(), 5000);
            QTest::qWait(300);
            QCOMPARE(notifications_.received.size(), elsewhere ? 1 : 0);
        }
        QCOMPARE(notifications_.received.value(0), QStringLiteral("Vardune: batch finished|1 done, 0 failed, 600 B saved"));
    }

    void jobLimitFromTheSettingOrTheCores()
    {
        cpu_set_t set;
        CPU_ZERO(&set);
        QCOMPARE(sched_getaffinity(0, sizeof set, &set), 0);
        const int cores = std::min(CPU_COUNT(&set), int(vardune::BatchWalk::kMaxJobs));
        const struct {
            const char* setting;
            int limit;
        } cases[] = {{"", cores}, {"5", 5}, {"1", 1}, {"0", cores}, {"two", cores}, {"-3", cores}};
        for (const auto& c : cases) {
            Module1::settings().jobs = c.setting;
            QCOMPARE(form_->Batch->Pool().Limit(), c.limit);
        }
    }

    void exitWhileTheThirdOfFiveConverts()
    {
        Module1::settings().jobs = "1";  // the one-at-a-time batch
        // The third file's encoder waits for one gate file, the 4th and 5th for another.
        const QString gate = Path("gate"), gate2 = Path("gate2");
        FakeEncoder(QString(R"(case "$1" in
  *3.mp3) while [ ! -e "%1" ]; do sleep 0.02; done ;;
  *[45].mp3) while [ ! -e "%2" ]; do sleep 0.02; done ;;
esac
printf xx > "$2")").arg(gate, gate2));
        QStringList sources;
        for (int i = 1; i <= 5; ++i)
            sources << Make(QString("%1.mp3").arg(i), 10);
        Add(sources);
        form_->StartVardo->trigger();
        frmMonitor* board = OpenBoard();
        QVERIFY(board);
        QVERIFY(!form_->isEnabled());
        QCOMPARE(board->PicFile1->pixmap().toImage(), Readout(board, "000"));
        QTRY_VERIFY_WITH_TIMEOUT(board->Label1->text().endsWith("3.mp3"), 10000);
        QCOMPARE(board->PicFile1->pixmap().toImage(), Readout(board, "005"));
        QCOMPARE(board->PicFile2->pixmap().toImage(), Readout(board, "003"));
        ClickWidget(board->Command2);
        QTRY_VERIFY(!BoardOpen());
        QVERIFY(form_->isEnabled());
        QCOMPARE(Entry(2).state, EntryState::Waiting);

        // A new batch while the third still converts leaves it alone and takes the 4th and 5th.
        form_->StartVardo->trigger();
        frmMonitor* second = OpenBoard();
        QVERIFY(second);
        QTRY_VERIFY_WITH_TIMEOUT(second->Label1->text().endsWith("4.mp3"), 5000);
        QCOMPARE(second->PicFile1->pixmap().toImage(), Readout(second, "002"));
        QFile(gate2).open(QIODevice::WriteOnly);
        QTRY_VERIFY_WITH_TIMEOUT(!BoardOpen(), 10000);
        QCOMPARE(Entry(3).state, EntryState::Done);
        QCOMPARE(Entry(4).state, EntryState::Done);
        QCOMPARE(Entry(2).state, EntryState::Waiting);

        QFile(gate).open(QIODevice::WriteOnly);
        QTRY_COMPARE_WITH_TIMEOUT(Entry(2).state, EntryState::Done, 10000);
        QCOMPARE(Module1::ToQt(Entry(2).targetPath), Path("out/V_3.mp3"));
        for (int row = 0; row < 2; ++row)
            QCOMPARE(Entry(row).state, EntryState::Done);
    }

    void aMissingOutputFolderIsAskedForOnce()
    {
        RealEncoder();
        WriteToneWav(Path("a.wav"), 0.5);
        WriteToneWav(Path("b.wav"), 0.5);
        Add({Path("a.wav"), Path("b.wav")});
        const QString missing = Path("out/Müsik 日本/new");

        // No: nothing starts, nothing is made.
        form_->Text1->setText(missing + "/");
        Module1::Test::SetNextMessageAnswer(QMessageBox::No);
        form_->StartVardo->trigger();
        auto asked = Module1::Test::TakeAskedMessages();
        QCOMPARE(asked.size(), std::size_t(1));
        QCOMPARE(asked[0].text, "The output folder " + missing + " does not exist. Create it?");
        QCOMPARE(asked[0].icon, QMessageBox::Question);
        QCOMPARE(asked[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QVERIFY(!BoardOpen());
        QVERIFY(form_->isEnabled());
        QVERIFY(!QFileInfo::exists(Path("out/Müsik 日本")));
        QCOMPARE(Entry(0).state, EntryState::Waiting);

        // Yes: made with its parents, and the batch converts into it.
        Module1::Test::SetNextMessageAnswer(QMessageBox::Yes);
        QVERIFY(RunBatch());
        QCOMPARE(Module1::Test::TakeAskedMessages().size(), std::size_t(1));
        for (int row : {0, 1}) {
            QCOMPARE(Entry(row).state, EntryState::Done);
            QVERIFY(QFileInfo(Module1::ToQt(Entry(row).targetPath)).size() > 0);
            QVERIFY(Module1::ToQt(Entry(row).targetPath).startsWith(missing + "/V_"));
        }

        // A folder that cannot be made or written: it says why, without first offering to
        // create what cannot be created, and nothing starts.
        Add({Path("a.wav")});
        Make("a file", 3);
        const struct {
            QString folder;
            QString text;
        } refused[] = {
            {Path("a file/below"), "The output folder " + Path("a file/below") + " cannot be created: Not a directory."},
            {Path("a file"), "The output folder " + Path("a file") + " is a file, not a folder."},
            {"/proc", "The output folder /proc cannot be written: "},
        };
        for (const auto& r : refused) {
            form_->Text1->setText(r.folder);
            Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
            form_->ButtonClick("Vardo");
            asked = Module1::Test::TakeAskedMessages();
            QCOMPARE(asked.size(), std::size_t(1));
            QCOMPARE(asked.back().title, QStringLiteral("Invalid Output Folder"));
            QCOMPARE(asked.back().icon, QMessageBox::Information);
            QVERIFY2(asked.back().text.startsWith(r.text), qPrintable(asked.back().text));
            QVERIFY(!BoardOpen());
            QCOMPARE(Entry(2).state, EntryState::Waiting);
        }
    }

    void theEndOfABatchStandsInTheStatusBarUntilTheNextCommand()
    {
        FakeEncoder(R"(case "$1" in *bad*) exit 1 ;; esac; head -c 1000 /dev/zero > "$2")");
        Add({Make("1.mp3", 2500000), Make("2.mp3", 1500000), Make("bad.mp3", 10)});
        const QString profile = form_->StatusPanel->text();
        QVERIFY(RunBatch());
        QCOMPARE(form_->StatusPanel->text(), QStringLiteral("2 done, 1 failed, 4.0 MB saved"));
        QCOMPARE(form_->StatusPanel->toolTip(), form_->StatusPanel->text());
        // Pointing and typing are no commands; a toolbar button is.
        QTest::keyClicks(form_->Text1, "x");
        QCOMPARE(form_->StatusPanel->text(), QStringLiteral("2 done, 1 failed, 4.0 MB saved"));
        form_->Text1->setText(Path("out"));
        QTest::mouseClick(form_->Toolbar1->widgetForAction(form_->Toolbar1->actions().at(0)), Qt::LeftButton);
        QCOMPARE(form_->StatusPanel->text(), profile);

        // A batch that took up no file leaves the profile line as it is.
        QVERIFY(RunBatch());
        QCOMPARE(form_->StatusPanel->text(), profile);

        // Retry sets the failed entry waiting; once its cause is gone the next batch converts it.
        FakeEncoder(R"(head -c 1000 /dev/zero > "$2")");
        form_->ListView1->selectionModel()->select(form_->ListModel->index(2, 0),
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        form_->ListRetry->trigger();
        QCOMPARE(Entry(2).state, EntryState::Waiting);
        QVERIFY(RunBatch());
        QCOMPARE(Entry(2).state, EntryState::Done);
        QCOMPARE(form_->StatusPanel->text(), QStringLiteral("1 done, 0 failed, 990 B larger"));  // it grew
    }

    void closingWhileEncodersRunAsksFirst()
    {
        int ended = 0;
        Module1::Test::SetEndProcessHandler([&] { ++ended; });
        Module1::settings().jobs = "2";
        GatedEncoder();
        Add(Sources(3));
        form_->StartVardo->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(Started(3), QStringList({"1", "2"}), 5000);

        // No: the batch goes on as if nothing was asked.
        Module1::Test::SetNextMessageAnswer(QMessageBox::No);
        form_->close();
        auto asked = Module1::Test::TakeAskedMessages();
        QCOMPARE(asked.size(), std::size_t(1));
        QCOMPARE(asked[0].text, QStringLiteral("A batch is running. Stop after the files in progress and quit?"));
        QCOMPARE(asked[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(ended, 0);
        QVERIFY(BoardOpen());
        Open("1.mp3");
        QTRY_COMPARE_WITH_TIMEOUT(Started(3), QStringList({"1", "2", "3"}), 5000);

        // Yes, from File > Exit: no file starts after it, the ones in progress are recorded,
        // then the program ends with its settings written.
        Add({Make("4.mp3", 40)});
        QFile::remove(Module1::ConfigFilePath());
        Module1::Test::SetNextMessageAnswer(QMessageBox::Yes);
        form_->close();  // the board holds the main window: its close box is what the user has
        QCOMPARE(Module1::Test::TakeAskedMessages().size(), std::size_t(1));
        QVERIFY(!BoardOpen());
        QVERIFY(!form_->isEnabled());
        QCOMPARE(ended, 0);
        Open("2.mp3");
        QTRY_COMPARE_WITH_TIMEOUT(Entry(1).state, EntryState::Done, 5000);
        QCOMPARE(ended, 0);  // the third still converts
        Open("3.mp3");
        QTRY_COMPARE_WITH_TIMEOUT(ended, 1, 5000);
        QCOMPARE(Entry(2).state, EntryState::Done);
        QCOMPARE(Entry(3).state, EntryState::Waiting);
        QCOMPARE(Started(4), QStringList({"1", "2", "3"}));
        QVERIFY(QFile::exists(Module1::ConfigFilePath()));

        // The system's request to end, by a signal, ends at once, without a question.
        Module1::Test::ReleaseInstanceLock();
        delete form_;
        form_ = new Form1;
        form_->InitForm();
        form_->Text1->setText(Path("out"));
        QFile::remove(Path("gate-5.mp3"));
        Add({Make("5.mp3", 50)});
        form_->StartVardo->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(Started(5).contains("5"), 5000);
        form_->Form_Unload();
        QCOMPARE(ended, 2);
        QVERIFY(Module1::Test::TakeAskedMessages().empty());
        Open("5.mp3");
        Module1::Test::SetEndProcessHandler([] {});
    }

    // The board waits a moment before its first encoder; closing then is closing a batch too.
    void closingBeforeTheFirstEncoderStartsAsksToo()
    {
        int ended = 0;
        Module1::Test::SetEndProcessHandler([&] { ++ended; });
        Module1::settings().jobs = "1";
        GatedEncoder();
        Add(Sources(2));
        form_->StartVardo->trigger();
        QVERIFY(BoardOpen());
        QCOMPARE(form_->Batch->EncodersRunning(), 0);

        // No: the batch starts as asked.
        Module1::Test::SetNextMessageAnswer(QMessageBox::No);
        form_->close();
        QCOMPARE(Module1::Test::TakeAskedMessages().size(), std::size_t(1));
        QCOMPARE(ended, 0);
        QTRY_COMPARE_WITH_TIMEOUT(Started(2), QStringList({"1"}), 5000);
        Open("1.mp3");
        Open("2.mp3");
        QTRY_VERIFY_WITH_TIMEOUT(!BoardOpen(), 5000);

        // Yes: no file starts, every entry still waits, and the program ends.
        Add({Make("3.mp3", 30)});
        form_->StartVardo->trigger();
        QVERIFY(BoardOpen());
        Module1::Test::SetNextMessageAnswer(QMessageBox::Yes);
        form_->close();
        QCOMPARE(Module1::Test::TakeAskedMessages().size(), std::size_t(1));
        QCOMPARE(ended, 1);
        QTest::qWait(1500);  // past the board's start
        QVERIFY(!QFile::exists(Path("started-3.mp3")));
        QCOMPARE(Entry(2).state, EntryState::Waiting);
        Module1::Test::SetEndProcessHandler([] {});
    }

    void countersOfAThousandEntriesShowTheirLastThreeDigits()
    {
        // Instant, but the last file waits until its counters have been read.
        const QString gate = Path("gate");
        FakeEncoder(QString(R"(case "$1" in *f0999.mp3) while [ ! -e "%1" ]; do sleep 0.02; done ;; esac
printf x > "$2")").arg(gate));
        QStringList sources;
        for (int i = 0; i < 1000; ++i)
            sources << Make(QString("many/f%1.mp3").arg(i, 4, 10, QLatin1Char('0')), 1);
        Add(sources);
        form_->StartVardo->trigger();
        frmMonitor* board = OpenBoard();
        QVERIFY(board);
        QTRY_VERIFY_WITH_TIMEOUT(board->Label1->text().endsWith("f0999.mp3"), 120000);
        QCOMPARE(board->PicFile1->pixmap().toImage(), Readout(board, "000"));
        QCOMPARE(board->PicFile2->pixmap().toImage(), Readout(board, "000"));
        QFile(gate).open(QIODevice::WriteOnly);
        QTRY_VERIFY_WITH_TIMEOUT(!BoardOpen(), 10000);
        QCOMPARE(Entry(999).state, EntryState::Done);
        QCOMPARE(Entry(998).state, EntryState::Done);
    }

    void endingEarly_data()
    {
        QTest::addColumn<bool>("titleClose");
        QTest::addColumn<bool>("withinFirstSecond");
        QTest::newRow("Exit in the first second") << false << true;
        QTest::newRow("title close in the first second") << true << true;
        QTest::newRow("title close during a file") << true << false;
    }

    void endingEarly()
    {
        Module1::settings().jobs = "1";  // the one-at-a-time batch
        QFETCH(bool, titleClose);
        QFETCH(bool, withinFirstSecond);
        const QString gate = Path("gate");
        FakeEncoder(QString(R"(while [ ! -e "%1" ]; do sleep 0.02; done; printf x > "$2")").arg(gate));
        Add({Make("1.mp3", 10), Make("2.mp3", 10)});
        form_->ButtonClick("Vardo");
        frmMonitor* board = OpenBoard();
        QVERIFY(board);
        if (!withinFirstSecond)
            QTRY_VERIFY_WITH_TIMEOUT(board->Label1->text().endsWith("1.mp3"), 5000);
        if (titleClose)
            ClickWidget(board->imgTitleClose);
        else
            ClickWidget(board->Command2);
        QTRY_VERIFY(!BoardOpen());
        QVERIFY(form_->isEnabled());
        QFile(gate).open(QIODevice::WriteOnly);
        if (withinFirstSecond) {
            QTest::qWait(1500);
            QCOMPARE(Entry(0).state, EntryState::Waiting);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(Entry(0).state, EntryState::Done, 5000);
        }
        QCOMPARE(Entry(1).state, EntryState::Waiting);
    }

    void entryRemovedOrWindowGoneWhileItsEncoderRuns()
    {
        Module1::settings().jobs = "1";  // the one-at-a-time batch
        const QString gate = Path("gate");
        FakeEncoder(QString(R"(while [ ! -e "%1" ]; do sleep 0.02; done; printf x > "$2")").arg(gate));
        Add({Make("1.mp3", 10), Make("2.mp3", 10)});
        form_->StartVardo->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(OpenBoard() && OpenBoard()->Label1->text().endsWith("1.mp3"), 5000);
        ClickWidget(OpenBoard()->Command2);
        QTRY_VERIFY(form_->isEnabled());
        form_->ListView1->selectAll();
        form_->ListActions->RemoveSelectedEntries();
        Add({Make("3.mp3", 10)});
        QFile(gate).open(QIODevice::WriteOnly);
        QTest::qWait(500);
        QCOMPARE(form_->ListModel->rowCount(), 1);
        QCOMPARE(Entry(0).state, EntryState::Waiting);
        QCOMPARE(Entry(0).targetPath, std::string());

        // The main window going away mid-batch: the board and the driver cope.
        QFile::remove(gate);
        form_->StartVardo->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(OpenBoard() && OpenBoard()->Label1->text().endsWith("3.mp3"), 5000);
        delete form_;
        form_ = nullptr;
        QFile(gate).open(QIODevice::WriteOnly);
        QTest::qWait(300);
        if (frmMonitor* board = OpenBoard())
            board->close();
    }

    void theAnimationStepCarriesOverToTheNextOpening()
    {
        Add({Make("1.mp3", 10)});
        form_->monitorAnimationStep = 40;
        form_->StartVardo->trigger();
        QTRY_COMPARE(form_->monitorAnimationStep, qint16(45));
        ClickWidget(OpenBoard()->Command2);
        QTRY_VERIFY(!BoardOpen());
        form_->StartVardo->trigger();
        QTRY_COMPARE(form_->monitorAnimationStep, qint16(50));
        ClickWidget(OpenBoard()->Command2);
        QTRY_VERIFY(!BoardOpen());
        QCOMPARE(Entry(0).state, EntryState::Waiting);
    }
};

VARDUNE_GUI_TEST_MAIN(BatchTest)
#include "batch_test.moc"
