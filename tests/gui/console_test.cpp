// The command line's batch, run as the real program with the real encoder and no display,
// against a small library the test writes; and the window's batch on the same files.
#include "batchwindow.h"
#include "guitestmain.h"
#include "testaudio.h"

#include "outputlayout.h"
#include "sizeforecast.h"

#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QRegularExpression>

#include <cmath>
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

    // Every file below folder: its path below it, with its size and bytes.
    static QMap<QString, QByteArray> Tree(const QString& folder)
    {
        QMap<QString, QByteArray> files;
        QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
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
        const QString mount = QStringLiteral("mkfs.vfat '%1' && fusefat -o rw+ '%1' '%2'").arg(image, card);
        if (QProcess::execute(QStringLiteral("sh"), {"-c", mount + " >/dev/null 2>&1"}) != 0)
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
                                      << QStringList {"Album/one.mp3", "Album/two.mp3", "Case/Ärger.mp3", "Case/ärger (2).mp3",
                                                      "Loose/tone.mp3"};
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
        form_->ListModel->Append(files, Module1::FromQt(lib));
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
        QVERIFY(planned.value(lib + QString::fromUtf8("/Émile Café/Crème.wav")).first.endsWith("/music/Emile Cafe/Creme.mp3"));
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
        // Run again: everything is up to date, nothing is planned.
        const Run again = Vardune({"--plan", lib, "--output", Path("planned"), "--layout", "tags"});
        QCOMPARE(again.status, 0);
        QCOMPARE(again.out.size(), 0);
        QVERIFY2(again.err.contains("0 to convert, 3 up to date"), again.err.constData());
    }
};

VARDUNE_GUI_TEST_MAIN(ConsoleTest)
#include "console_test.moc"
