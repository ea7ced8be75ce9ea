// The command line's batch, run as the real program with the real encoder and no display,
// against a small library the test writes; and the window's batch on the same files.
#include "batchwindow.h"
#include "fatcard.h"
#include "guitestmain.h"
#include "testaudio.h"

#include "configtable.h"
#include "outputlayout.h"
#include "sizeforecast.h"
#include "sourcemark.h"

#include <QDateTime>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QRegularExpression>

#include <cmath>
#include <filesystem>
#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/mount.h>

class ConsoleTest : public QObject, public BatchWindow {
    Q_OBJECT

private:
    QString app_;  // the program, with the encoder beside it
    QStringList mounts_;

    struct Run {
        int status = -1;
        QByteArray out;
        QByteArray err;
    };

    // Runs the program as a script would: no display, nothing on standard input.
    Run Vardune(const QStringList& arguments, const QString& shell = QString())
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        environment.insert(QStringLiteral("VARDUNE"), app_);
        process.setProcessEnvironment(environment);
        process.setStandardInputFile(QProcess::nullDevice());
        if (shell.isEmpty())
            process.start(app_, arguments);
        else
            process.start(QStringLiteral("bash"), {"-c", shell});
        Run run;
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
        return run;
    }

    // The library: two tagged tracks of one album in a folder, a loose tone in another.
    QString Library()
    {
        const QString lib = Path("lib");
        QDir().mkpath(lib + "/Album");
        QDir().mkpath(lib + "/Loose");
        WriteTaggedWav(lib + "/Album/one.wav", {{"IART", "Ann"}, {"IPRD", "Road"}, {"INAM", "First"}, {"IPRT", "1"}});
        WriteTaggedWav(lib + "/Album/two.wav", {{"IART", "Ann"}, {"IPRD", "Road"}, {"INAM", "Second"}, {"IPRT", "2"}});
        WriteToneWav(lib + "/Loose/tone.wav", 0.5, 300);
        QFile readme(lib + "/Loose/readme.txt");
        readme.open(QIODevice::WriteOnly);
        readme.write("not music");
        return lib;
    }

    // Every file below folder but the record of what was written there: its path below it,
    // with its size and bytes.
    static QMap<QString, QByteArray> Tree(const QString& folder)
    {
        QMap<QString, QByteArray> files;
        QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (it.fileName() == QLatin1String(".vardune-record"))
                continue;
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            files.insert(QDir(folder).relativeFilePath(path), file.readAll());
        }
        return files;
    }

    static bool HasControlCharacters(const QByteArray& text)
    {
        for (const char c : text)
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7f)
                return true;
        return false;
    }

    // A player's card: a FAT image mounted by fusefat, which takes ASCII names only; an
    // empty text where it cannot be mounted here.
    QString Card(const QString& name, int megabytes)
    {
        const QString image = Path(name + ".img");
        const QString card = Path(name);
        QDir().mkpath(card);
        QFile img(image);
        if (!img.open(QIODevice::WriteOnly) || !img.resize(qint64(megabytes) * 1024 * 1024))
            return {};
        img.close();
        if (QProcess::execute(QStringLiteral("sh"), {"-c", "mkfs.vfat \"$0\" >/dev/null 2>&1", image}) != 0
            || MountFat(image, card) != 0)
            return {};
        mounts_ << card;
        return card;
    }

    static qint64 FreeOn(const QString& folder) { return QStorageInfo(folder).bytesAvailable(); }

    // Another program's file, taking the card's room until about left bytes stay free.
    static bool FillCard(const QString& card, qint64 left)
    {
        QFile filler(card + "/filler.bin");
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(64 * 1024, 'f');
        for (qint64 room = FreeOn(card) - left; room > 0; room -= block.size())
            if (filler.write(block.constData(), std::min<qint64>(room, block.size())) < 0)
                return false;
        return filler.flush();
    }

    // A run's report, line by line: each source with its output and what became of it.
    static QMap<QString, QPair<QString, QString>> Reported(const QByteArray& out)
    {
        QMap<QString, QPair<QString, QString>> files;
        static const QRegularExpression line(QStringLiteral("^(.*) -> (.*): (would convert|done|up to date|failed.*)$"));
        for (const QByteArray& text : out.split('\n')) {
            const auto match = line.match(QString::fromUtf8(text));
            if (match.hasMatch())
                files.insert(match.captured(1), {match.captured(2), match.captured(3)});
        }
        return files;
    }

