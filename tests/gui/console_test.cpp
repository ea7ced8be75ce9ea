// The command line's batch, run as the real program with the real encoder and no display,
// against a small library the test writes; and the window's batch on the same files.
#include "batchwindow.h"
#include "guitestmain.h"
#include "testaudio.h"

#include "outputlayout.h"

#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <QRegularExpression>

#include <csignal>

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
        QTest::newRow("quality the window has not") << "--convert LIB --output OUT --quality 80" << 2 << "unknown quality" << -1;
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
        if (QProcess::execute(QStringLiteral("fusefat"), {"-o", "rw+", image, card}) != 0)
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
        QCOMPARE(QProcess::execute(QStringLiteral("fusefat"), {"-o", "rw+", diskImage, disk}), 0);
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
        const QString program = WrappedEncoder(QStringLiteral("touch \"%1\"; sleep 1").arg(started));
        QVERIFY(!program.isEmpty());
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(environment);
        process.start(program, {"--convert", lib, "--output", Path("out"), "--jobs", "1"});
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo::exists(started); }, 20000));
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(20000));
        const QByteArray out = process.readAllStandardOutput();
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(out.count(": done\n"), 1);
        QVERIFY2(out.endsWith("; stopped, 2 not converted\n"), out.constData());
        QVERIFY(process.readAllStandardError().contains("stopping after the files in progress"));
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
            QVERIFY2(line.endsWith(line.contains("long.wav") ? "-threads 2" : "-threads 1"), line.constData());
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
        QVERIFY(argsFile.readAll().trimmed().endsWith("-threads 2"));
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
        // Run again: everything is up to date, nothing is planned.
        const Run again = Vardune({"--plan", lib, "--output", Path("planned"), "--layout", "tags"});
        QCOMPARE(again.status, 0);
        QCOMPARE(again.out.size(), 0);
        QVERIFY2(again.err.contains("0 to convert, 3 up to date"), again.err.constData());
    }
};

VARDUNE_GUI_TEST_MAIN(ConsoleTest)
#include "console_test.moc"