private slots:
    void initTestCase()
    {
        Module1::Test::SetEndProcessHandler([] {});
        // The program finds its encoder beside itself, as an installed copy does.
        QDir().mkpath(QCoreApplication::applicationDirPath() + "/app");
        app_ = QCoreApplication::applicationDirPath() + "/app/vardune";
        QFile::remove(app_);
        QFile::remove(QCoreApplication::applicationDirPath() + "/app/fastencc");
        QVERIFY(QFile::copy(QStringLiteral(VARDUNE_PATH), app_));
        QVERIFY(QFile::copy(QStringLiteral(FASTENCC_PATH), QCoreApplication::applicationDirPath() + "/app/fastencc"));
        // The window's batch runs the same encoder, beside the test.
        QFile::remove(QCoreApplication::applicationDirPath() + "/fastencc");
        QVERIFY(QFile::link(QStringLiteral(FASTENCC_PATH), QCoreApplication::applicationDirPath() + "/fastencc"));
    }

    void init() { OpenMainWindow(); }

    void cleanup()
    {
        for (const QString& folder : mounts_)
            umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
        mounts_.clear();
        QVERIFY(CloseMainWindow());
    }

    // Each layout, from the command line and from the window, on the same files: the same
    // paths below the output folder and the same bytes.
    void eachLayoutAgreesWithTheWindow_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QStringList>("paths");
        // Two names that differ only in the case of a letter beyond ASCII are one name to the
        // window, which numbers the second.
        QTest::newRow("one-folder") << "one-folder"
                                    << QStringList {"V_one.wav.MP3", "V_tone.wav.MP3", "V_two.wav.MP3", "V_Ärger.wav.MP3",
                                                    "V_ärger.wav (2).MP3"};
        QTest::newRow("keep-folders") << "keep-folders"
                                      << QStringList {"lib/Album/one.mp3", "lib/Album/two.mp3", "lib/Case/Ärger.mp3",
                                                      "lib/Case/ärger (2).mp3", "lib/Loose/tone.mp3"};
        QTest::newRow("tags") << "tags"
                              << QStringList {"Ann/Road/01 First.mp3", "Ann/Road/02 Second.mp3",
                                              "Unknown Artist/Unknown Album/tone.mp3",
                                              "Unknown Artist/Unknown Album/Ärger.mp3",
                                              "Unknown Artist/Unknown Album/ärger (2).mp3"};
    }
    void eachLayoutAgreesWithTheWindow()
    {
        QFETCH(QString, layout);
        QFETCH(QStringList, paths);
        const QString lib = Library();
        QDir().mkpath(lib + "/Case");
        WriteToneWav(lib + "/Case/Ärger.wav", 0.3, 500);
        WriteToneWav(lib + "/Case/ärger.wav", 0.3, 600);
        const Run run = Vardune({"--convert", lib, "--output", Path("cli"), "--layout", layout, "--jobs", "2"});
        QCOMPARE(run.status, 0);
        QVERIFY2(!HasControlCharacters(run.out), run.out.constData());
        const QList<QByteArray> lines = run.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 6);
        for (int i = 0; i < 5; ++i)
            QVERIFY2(lines[i].endsWith(": done"), lines[i].constData());
        QVERIFY2(lines[5].startsWith("5 done, 0 failed"), lines[5].constData());
        const auto cli = Tree(Path("cli"));
        QStringList made = cli.keys();
        made.sort();
        paths.sort();
        QCOMPARE(made, paths);

        // The window, told the same: the folder added as the command line takes it.
        const char* kinds[] = {"ONEFOLDER", "FOLDERS", "TAGS"};
        Module1::settings().outputLayout = kinds[layout == "one-folder" ? 0 : layout == "keep-folders" ? 1 : 2];
        std::vector<std::pair<std::string, std::string>> files;
        for (const char* name : {"Album/one.wav", "Album/two.wav", "Case/Ärger.wav", "Case/ärger.wav", "Loose/tone.wav"})
            files.emplace_back(Module1::FromQt(lib + "/" + name), vardune::VardoList::GetFileSize(Module1::FromQt(lib + "/" + name)));
        form_->ListModel->Append(files, vardune::OutputLayout::RootOfAddedFolder(Module1::FromQt(lib)));
        form_->Text1->setText(Path("window"));
        QDir().mkpath(Path("window"));
        QVERIFY(RunBatch());
        QCOMPARE(Tree(Path("window")), cli);
    }

    // What a script meets: a dry run, a second run, sources and folders that cannot be used.
    void commandLines_data()
    {
        QTest::addColumn<QString>("arguments");  // LIB and OUT stand for the folders
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");       // a pattern standard output (or error) matches
        QTest::addColumn<int>("outputs");        // files in OUT afterwards; -1: OUT not there
        QTest::newRow("dry run writes nothing")
            << "--convert LIB --output OUT --dry-run" << 0
            << "one.wav -> .*/OUT/V_one.wav.MP3: would convert\n(.*\n)*3 to convert, 0 up to date; 3 files waiting.*; it fits\n$" << -1;
        QTest::newRow("missing source fails, the rest converts")
            << "--convert LIB/Album LIB/nothere.wav --output OUT" << 1 << "nothere.wav: failed: no such file or folder" << 2;
        QTest::newRow("not an audio file") << "--convert LIB/Loose/readme.txt --output OUT" << 1
                                           << "readme.txt: failed: not of an audio type" << -1;
        QTest::newRow("output folder behind a file")
            << "--convert LIB --output LIB/Loose/readme.txt/out" << 1 << "the output folder .* cannot be written" << -1;
        QTest::newRow("unknown option") << "--convert LIB --output OUT --fast" << 2
                                        << "unknown option --fast\nUsage: vardune --convert SOURCE" << -1;
        QTest::newRow("no output folder") << "--convert LIB" << 2 << "Usage: vardune --convert" << -1;
        QTest::newRow("no MP3 bitrate") << "--convert LIB --output OUT --quality 100" << 2 << "unknown quality" << -1;
        QTest::newRow("any MP3 bitrate") << "--convert LIB/Loose --output OUT --quality 160k" << 0 << "tone.wav.MP3: done" << 1;
        QTest::newRow("json") << "--convert LIB/Loose --output OUT --json --quality phone --mono" << 0
                              << "^\\{\"source\":\".*/tone.wav\",\"output\":\".*/OUT/V_tone.wav.MP3\",\"status\":\"done\",\"bytes\":\\d+\\}\n"
                                 "\\{\"summary\":\"1 done, 0 failed, .* saved\",\"status\":0\\}\n$"
                              << 1;
    }
    void commandLines()
    {
        QFETCH(QString, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        QFETCH(int, outputs);
        const QString lib = Library();
        QStringList list = arguments.split(' ');
        for (QString& argument : list)
            argument.replace("LIB", lib).replace("OUT", Path("OUT"));
        const Run run = Vardune(list);
        QCOMPARE(run.status, status);
        const QString text = QString::fromUtf8(run.out + run.err);
        QVERIFY2(QRegularExpression(said).match(text).hasMatch(), qPrintable(text));
        if (outputs < 0)
            QVERIFY(!QFileInfo::exists(Path("OUT")));
        else
            QCOMPARE(Tree(Path("OUT")).size(), outputs);
    }

    // Kept in step from cron: --tidy removes after the batch what Tidy removes by default, on
    // a FAT card as a player holds one; with --dry-run it only lists; --json reports it.
    void tidyKeepsAPlayerInStep()
    {
        const QString lib = Library();
        const QString image = Path("card.img");
        const QString card = Path("card");
        QDir().mkpath(card);
        QFile img(image);
        QVERIFY(img.open(QIODevice::WriteOnly) && img.resize(16 * 1024 * 1024));
        img.close();
        if (QProcess::execute(QStringLiteral("mkfs.vfat"), {image}) != 0)
            QSKIP("mkfs.vfat (dosfstools) is not installed");
        if (MountFat(image, card) != 0)
            QSKIP("no fusefat to mount a FAT image");
        mounts_ << card;
        const QStringList convert = {"--convert", lib, "--output", card + "/music", "--layout", "keep-folders"};
        QCOMPARE(Vardune(convert).status, 0);
        const QString two = card + "/music/lib/Album/two.mp3";
        QVERIFY(QFileInfo::exists(two));
        QVERIFY(QFile::copy(two, card + "/music/copy.mp3"));  // the user's copy, marked too
        QVERIFY(QFile::remove(lib + "/Album/two.wav"));

        Run run = Vardune(convert + QStringList({"--tidy", "--dry-run"}));
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.contains("two.wav -> " + two.toUtf8() + ": would remove: its source is gone\n"), run.out.constData());
        QVERIFY2(run.out.trimmed().endsWith("; 1 would be removed by tidying"), run.out.constData());
        QVERIFY(QFileInfo::exists(two));

        run = Vardune(convert + QStringList({"--tidy", "--json"}));
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.contains("\"output\":\"" + two.toUtf8() + "\",\"status\":\"removed\",\"reason\":\"its source is gone\"}"),
                 run.out.constData());
        QVERIFY2(run.out.contains("1 removed by tidying"), run.out.constData());
        QVERIFY(!QFileInfo::exists(two));
        QVERIFY(QFileInfo::exists(card + "/music/copy.mp3"));
        QVERIFY(QFileInfo::exists(card + "/music/lib/Album/one.mp3"));

        // Nothing left to remove; without --tidy nothing is ever removed.
        run = Vardune(convert + QStringList({"--tidy"}));
        QCOMPARE(run.status, 0);
        QVERIFY2(!run.out.contains("tidying"), run.out.constData());
        QCOMPARE(Vardune({"--plan", lib, "--output", card, "--tidy"}).status, 2);

        // A source on a disk that is not mounted is out of reach, not gone: its output stays.
        const QString diskImage = Path("disk.img");
        const QString disk = Path("disk");
        QDir().mkpath(disk);
        QFile diskFile(diskImage);
        QVERIFY(diskFile.open(QIODevice::WriteOnly) && diskFile.resize(4 * 1024 * 1024));
        diskFile.close();
        QCOMPARE(QProcess::execute(QStringLiteral("mkfs.vfat"), {diskImage}), 0);
        QCOMPARE(MountFat(diskImage, disk), 0);
        mounts_ << disk;
        QVERIFY(WriteToneWav(disk + "/away.wav", 0.3));
        QCOMPARE(Vardune({"--convert", disk + "/away.wav", "--output", card + "/music"}).status, 0);
        QVERIFY(QFileInfo::exists(card + "/music/V_away.wav.MP3"));
        QCOMPARE(QProcess::execute(QStringLiteral("fusermount"), {"-u", disk}), 0);
        mounts_.removeAll(disk);
        run = Vardune(convert + QStringList({"--tidy"}));
        QCOMPARE(run.status, 0);
        QVERIFY2(!run.out.contains("removed"), run.out.constData());
        QVERIFY(QFileInfo::exists(card + "/music/V_away.wav.MP3"));
    }

    // A second run converts nothing: every output is up to date, and left as it is.
    void secondRunFindsEverythingUpToDate()
    {
        const QString lib = Library();
        QCOMPARE(Vardune({"--convert", lib, "--output", Path("out")}).status, 0);
        const auto first = Tree(Path("out"));
        const QDateTime written = QFileInfo(Path("out/V_one.wav.MP3")).lastModified();
        const Run again = Vardune({"--convert", lib, "--output", Path("out"), "--only-changed"});
        QCOMPARE(again.status, 0);
        QCOMPARE(again.out.count(": up to date\n"), 3);
        QVERIFY2(again.out.endsWith("0 done, 3 up to date, 0 failed, 0 B saved\n"), again.out.constData());
        QCOMPARE(Tree(Path("out")), first);
        QCOMPARE(QFileInfo(Path("out/V_one.wav.MP3")).lastModified(), written);
    }

    // An output cut short after it was written (a card pulled while it was copied there) keeps
    // its mark but is not up to date: the dry run and the plan say it is to be converted, and
    // the run makes it again where it stands, whole, and is then up to date again.
    void aCutOutputIsMadeAgain_data()
    {
        QTest::addColumn<qint64>("keep");  // bytes left of the output; negative: that many cut off
        QTest::newRow("cut to 1,000 bytes") << qint64(1000);
        QTest::newRow("its last byte cut off") << qint64(-1);
    }
    void aCutOutputIsMadeAgain()
    {
        QFETCH(qint64, keep);
        const QString lib = Library();
        const QStringList convert {"--convert", lib, "--output", Path("out")};
        QCOMPARE(Vardune(convert).status, 0);
        const auto first = Tree(Path("out"));
        const QString cut = Path("out/V_one.wav.MP3");
        QVERIFY(QFile::resize(cut, keep > 0 ? keep : QFileInfo(cut).size() + keep));
        const auto damaged = Tree(Path("out"));

        const Run dry = Vardune(convert + QStringList {"--dry-run"});
        QCOMPARE(dry.status, 0);
        QCOMPARE(Reported(dry.out).value(lib + "/Album/one.wav"), qMakePair(cut, QStringLiteral("would convert")));
        QVERIFY2(dry.out.contains("1 to convert, 2 up to date"), dry.out.constData());
        QCOMPARE(Tree(Path("out")), damaged);
        const Run plan = Vardune({"--plan", lib, "--output", Path("out")});
        QCOMPARE(plan.status, 0);
        QCOMPARE(int(plan.out.count('\0')), 3);
        QVERIFY2(plan.out.startsWith(QFile::encodeName(lib + "/Album/one.wav") + '\0'), plan.out.constData());

        const Run run = Vardune(convert);
        QCOMPARE(run.status, 0);
        QCOMPARE(Reported(run.out).value(lib + "/Album/one.wav"), qMakePair(cut, QStringLiteral("done")));
        QCOMPARE(run.out.count(": up to date\n"), 2);
        const auto made = Tree(Path("out"));
        QCOMPARE(made.keys(), first.keys());  // made again where it stood: no "(2)"
        QCOMPARE(made.value("V_one.wav.MP3").size(), first.value("V_one.wav.MP3").size());
        const Run again = Vardune(convert);
        QVERIFY2(again.out.endsWith("0 done, 3 up to date, 0 failed, 0 B saved\n"), again.out.constData());
    }

    // A library moved, its files unchanged: the dry run and the plan find every output up to
    // date, and the run makes nothing again (no "(2)"): each output keeps its sound, its mark
    // and the folder's record learn the source's new path, and Tidy afterwards finds every
    // source there.
    void aMovedLibraryIsUpToDate()
    {
        const auto markedPath = [](const QByteArray& output) {
            const auto mark = vardune::SourceMark::Find(output.left(int(vardune::SourceMark::kSearchedBytes)).toStdString());
            const auto path = mark ? vardune::SourceMark::PathIn(*mark) : std::nullopt;
            return path ? QString::fromStdString(*path) : QString();
        };
        const auto sound = [](const QByteArray& output) {
            int tag = 10;
            for (int i = 6; i < 10; ++i)
                tag += (static_cast<unsigned char>(output[i]) & 0x7F) << (7 * (9 - i));
            return output.mid(tag);
        };
        const QString lib = Library();
        QCOMPARE(Vardune({"--convert", lib, "--output", Path("out")}).status, 0);
        const auto first = Tree(Path("out"));
        const QString moved = Path("moved");
        QVERIFY(QDir().rename(lib, moved));
        const QStringList convert {"--convert", moved, "--output", Path("out")};

        const Run dry = Vardune(convert + QStringList {"--dry-run"});
        QCOMPARE(dry.status, 0);
        QVERIFY2(dry.out.contains("0 to convert, 3 up to date"), dry.out.constData());
        const Run plan = Vardune({"--plan", moved, "--output", Path("out")});
        QCOMPARE(plan.status, 0);
        QCOMPARE(plan.out.size(), 0);
        QVERIFY2(plan.err.contains("0 to convert, 3 up to date"), plan.err.constData());

        const Run run = Vardune(convert + QStringList {"--tidy"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out.count(": up to date\n"), 3);
        QVERIFY2(!run.out.contains("removed"), run.out.constData());
        const auto after = Tree(Path("out"));
        QCOMPARE(after.keys(), first.keys());
        for (const QString& name : first.keys()) {
            if (!name.endsWith(".MP3"))
                continue;
            QCOMPARE(sound(after[name]), sound(first[name]));
            QVERIFY2(markedPath(first[name]).startsWith(lib + "/"), qPrintable(markedPath(first[name])));
            QVERIFY2(markedPath(after[name]).startsWith(moved + "/"), qPrintable(markedPath(after[name])));
        }
        QFile record(Path("out/.vardune-record"));
        QVERIFY(record.open(QIODevice::ReadOnly));
        const QByteArray recorded = record.readAll();
        QVERIFY2(recorded.contains(QFile::encodeName(moved + "/Album/one.wav")), recorded.constData());
        // Renamed once: the next batch finds them up to date where they stand.
        const Run again = Vardune(convert);
        QVERIFY2(again.out.endsWith("0 done, 3 up to date, 0 failed, 0 B saved\n"), again.out.constData());
        QCOMPARE(Tree(Path("out")), after);
    }

    // Outputs that do not fit: nothing starts, nothing is left half-written, exit status 3.
    void fullFolderStopsBeforeWriting()
    {
        const QString lib = Library();
        WriteToneWav(lib + "/Loose/long.wav", 20);
        const QString small = Path("small");
        QDir().mkpath(small);
        if (mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a small tmpfs for the output here (needs root with mount rights)");
        mounts_ << small;
        const Run run = Vardune({"--convert", lib, "--output", small});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains("not enough room"), run.err.constData());
        QCOMPARE(Tree(small).size(), 0);
        // Nothing of the encoder's either: no temporary file stays behind.
        QCOMPARE(QDir(small).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 0);
    }

    // The program with a stand-in encoder beside it: a shell script that does body before each
    // conversion and then runs the real encoder (the encoder's reading of the files is the real
    // one's at once).
    QString WrappedEncoder(const QString& body)
    {
        const QString folder = QCoreApplication::applicationDirPath() + "/wrapped";
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        if (!QFile::copy(app_, folder + "/vardune"))
            return {};
        QFile script(folder + "/fastencc");
        script.open(QIODevice::WriteOnly);
        script.write(QStringLiteral("#!/bin/sh\n[ \"$1\" = --facts ] && exec \"%1\" \"$@\"\n%2\nexec \"%1\" \"$@\"\n")
                         .arg(QStringLiteral(FASTENCC_PATH), body)
                         .toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return folder + "/vardune";
    }

    // The output folder fills up while a file converts (another writer takes the room the
    // forecast counted on): the batch stops with status 3 and no output half-written.
    void folderFillingUpStopsTheBatch()
    {
        const QString lib = Library();
        const QString small = Path("small");
        QDir().mkpath(small);
        if (mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=256k") != 0)
            QSKIP("cannot mount a small tmpfs for the output here (needs root with mount rights)");
        mounts_ << small;
        const QString program = WrappedEncoder(QStringLiteral("dd if=/dev/zero of=\"%1/filler\" bs=4k 2>/dev/null").arg(small));
        QVERIFY(!program.isEmpty());
        const QString saved = app_;
        app_ = program;
        const Run run = Vardune({"--convert", lib, "--output", small, "--jobs", "1"});
        app_ = saved;
        QCOMPARE(run.status, 3);
        QVERIFY2(run.out.contains(": failed: the output folder is full"), run.out.constData());
        QVERIFY2(run.out.endsWith("; 2 not converted\n"), run.out.constData());
        QCOMPARE(QDir(small).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList {"filler"});
    }

    // SIGINT works as the window's Exit: the file in progress finishes and is reported, no
    // further file starts, and the run says so and ends with status 1.
    void interruptFinishesTheFileInProgress()
    {
        const QString lib = Library();
        const QString started = Path("started");
        // The encoder waits at a gate until the signal has been sent: no timing to race.
        const QString program = WrappedEncoder(QStringLiteral("touch \"%1\"; while [ ! -e \"%1.go\" ]; do sleep 0.02; done")
                                                   .arg(started));
        QVERIFY(!program.isEmpty());
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(environment);
        process.start(program, {"--convert", lib, "--output", Path("out"), "--jobs", "1"});
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo::exists(started); }, 20000));
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        // Taken up: only then is the gate opened.
        QByteArray err;
        QVERIFY(QTest::qWaitFor([&] { return (err += process.readAllStandardError()).contains("stopping after"); }, 20000));
        QFile(started + ".go").open(QIODevice::WriteOnly);
        QVERIFY(process.waitForFinished(20000));
        const QByteArray out = process.readAllStandardOutput();
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(out.count(": done\n"), 1);
        QVERIFY2(out.endsWith("; stopped, 2 not converted\n"), out.constData());
        QVERIFY((err + process.readAllStandardError()).contains("stopping after the files in progress"));
        QCOMPARE(Tree(Path("out")).size(), 1);
    }

    // The cores go where the work is: a long file that may outlast the short ones after it
    // starts on the core they leave, able to take more, and takes the second core when the
    // last of them ends; a short file is never split, and one core for the batch is one
    // encoder on one core.
    void coresGoToTheLongFile()
    {
        QDir().mkpath(Path("lib"));
        QVERIFY(WriteToneWav(Path("lib/a long.wav"), 120.0, 300));
        for (const char* name : {"lib/b short.wav", "lib/c short.wav", "lib/d short.wav"})
            QVERIFY(WriteToneWav(Path(name), 0.5, 300));
        const QString args = Path("args.log");
        const QString lines = Path("lines.log");
        const QString program = WrappedEncoder(
            QStringLiteral("echo \"$*\" >> \"%1\"\ncase \"$1\" in *long*) exec 3<&0; f=\"%2.fifo\"; mkfifo \"$f\"; "
                           "tee -a \"%2\" <&3 >\"$f\" & t=$!; \"%3\" \"$@\" <\"$f\"; s=$?; kill $t; rm -f \"$f\"; exit $s;; esac")
                .arg(args, lines, QStringLiteral(FASTENCC_PATH)));
        QVERIFY(!program.isEmpty());
        const QString saved = app_;
        app_ = program;
        const Run run = Vardune({"--convert", Path("lib"), "--output", Path("out"), "--jobs", "2"});
        app_ = saved;
        QCOMPARE(run.status, 0);
        QFile argsFile(args);
        QVERIFY(argsFile.open(QIODevice::ReadOnly));
        const QList<QByteArray> started = argsFile.readAll().trimmed().split('\n');
        QCOMPARE(started.size(), 4);
        for (const QByteArray& line : started)
            QVERIFY2(line.endsWith(line.contains("long.wav") ? "-threads 2 -threads-stdin" : "-threads 1"), line.constData());
        QFile linesFile(lines);
        QVERIFY(linesFile.open(QIODevice::ReadOnly));
        QCOMPARE(linesFile.readAll(), QByteArray("threads 1\nthreads 2\n"));
        // Alone, it takes both cores from the start and is told nothing more.
        argsFile.close();
        linesFile.close();
        QFile::remove(args);
        QFile::remove(lines);
        app_ = program;
        const Run alone = Vardune({"--convert", Path("lib/a long.wav"), "--output", Path("out2"), "--jobs", "2"});
        app_ = saved;
        QCOMPARE(alone.status, 0);
        QVERIFY(argsFile.open(QIODevice::ReadOnly));
        QVERIFY(argsFile.readAll().trimmed().endsWith("-threads 2 -threads-stdin"));
        QVERIFY(linesFile.open(QIODevice::ReadOnly));
        QCOMPARE(linesFile.readAll(), QByteArray());
        // The same bytes, whatever cores it had.
        QCOMPARE(Tree(Path("out2")).value("V_a long.wav.MP3"), Tree(Path("out")).value("V_a long.wav.MP3"));
        // One core for the batch: every file one encoder, told nothing.
        argsFile.close();
        linesFile.close();
        QFile::remove(args);
        QFile::remove(lines);
        app_ = program;
        const Run one = Vardune({"--convert", Path("lib"), "--output", Path("out3"), "--jobs", "1"});
        app_ = saved;
        QCOMPARE(one.status, 0);
        QVERIFY(argsFile.open(QIODevice::ReadOnly));
        for (const QByteArray& line : argsFile.readAll().trimmed().split('\n'))
            QVERIFY2(line.endsWith("-threads 1"), line.constData());
        QVERIFY(!linesFile.exists() || linesFile.size() == 0);
    }

    // On a terminal: one line, redrawn in place, and the summary at the end; piped, plain lines.
    void progressOnATerminal()
    {
        const QString lib = Library();
        const Run run = Vardune({}, QStringLiteral("script -qec '\"$VARDUNE\" --convert %1 --output %2' /dev/null").arg(lib, Path("tty")));
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.contains("\r\033[K0/3 files"), run.out.constData());
        QVERIFY2(run.out.contains("\r\033[K3 done, 0 failed"), run.out.constData());
        QVERIFY2(run.out.trimmed().endsWith("saved"), run.out.constData());
        QVERIFY(!run.out.contains("one.wav ->"));  // done files are not listed on a terminal
        QCOMPARE(Tree(Path("tty")).size(), 3);
    }

    // On a card that takes ASCII names only, the dry run and the conversion of the same
    // arguments agree: the same exit status, names, up-to-date decisions and room verdict.
    // Room is needed only for what will be written; a folder not made yet is judged by the
    // card it will be made on.
    void dryRunAndConversionAgreeOnACard_data()
    {
        QTest::addColumn<QStringList>("before");  // convert, fill:BYTES left free, touch a source
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("converted");        // outputs the conversion writes
        QTest::newRow("a new folder that fits") << QStringList {} << 0 << 3;
        QTest::newRow("a new folder on a nearly full card") << QStringList {"fill:20000"} << 3 << 0;
        QTest::newRow("an unchanged re-run on a full card") << QStringList {"convert", "fill:0"} << 0 << 0;
        QTest::newRow("a changed source on a full card") << QStringList {"convert", "fill:0", "touch"} << 3 << 0;
        QTest::newRow("a changed source with room to replace it") << QStringList {"convert", "fill:100000", "touch"} << 0 << 1;
    }
    void dryRunAndConversionAgreeOnACard()
    {
        QFETCH(QStringList, before);
        QFETCH(int, status);
        QFETCH(int, converted);
        const QString card = Card(QStringLiteral("card"), 4);
        if (card.isEmpty())
            QSKIP("cannot mount a FAT image here (needs mkfs.vfat and fusefat)");
        const QString lib = Path("lib");
        QDir().mkpath(lib + QString::fromUtf8("/Émile Café"));
        QVERIFY(WriteToneWav(lib + QString::fromUtf8("/Émile Café/Crème.wav"), 3.0, 300));
        QVERIFY(WriteToneWav(lib + QString::fromUtf8("/Émile Café/Brûlée.wav"), 3.0, 400));
        QVERIFY(WriteToneWav(lib + "/plain.wav", 3.0, 500));
        const QStringList arguments {"--convert", lib, "--output", card + "/music", "--layout", "keep-folders"};
        for (const QString& step : before) {
            if (step == "convert")
                QCOMPARE(Vardune(arguments).status, 0);
            else if (step.startsWith("fill:"))
                QVERIFY(FillCard(card, step.mid(5).toLongLong()));
            else if (step == "touch")
                QVERIFY(WriteToneWav(lib + "/plain.wav", 3.0, 550));
        }
        const auto onCard = Tree(card);

        const Run dry = Vardune(arguments + QStringList {"--dry-run"});
        QCOMPARE(Tree(card), onCard);  // a dry run writes nothing
        const Run run = Vardune(arguments);
        QCOMPARE(dry.status, status);
        QCOMPARE(run.status, status);
        const auto planned = Reported(dry.out);
        QCOMPARE(planned.size(), 3);
        // The card's names, learned before planning: ASCII in the dry run as in the run.
        for (const auto& [target, what] : planned)
            QVERIFY2(!target.contains(QString::fromUtf8("É")) && target.contains(card + "/music/"), qPrintable(target));
        QVERIFY2(planned.value(lib + QString::fromUtf8("/Émile Café/Crème.wav")).first.endsWith("/music/lib/Emile Cafe/Creme.mp3"),
                 qPrintable(planned.value(lib + QString::fromUtf8("/Émile Café/Crème.wav")).first));
        if (status == 3) {
            QVERIFY2(dry.out.endsWith("; it does not fit\n"), dry.out.constData());
            QVERIFY2(run.err.contains("not enough room"), run.err.constData());
            QCOMPARE(Tree(card), onCard);
            return;
        }
        QVERIFY2(dry.out.contains("; it fits\n"), dry.out.constData());
        const auto made = Reported(run.out);
        QCOMPARE(made.keys(), planned.keys());
        int written = 0;
        for (const QString& source : planned.keys()) {
            QCOMPARE(made[source].first, planned[source].first);
            QCOMPARE(made[source].second, planned[source].second == "would convert" ? QStringLiteral("done") : planned[source].second);
            written += made[source].second == "done" ? 1 : 0;
        }
        QCOMPARE(written, converted);
    }

    // A card pulled mid-batch: the file that finds it gone fails with the documented reason,
    // no further file starts, and nothing (output, folder, playlist) is written under the bare
    // mount point afterwards, whichever way the outputs are laid out.
    void aCardPulledMidBatch_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::newRow("one folder, on the card itself") << "one-folder";
        QTest::newRow("album folders") << "keep-folders";
    }
    void aCardPulledMidBatch()
    {
        QFETCH(QString, layout);
        const QString card = Card(QStringLiteral("pulled"), 4);
        if (card.isEmpty())
            QSKIP("cannot mount a FAT image here (needs mkfs.vfat and fusefat)");
        const QString lib = Library();
        QFile playlist(lib + "/Album/road.m3u");
        QVERIFY(playlist.open(QIODevice::WriteOnly));
        playlist.write("one.wav\ntwo.wav\n");
        playlist.close();
        // The card goes just before the second file's encoder starts, after the batch last
        // looked at it.
        const QString count = Path("count");
        const QString program = WrappedEncoder(QStringLiteral("n=$(cat '%1' 2>/dev/null || echo 0); echo $((n+1)) > '%1'; "
                                                              "[ $n = 1 ] && fusermount -u -z '%2'")
                                                   .arg(count, card));
        QVERIFY(!program.isEmpty());
        const QString saved = app_;
        app_ = program;
        const Run run = Vardune({"--convert", lib, "--output", card, "--layout", layout, "--jobs", "1"});
        app_ = saved;
        QCOMPARE(run.status, 1);
        QVERIFY2(run.out.contains(": failed: the output folder can no longer be written\n"), run.out.constData());
        QVERIFY2(run.out.contains("; stopped: the output folder can no longer be written; 1 not converted\n"), run.out.constData());
        QCOMPARE(run.out.count(": done\n"), 1);
        QVERIFY(!run.out.contains("Playlist"));
        // The mount point is bare: the internal disk's folder, which nothing was written to.
        QVERIFY(QStorageInfo(card).rootPath() != card);
        QCOMPARE(QDir(card).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot), QStringList {});
    }

    // --fit on a card too small for the quality: every file at the highest bitrate at which
    // all fit. The dry run says which, the run writes them all, they fit, and what was written
    // is within 1 % of the forecast at that bitrate.
    void fitOnACardTooSmallForTheQuality()
    {
        const QString card = Card(QStringLiteral("fit"), 4);
        if (card.isEmpty())
            QSKIP("cannot mount a FAT image here (needs mkfs.vfat and fusefat)");
        const QString lib = Path("lib");
        QDir().mkpath(lib);
        QStringList sources;
        for (int i = 0; i < 4; ++i) {
            sources << lib + QStringLiteral("/track%1.wav").arg(i);
            QVERIFY(WriteToneWav(sources.last(), 30.0, 300 + 50 * i));
        }
        const qint64 room = FreeOn(card);
        const QStringList arguments {"--convert", lib, "--output", card, "--quality", "320"};
        QCOMPARE(Vardune(arguments + QStringList {"--dry-run"}).status, 3);
        const Run dry = Vardune(arguments + QStringList {"--dry-run", "--fit"});
        QCOMPARE(dry.status, 0);
        const auto fitAt = QRegularExpression(QStringLiteral("; it fits at (\\d+) kbit/s\n$")).match(QString::fromUtf8(dry.out));
        QVERIFY2(fitAt.hasMatch(), dry.out.constData());
        const int kbps = fitAt.captured(1).toInt();
        QVERIFY(kbps < 320);
        const Run run = Vardune(arguments + QStringList {"--fit"});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.err.contains(QStringLiteral("the outputs fit at %1 kbit/s").arg(kbps).toUtf8()), run.err.constData());
        QCOMPARE(run.out.count(": done\n"), 4);

        // The forecast of each output, as the encoder reckons it for that bitrate.
        QProcess facts;
        facts.start(QStringLiteral(FASTENCC_PATH), {"--facts"});
        for (const QString& source : sources)
            facts.write(QFile::encodeName(source) + '\0');
        facts.closeWriteChannel();
        QVERIFY(facts.waitForFinished(60000));
        double forecast = 0;
        for (const QByteArray& line : facts.readAllStandardOutput().trimmed().split('\n'))
            for (const auto& size : vardune::SizeForecast::Parse(line.toStdString()).sizes)
                if (size.bitrate == kbps * 1000)
                    forecast += size.stereo;
        qint64 written = 0;
        for (const QString& name : QDir(card).entryList({"*.MP3"}, QDir::Files))
            written += QFileInfo(card + "/" + name).size();
        QVERIFY2(written <= room && std::abs(written - forecast) <= 0.01 * written,
                 qPrintable(QStringLiteral("%1 kbit/s: forecast %2, written %3, room %4").arg(kbps).arg(forecast).arg(written).arg(room)));
        qInfo("fit at %d kbit/s: forecast %.0f bytes, written %lld, room %lld", kbps, forecast, written, room);
    }

    // A plan run through GNU parallel makes what --convert makes, and running it again
    // changes nothing.
    void planThroughParallel()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("parallel")).isEmpty())
            QSKIP("GNU parallel is not installed");
        const QString lib = Library();
        QCOMPARE(Vardune({"--convert", lib, "--output", Path("converted"), "--layout", "tags"}).status, 0);
        const QString plan = QStringLiteral("\"$VARDUNE\" --plan %1 --output %2 --layout tags | parallel -0 -N3 'sh -c {3} >/dev/null'")
                                 .arg(lib, Path("planned"));
        const Run run = Vardune({}, plan);
        QVERIFY2(run.status == 0, run.err.constData());
        const auto converted = Tree(Path("converted"));
        const auto planned = Tree(Path("planned"));
        QCOMPARE(planned.keys(), converted.keys());
        for (const QString& path : converted.keys())
            QCOMPARE(planned[path].size(), converted[path].size());
        // A source that cannot be taken is said on standard error, never inside the plan.
        const Run refused = Vardune({"--plan", lib + "/nothere.wav", lib + "/Loose", "--output", Path("other"), "--layout", "tags"});
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.err.contains("nothere.wav: failed: no such file or folder"), refused.err.constData());
        QCOMPARE(int(refused.out.count('\0')), 3);
        QVERIFY2(refused.out.startsWith(QFile::encodeName(lib + "/Loose/tone.wav") + '\0'), refused.out.constData());
        // Its command leaves standard input to whatever runs it.
        QVERIFY2(!refused.out.contains("-threads-stdin"), refused.out.constData());
        // Run again: everything is up to date, nothing is planned.
        const Run again = Vardune({"--plan", lib, "--output", Path("planned"), "--layout", "tags"});
        QCOMPARE(again.status, 0);
        QCOMPARE(again.out.size(), 0);
        QVERIFY2(again.err.contains("0 to convert, 3 up to date"), again.err.constData());
    }

    // A source from an old archive, named in Latin-1 (its folder too): converted from its very
    // bytes (the output's mark names them), shown with the odd bytes visible on each line and
    // in JSON, planned as a command that names the real file (bash runs the plan and the
    // output appears), and the dry run says what the run does; named on its own or through
    // its folder.
    void aLatin1NamedSource_data()
    {
        QTest::addColumn<QString>("given");   // SRC: the file itself, LIB: the folder above it
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("output");  // below the output folder
        QTest::newRow("the file, in one folder") << "\"$SRC\"" << "one-folder" << "V_Caf_.wav.MP3";
        QTest::newRow("its folder, folders kept") << "\"$LIB\"" << "keep-folders" << "latin/_t_/Caf_.mp3";
    }
    void aLatin1NamedSource()
    {
        QFETCH(QString, given);
        QFETCH(QString, layout);
        QFETCH(QString, output);
        const QString lib = Path("latin");
        QDir().mkpath(lib + "/Old");
        QVERIFY(WriteToneWav(lib + "/Old/cafe.wav", 1.0, 300));
        const std::string bytes = Module1::FromQt(lib);
        QCOMPARE(::rename((bytes + "/Old/cafe.wav").c_str(), (bytes + "/Old/Caf\xe9.wav").c_str()), 0);
        QCOMPARE(::rename((bytes + "/Old").c_str(), (bytes + "/\xc9t\xe9").c_str()), 0);
        const std::string source = bytes + "/\xc9t\xe9/Caf\xe9.wav";
        const QByteArray shown = QFile::encodeName(lib) + "/\\xC9t\\xE9/Caf\\xE9.wav";
        const QString shell = QStringLiteral("LIB='%1'; SRC=\"$LIB\"/$'\\xc9t\\xe9/Caf\\xe9.wav'; \"$VARDUNE\" %2 --layout %3 ")
                                  .arg(lib, given, layout);
        const auto run = [&](const QString& folder, const QString& more) {
            return Vardune({}, shell + "--output '" + Path(folder) + "' " + more);
        };

        const Run dry = run("converted", "--convert --dry-run");
        QVERIFY2(dry.status == 0, dry.err.constData());
        const QByteArray line = shown + " -> " + QFile::encodeName(Path("converted/" + output));
        QVERIFY2(dry.out.contains(line + ": would convert\n"), dry.out.constData());
        const Run converted = run("converted", "--convert");
        QVERIFY2(converted.status == 0, converted.err.constData());
        QVERIFY2(converted.out.contains(line + ": done\n"), converted.out.constData());
        QVERIFY(vardune::SourceMark::MadeFrom(Module1::FromQt(Path("converted/" + output)), source));

        const Run json = run("converted", "--convert --json");
        QCOMPARE(json.status, 0);
        const QJsonObject first = QJsonDocument::fromJson(json.out.left(json.out.indexOf('\n'))).object();
        QCOMPARE(first.value("source").toString().toUtf8(), shown);
        QCOMPARE(first.value("status").toString(), QStringLiteral("up to date"));

        // The plan's records hold the bytes themselves; bash runs each command as it stands.
        const QString records = Path("plan.bin");
        const Run plan = run("planned", "--plan > '" + records + "' && bash -c 'while IFS= read -r -d \"\" s && IFS= read -r -d \"\" o "
                                        "&& IFS= read -r -d \"\" c; do bash -c \"$c\" >/dev/null || exit 1; done' < '" + records
                                        + "' && cat '" + records + "'");
        QVERIFY2(plan.status == 0, plan.err.constData());
        const QList<QByteArray> record = plan.out.split('\0');
        QCOMPARE(record.size(), 4);
        QCOMPARE(record[0].toStdString(), source);
        QCOMPARE(record[1], QFile::encodeName(Path("planned/" + output)));
        QVERIFY(vardune::SourceMark::MadeFrom(Module1::FromQt(Path("planned/" + output)), source));
        QCOMPARE(QFileInfo(Path("planned/" + output)).size(), QFileInfo(Path("converted/" + output)).size());

        // The output folder is held as text: one whose name is not UTF-8 is refused before
        // anything is made, never swapped for another folder.
        const Run odd = Vardune({}, shell + "--convert --output \"$LIB\"/$'out\\xe9'");
        QCOMPARE(odd.status, 1);
        QVERIFY2(odd.err.contains("cannot be used: its name is not UTF-8"), odd.err.constData());
        // Nothing new beside the source's folder (which QDir, passing over its name, does not list).
        QCOMPARE(QDir(lib).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
        QVERIFY(!QFileInfo::exists(lib + QString::fromUtf8("/out\xef\xbf\xbd")));
        QVERIFY(!std::filesystem::exists(bytes + "/out\xe9"));
    }

    // Standard output that cannot be written (a full disk; /dev/full here) is a failure in
    // every mode: said on standard error, exit status 1, never "all done".
    void outputThatCannotBeWritten_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("said");
        QTest::newRow("plan") << "--plan LIB --output OUT" << "cannot write the plan to standard output: No space left on device; it stops after 0 records";
        QTest::newRow("convert") << "--convert LIB --output OUT" << "cannot write to standard output: No space left on device";
        QTest::newRow("json") << "--convert LIB --output OUT --json" << "cannot write to standard output: No space left on device";
        QTest::newRow("dry run") << "--convert LIB --output OUT --dry-run" << "cannot write to standard output: No space left on device";
        QTest::newRow("help") << "--help" << "cannot write to standard output: No space left on device";
        QTest::newRow("version") << "--version" << "cannot write to standard output: No space left on device";
    }
    void outputThatCannotBeWritten()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, said);
        const QString lib = Library();
        arguments.replace("LIB", lib).replace("OUT", Path("OUT"));
        const Run run = Vardune({}, QStringLiteral("\"$VARDUNE\" %1 > /dev/full").arg(arguments));
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(said.toUtf8()), run.err.constData());
        QCOMPARE(run.err.count("standard output"), 1);  // said once
    }

    // A plan written to a disk that fills up: exit status 1, and the file holds whole records
    // only (whoever runs it never gets a command cut inside a name).
    void planOnAFullDiskKeepsWholeRecords()
    {
        QDir().mkpath(Path("lib"));
        QVERIFY(WriteToneWav(Path("lib/tone.wav"), 0.2));
        for (int i = 0; i < 40; ++i)
            QVERIFY(QFile::copy(Path("lib/tone.wav"), Path(QStringLiteral("lib/track %1 of a name long enough to fill records.wav").arg(i))));
        const QString small = Path("small");
        QDir().mkpath(small);
        if (mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a small tmpfs here (needs root with mount rights)");
        mounts_ << small;
        QFile filler(small + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        filler.write(QByteArray(56 * 1024, 'x'));
        filler.close();
        const Run run = Vardune({}, QStringLiteral("\"$VARDUNE\" --plan '%1' --output '%2' > '%3/plan.bin'").arg(Path("lib"), Path("OUT"), small));
        QCOMPARE(run.status, 1);
        QFile plan(small + "/plan.bin");
        QVERIFY(plan.open(QIODevice::ReadOnly));
        const QByteArray bytes = plan.readAll();
        const int records = int(bytes.count('\0')) / 3;
        QVERIFY2(records > 0 && records < 41, run.err.constData());
        QCOMPARE(int(bytes.count('\0')), records * 3);
        QVERIFY(bytes.endsWith('\0'));
        QVERIFY2(run.err.contains(QStringLiteral("the file holds its first %1 records").arg(records).toUtf8()), run.err.constData());
        QVERIFY2(run.err.contains(QStringLiteral("%1 not planned").arg(41 - records).toUtf8()), run.err.constData());
    }

    // Without --convert or --plan, an option that is not Qt's own is a usage error before any
    // window (there is no display here: a window would abort), files given beside it or not,
    // and a value never starts with "--".
    void optionsOutsideABatch_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("said");
        QTest::newRow("dry run alone") << "--dry-run" << "vardune: --dry-run is not an option of the window";
        QTest::newRow("unknown") << "--unknown" << "vardune: --unknown is not an option of the window";
        QTest::newRow("a file, then an unknown option") << "LIB/Album/one.wav --unknown" << "vardune: --unknown is not an option of the window";
        QTest::newRow("Qt's option without its value") << "-platform" << "vardune: -platform needs a value";
        QTest::newRow("Qt's option, then another") << "-style --json" << "vardune: -style needs a value";
        QTest::newRow("output that is an option") << "--convert LIB --output --plan" << "--output needs a folder (\"--plan\" is an option";
        QTest::newRow("encoder for a conversion") << "--convert LIB --output OUT --encoder fastencc" << "--encoder goes with --plan";
    }
    void optionsOutsideABatch()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, said);
        const QString lib = Library();
        QStringList list = arguments.split(' ');
        for (QString& argument : list)
            argument.replace("LIB", lib).replace("OUT", Path("OUT"));
        // Run where a folder named "--plan" would be made.
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(dir_->path());
        const Run run = Vardune(list);
        QDir::setCurrent(cwd);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.startsWith("vardune: ") && run.err.contains(said.toUtf8()), run.err.constData());
        QVERIFY(run.err.contains("Usage: vardune --convert"));
        QVERIFY(run.out.isEmpty());
        QVERIFY(!QFileInfo::exists(Path("OUT")));
        QVERIFY(!QFileInfo::exists(Path("--plan")));
    }

    // The settings file as something that holds no settings: read without waiting and without
    // reading it, in bounded time and memory, the defaults used, and said. The command line
    // neither writes nor sets it aside.
    void settingsThatAreNoFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("said");
        QTest::newRow("FIFO") << "fifo" << "is not read: it is a FIFO; the defaults are used";
        QTest::newRow("link to /dev/zero") << "zero" << "is not read: it is a device; the defaults are used";
        QTest::newRow("300 MB") << "large" << "is not read: it is larger than 1 MB; the defaults are used";
    }
    void settingsThatAreNoFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, said);
        if (QStandardPaths::findExecutable(QStringLiteral("time"), {"/usr/bin"}).isEmpty())
            QSKIP("GNU time (/usr/bin/time) is not installed");
        const QString lib = Library();
        const QString ini = QFileInfo(app_).path() + "/Vardune.ini";
        QFile::remove(ini);
        if (kind == "fifo")
            QCOMPARE(mkfifo(QFile::encodeName(ini).constData(), 0600), 0);
        else if (kind == "zero")
            QVERIFY(QFile::link("/dev/zero", ini));
        else {
            QFile large(ini);
            QVERIFY(large.open(QIODevice::WriteOnly));
            QVERIFY(large.resize(qint64(300) << 20));  // sparse: nothing of it on the disk
        }
        QElapsedTimer clock;
        clock.start();
        const Run run = Vardune({}, QStringLiteral("/usr/bin/time -f 'peak %M kB' \"$VARDUNE\" --convert %1 --output %2 --settings --dry-run")
                                        .arg(lib, Path("OUT")));
        const qint64 took = clock.elapsed();
        const bool leftThere = QFileInfo(ini).isSymLink() || QFileInfo::exists(ini);
        QFile::remove(ini);
        QCOMPARE(run.status, 0);
        QVERIFY2(run.err.contains(said.toUtf8()), run.err.constData());
        QVERIFY2(took < 60000, "it waited on the file");
        const QRegularExpressionMatch peak = QRegularExpression("peak (\\d+) kB").match(QString::fromUtf8(run.err));
        QVERIFY(peak.hasMatch());
        QVERIFY2(peak.captured(1).toLongLong() < 400 * 1024, qPrintable(peak.captured(0)));  // a 300 MB read took 900 MB
        QVERIFY(leftThere);  // left where it was
    }

    // The window's own files as something that holds none: a FIFO at the Vardo list (or at
    // the settings file) neither hangs the window nor keeps it from ending on SIGTERM; the
    // file is set aside and the window says so (here it waits for an answer, and SIGTERM
    // ends it then too, before its event loop runs).
    void windowFilesThatAreNoFiles_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("said");  // a message waits for an answer when SIGTERM comes
        QTest::newRow("list as a FIFO") << "list" << "fifo" << true;
        QTest::newRow("list as a link to /dev/zero") << "list" << "zero" << true;
        QTest::newRow("playlists as a FIFO") << "playlists" << "fifo" << false;
        QTest::newRow("settings as a FIFO") << "settings" << "fifo" << true;
        QTest::newRow("settings as a link to /dev/zero") << "settings" << "zero" << true;
    }
    void windowFilesThatAreNoFiles()
    {
        QFETCH(QString, which);
        QFETCH(QString, kind);
        QFETCH(bool, said);
        const QString home = Path("home");
        const QString data = home + "/.local/share/Vardune";
        QDir().mkpath(data);
        QDir().mkpath(Path("run"));
        QFile::setPermissions(Path("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const QString ini = QFileInfo(app_).path() + "/Vardune.ini";
        QFile::remove(ini);
        QString path = which == "settings" ? ini : data + (which == "list" ? "/VardoList.txt" : "/CarriedPlaylists.txt");
        if (which == "playlists") {
            QFile list(data + "/VardoList.txt");
            QVERIFY(list.open(QIODevice::WriteOnly));
            list.write("Vardune Vardo list 1\n");
        }
        if (kind == "fifo")
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            QVERIFY(QFile::link("/dev/zero", path));
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home);
        environment.insert("XDG_RUNTIME_DIR", Path("run"));
        environment.remove("XDG_DATA_HOME");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(app_, {});
        const QString folder = QFileInfo(path).path();
        const QString pattern = QFileInfo(path).fileName() + ".damaged-*";
        const bool setAside = QTest::qWaitFor([&] { return !QDir(folder).entryList({pattern}, QDir::System | QDir::Files | QDir::Hidden).isEmpty(); }, 20000);
        QTest::qWait(300);
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        const bool ended = process.waitForFinished(10000);
        if (!ended) {
            process.kill();
            process.waitForFinished();
        }
        for (const QString& name : QDir(folder).entryList({QFileInfo(path).fileName() + "*"}, QDir::System | QDir::Files | QDir::Hidden))
            QFile::remove(folder + "/" + name);
        QFile::remove(ini);
        QDir(data).removeRecursively();
        QVERIFY2(setAside, "the file was not set aside");
        QVERIFY2(ended, "SIGTERM did not end the window");
        // Before the event loop, the signal's own end; after, the window's, which saves.
        QCOMPARE(process.exitStatus(), said ? QProcess::CrashExit : QProcess::NormalExit);
    }

    // Asked twice to stop, the command line stops its encoders too: each abandons its file
    // whole (nothing of it stays, not even hidden), is reported as stopped, and the run ends
    // with status 1 as soon as they have.
    void secondSignalStopsTheEncoders()
    {
        QDir().mkpath(Path("lib"));
        QVERIFY(WriteToneWav(Path("lib/a long.wav"), 60.0, 300));
        QVERIFY(WriteToneWav(Path("lib/b later.wav"), 1.0, 300));
        // The encoder writes down its process id; it is held still (SIGSTOP) while the signals
        // are sent, so it cannot finish first however busy the machine.
        const QString pid = Path("encoder.pid");
        const QString program = WrappedEncoder(QStringLiteral("echo $$ > \"%1\"").arg(pid));
        QVERIFY(!program.isEmpty());
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(environment);
        process.start(program, {"--convert", Path("lib"), "--output", Path("out"), "--jobs", "1"});
        // Its temporary file is there: it converts.
        QVERIFY(QTest::qWaitFor([&] {
            return !QDir(Path("out")).entryList({".*.fastencc-*"}, QDir::Files | QDir::Hidden).isEmpty();
        }, 20000));
        QFile pidFile(pid);
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        const pid_t encoder = static_cast<pid_t>(pidFile.readAll().trimmed().toInt());
        QVERIFY(encoder > 0);
        QCOMPARE(::kill(encoder, SIGSTOP), 0);
        QByteArray err;
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        QVERIFY(QTest::qWaitFor([&] { return (err += process.readAllStandardError()).contains("stopping after"); }, 20000));
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        QVERIFY(QTest::qWaitFor([&] { return (err += process.readAllStandardError()).contains("stopping the files in progress"); }, 20000));
        ::kill(encoder, SIGCONT);
        QVERIFY(process.waitForFinished(20000));
        const QByteArray out = process.readAllStandardOutput();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(out.contains("a long.wav -> " + QFile::encodeName(Path("out/V_a long.wav.MP3")) + ": failed: stopped before it was finished: nothing was written\n"),
                 out.constData());
        QVERIFY2(out.endsWith("; stopped, 1 file in progress abandoned; 1 not converted\n"), out.constData());
        QCOMPARE(QDir(Path("out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        QCOMPARE(::kill(encoder, 0), -1);  // it has ended
    }

    // A source of no sound: reported as such, nothing written, status 1.
    void emptySourceWritesNothing()
    {
        QDir().mkpath(Path("lib"));
        QVERIFY(WriteToneWav(Path("lib/silence.wav"), 0.0));
        const Run run = Vardune({"--convert", Path("lib/silence.wav"), "--output", Path("out")});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.out.contains("silence.wav -> " + QFile::encodeName(Path("out/V_silence.wav.MP3")) + ": failed: the source holds no sound\n"),
                 run.out.constData());
        QCOMPARE(QDir(Path("out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    // A stored pattern that cannot serve is said once, the default pattern names the outputs,
    // and the settings file keeps the text for the user to mend.
    void badStoredPatternIsSaid()
    {
        const QString lib = Library();
        const QString ini = QFileInfo(app_).path() + "/Vardune.ini";
        vardune::Settings stored;
        stored.outputLayout = "TAGS";
        stored.namePattern = "../x";
        QVERIFY(vardune::WriteConfig(Module1::FromQt(ini), stored));
        QFile file(ini);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        const Run run = Vardune({"--convert", lib + "/Album", "--output", Path("OUT"), "--settings", "--dry-run"});
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray after = file.readAll();
        QFile::remove(ini);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err.count("the name pattern in the settings file cannot be used: "), 1);
        QVERIFY2(run.err.contains("climbs out of the output folder"), run.err.constData());
        QVERIFY2(run.out.contains("/OUT/Ann/Road/01 First.mp3: would convert"), run.out.constData());
        QCOMPARE(after, before);
    }

    // What encoders killed outright left in an output folder goes when a plan (or a batch)
    // next touches it: only files no running encoder holds, older than the plan.
    void killedEncodersLeftoversGo()
    {
        const QString lib = Library();
        const QString out = Path("OUT");
        QDir().mkpath(out);
        const auto make = [&](const QString& name, int secondsAgo) {
            QFile file(out + "/" + name);
            file.open(QIODevice::WriteOnly);
            file.write("ID3");
            file.flush();
            file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo), QFileDevice::FileModificationTime);
            file.close();
        };
        make(".V_tone.wav.MP3.fastencc-Kild01", 600);
        make(".elsewhere.mp3.fastencc-Kild02", 600);
        make(".V_one.wav.MP3.fastencc-Held01", 600);
        make(".V_two.wav.MP3.fastencc-Newr01", -60);
        make("mine.fastencc-notOur", 600);
        // An encoder that still runs holds its file.
        const int held = ::open(QFile::encodeName(out + "/.V_one.wav.MP3.fastencc-Held01").constData(), O_RDWR);
        QVERIFY(held >= 0);
        QCOMPARE(::flock(held, LOCK_EX), 0);
        const Run run = Vardune({"--plan", lib, "--output", out});
        ::close(held);
        QCOMPARE(run.status, 0);
        QStringList left = QDir(out).entryList(QDir::Files | QDir::Hidden);
        left.sort();
        QCOMPARE(left, (QStringList {".V_one.wav.MP3.fastencc-Held01", ".V_two.wav.MP3.fastencc-Newr01", "mine.fastencc-notOur"}));
    }

    // A plan names the encoder as the hosts find it (--encoder), and runs through GNU parallel
    // in groups of files (-N), each group one runner (docs/examples/shrink.sh); a runner whose
    // file failed exits non-zero, and so does parallel.
    void planInGroupsByTheRunner()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("parallel")).isEmpty())
            QSKIP("GNU parallel is not installed");
        const QString runner = QStringLiteral(VARDUNE_SOURCE_DIR "/docs/examples/shrink.sh");
        const QString lib = Library();
        QVERIFY(WriteToneWav(lib + "/Loose/more.wav", 0.3, 500));
        const Run plan = Vardune({"--plan", lib, "--output", Path("planned"), "--encoder", "fastencc"});
        QCOMPARE(plan.status, 0);
        const QList<QByteArray> fields = plan.out.split('\0');
        QCOMPARE(fields.size(), 4 * 3 + 1);
        for (int i = 2; i < 12; i += 3)
            QVERIFY2(fields[i].startsWith("fastencc "), fields[i].constData());
        QFile planFile(Path("plan.bin"));
        QVERIFY(planFile.open(QIODevice::WriteOnly));
        planFile.write(plan.out);
        planFile.close();
        // fastencc as the hosts find it: on the PATH.
        const QString path = QFileInfo(app_).path() + ":" + qEnvironmentVariable("PATH");
        const Run run = Vardune({}, QStringLiteral("PATH='%1' parallel -0 -N6 --joblog '%2' sh '%3' < '%4'")
                                        .arg(path, Path("jobs.log"), runner, Path("plan.bin")));
        QVERIFY2(run.status == 0, run.err.constData());
        QCOMPARE(Tree(Path("planned")).size(), 4);
        QFile log(Path("jobs.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll().trimmed().count('\n'), 2);  // a header and two jobs of two files
        // A record that fails: the runner says which and exits 1, after the others ran.
        QFile::remove(Path("planned/V_one.wav.MP3"));
        const Run failing = Vardune({}, QStringLiteral("PATH='%1' sh '%2' a.wav out.mp3 false '%3' '%4' '%5'")
                                            .arg(path, runner, QString::fromUtf8(fields[0]), QString::fromUtf8(fields[1]),
                                                 QString::fromUtf8(fields[2]).replace("'", "'\\''")));
        QCOMPARE(failing.status, 1);
        QCOMPARE(failing.err, QByteArray("failed: a.wav\n"));
        QCOMPARE(Tree(Path("planned")).size(), 4);
    }

    // The Slurm task runs its share of the plan and fails when any of its files failed.
    void slurmTaskFailsWithItsFiles()
    {
        const QString task = QStringLiteral(VARDUNE_SOURCE_DIR "/docs/examples/shrink-slurm.sh");
        const QString lib = Library();
        const Run plan = Vardune({"--plan", lib, "--output", Path("planned")});
        QCOMPARE(plan.status, 0);
        QFile planFile(Path("plan.bin"));
        QVERIFY(planFile.open(QIODevice::WriteOnly));
        planFile.write(plan.out);
        planFile.close();
        for (const int taskId : {0, 1})
            QCOMPARE(Vardune({}, QStringLiteral("SLURM_ARRAY_TASK_ID=%1 bash '%2' '%3' 2").arg(taskId).arg(task, Path("plan.bin"))).status, 0);
        QCOMPARE(Tree(Path("planned")).size(), 3);
        // The same plan once the output folder is gone: every file fails, and the task says so.
        QDir(Path("planned")).removeRecursively();
        const Run failed = Vardune({}, QStringLiteral("SLURM_ARRAY_TASK_ID=1 bash '%1' '%2' 2").arg(task, Path("plan.bin")));
        QCOMPARE(failed.status, 1);
        QVERIFY2(failed.err.count("\nfailed: ") + failed.err.startsWith("failed: ") == 1, failed.err.constData());
    }
};

VARDUNE_GUI_TEST_MAIN(ConsoleTest)
#include "console_test.moc"
