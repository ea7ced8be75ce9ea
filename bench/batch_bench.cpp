// A whole batch through the status board and its driver, as a user runs it, against a plain
// shell loop of the encoder over the same files; the program's own CPU time while it waits;
// and a long batch of a fake instant encoder for descriptor and memory growth.
//   batch_bench speed [FILES] [SECONDS] [RUNS]   real fastencc beside this program
//   batch_bench leak [ENTRIES]            whatever fastencc lies beside this program
//   batch_bench long [RUNS]               real fastencc: one 10-minute file and three of 60 s
//   batch_bench uptodate [FILES]          real fastencc: a second batch over outputs up to date
//   batch_bench level [FILES] [SECONDS] [RUNS]  real fastencc: a batch with even loudness per
//                                         album against the same batch without
#include "form1.h"
#include "frmmonitor.h"
#include "module1.h"
#include "sandbox.h"
#include "testaudio.h"
#include "vardolistmodel.h"
#include "encoderpool.h"
#include "encoderprogram.h"
#include "waitingforecast.h"
#include "windowbatch.h"

#include <QApplication>
#include <QLabel>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstdlib>
#include <cstdio>
#include <random>

#include <sys/resource.h>

namespace {

double CpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

// A music-like stereo WAV: two voices with vibrato and a little noise.
void WriteMusicWav(const QString& path, double seconds, unsigned seed)
{
    const int rate = 44100;
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0, 0.02);
    WriteWav(path, static_cast<int>(seconds * rate), 2, rate, [&](int i, int channel) {
        const double t = double(i) / rate;
        const double vibrato = 1 + 0.004 * std::sin(2 * M_PI * 5 * t);
        return channel == 0 ? 0.3 * std::sin(2 * M_PI * 220 * vibrato * t) + 0.15 * std::sin(2 * M_PI * 1320 * t) + noise(random)
                            : 0.3 * std::sin(2 * M_PI * 330 * vibrato * t) + 0.1 * std::sin(2 * M_PI * 2640 * t) + noise(random);
    });
}

// An MP3 source at 192 kbit/s of the music-like signal, made by the encoder beside this
// program (with its extra arguments); false when it could not be made.
bool MakeSourceMp3(const QString& mp3, double seconds, unsigned seed, const QStringList& extra = {})
{
    const QString wav = mp3.left(mp3.size() - 4) + QStringLiteral(".wav");
    WriteMusicWav(wav, seconds, seed);
    QProcess make;
    make.setStandardOutputFile(QProcess::nullDevice());
    make.start(EncoderProgram::Folder() + QStringLiteral("/fastencc"),
               QStringList {wav, mp3, QStringLiteral("-br"), QStringLiteral("192000")} + extra);
    const bool made = make.waitForFinished(-1) && make.exitStatus() == QProcess::NormalExit && make.exitCode() == 0;
    QFile::remove(wav);
    return made;
}

int OpenDescriptors()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

long ResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

// Calls back when a timer's event arrives, before the timer's own handlers run: a batch that
// ends inside the board's start handler (every output up to date) is still timed from its start.
class TimerStart : public QObject {
public:
    explicit TimerStart(std::function<void()> started) : started_(std::move(started)) {}
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Timer && started_) {
            started_();
            started_ = nullptr;
        }
        return false;
    }

private:
    std::function<void()> started_;
};

struct BatchRun {
    double wallSeconds = 0;  // from the batch's start (the board's start timer) to its end
    double ownCpu = 0;       // this process
    double encoderCpu = 0;   // the encoders it started
};

// Adds the files to the list and runs one batch through the main window's Vardo command.
BatchRun RunBatch(Form1& form, const QStringList& files)
{
    std::vector<std::pair<std::string, std::string>> entries;
    for (const QString& file : files)
        entries.emplace_back(Module1::FromQt(file), vardune::VardoList::GetFileSize(Module1::FromQt(file)));
    form.ListModel->Append(entries);

    BatchRun run;
    QElapsedTimer clock;
    double ownAtStart = 0, childrenAtStart = 0;
    bool over = false;
    form.ButtonClick(QStringLiteral("Vardo"));
    frmMonitor* board = form.findChild<frmMonitor*>();
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<frmMonitor*>(window); b && b->isVisible())
            board = b;
    TimerStart start([&] {
        clock.start();
        ownAtStart = CpuSeconds(RUSAGE_SELF);
        childrenAtStart = CpuSeconds(RUSAGE_CHILDREN);
    });
    board->Timer2->installEventFilter(&start);
    QObject::connect(board, &QObject::destroyed, [&] { over = true; });
    while (!over)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    run.wallSeconds = clock.elapsed() / 1000.0;
    // The driver and the last encoder's process object go with the next turn of the event
    // loop; let it come before anything is counted.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    run.ownCpu = CpuSeconds(RUSAGE_SELF) - ownAtStart;
    run.encoderCpu = CpuSeconds(RUSAGE_CHILDREN) - childrenAtStart;
    return run;
}

// The sample rate of an MP3 file's first frame (after its ID3v2 tag), or 0.
int Mp3SampleRate(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray bytes = file.read(1 << 20);
    qsizetype at = 0;
    if (bytes.startsWith("ID3") && bytes.size() > 10)
        at = 10 + ((bytes[6] & 0x7f) << 21 | (bytes[7] & 0x7f) << 14 | (bytes[8] & 0x7f) << 7 | (bytes[9] & 0x7f));
    for (; at + 3 < bytes.size(); ++at) {
        const auto b1 = quint8(bytes[at + 1]), b2 = quint8(bytes[at + 2]);
        if (quint8(bytes[at]) != 0xFF || (b1 & 0xE0) != 0xE0 || ((b2 >> 2) & 3) == 3)
            continue;
        const int version = (b1 >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
        const int base[] = {44100, 48000, 32000};
        const int rate = base[(b2 >> 2) & 3];
        return version == 3 ? rate : version == 2 ? rate / 2 : rate / 4;
    }
    return 0;
}

// Runs a shell command over the files; its wall seconds and the CPU of what it started.
struct ShellRun {
    double wallSeconds = 0;
    double cpu = 0;
};
ShellRun RunShell(const QString& script, const QStringList& files)
{
    const double childrenAtStart = CpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer clock;
    clock.start();
    if (QProcess::execute(QStringLiteral("sh"), QStringList{QStringLiteral("-c"), script, QStringLiteral("sh")} + files) != 0) {
        std::fprintf(stderr, "bench: this failed: %s\n", qPrintable(script));
        std::exit(1);
    }
    return {clock.elapsed() / 1000.0, CpuSeconds(RUSAGE_CHILDREN) - childrenAtStart};
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int Done(const Form1& form)
{
    int done = 0;
    for (const auto& e : form.ListModel->List().Entries())
        done += e.state == vardune::EntryState::Done;
    return done;
}

// The batch as a user runs it: MP3 sources at 192 kbit/s, the default quality (96 kbit/s
// stereo). With one encoder at a time against a shell loop of fastencc, and with one encoder
// per core against ffmpeg and libmp3lame run on every core at once, at the same bitrate and
// the output sample rate that fastencc picks, so both do the same work.
int Speed(Form1& form, const QString& work, int count, double seconds, int runs)
{
    const QString encoder = EncoderProgram::Folder() + QStringLiteral("/fastencc");
    QStringList files;
    for (int i = 0; i < count; ++i) {
        files << work + QStringLiteral("/song%1.mp3").arg(i, 2, 10, QLatin1Char('0'));
        if (!MakeSourceMp3(files.last(), seconds, static_cast<unsigned>(i)))
            return 1;
    }
    QDir(work).mkpath(QStringLiteral("loop"));
    QDir(work).mkpath(QStringLiteral("peer"));
    RunShell(QStringLiteral("\"%1\" \"$1\" \"%2/loop/probe.mp3\" -br 96000 >/dev/null").arg(encoder, work), files.mid(0, 1));
    const int rate = Mp3SampleRate(work + QStringLiteral("/loop/probe.mp3"));
    const int cores = form.Batch->Pool().Limit();

    // Each run from an empty folder: outputs of the run before would be up to date, and skipped.
    // One encoder on one core, as the one-at-a-time batch runs it.
    const QString loop = QStringLiteral("rm -f \"%2\"/loop/V_*; for f in \"$@\"; do \"%1\" \"$f\" \"%2/loop/V_${f##*/}\" -br 96000 -threads 1 >/dev/null || exit 1; done")
                             .arg(encoder, work);
    const QString peer = QStringLiteral("printf '%s\\0' \"$@\" | xargs -0 -P %1 -I{} sh -c "
                                        "'ffmpeg -nostdin -v error -y -i \"$1\" -c:a libmp3lame -b:a 96k -ar %2 \"%3/peer/V_${1##*/}\"' sh {}")
                             .arg(cores).arg(rate).arg(work);
    const bool havePeer = QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("command -v ffmpeg >/dev/null")}) == 0;
    // The same batch from the command line, with no display, when the program is built beside.
    const QString console = QCoreApplication::applicationDirPath() + QStringLiteral("/vardune");
    const bool haveConsole = QFileInfo(console).isExecutable();
    int consoleRuns = 0;

    // Alternated, so a change of load on the machine hits all of them alike.
    std::vector<double> loopWall, oneWall, allWall, peerWall, peerCpu, allCpu, ownShare, consoleWall, consoleCpu;
    int converted = 0, batches = 0;
    for (int run = 0; run < runs; ++run) {
        loopWall.push_back(RunShell(loop, files).wallSeconds);
        for (const char* jobs : {"1", ""}) {
            Module1::settings().jobs = jobs;
            const QString out = work + QStringLiteral("/batch%1").arg(++batches);
            QDir(work).mkpath(out);
            form.Text1->setText(out);
            form.ListModel->Clear();
            const BatchRun batch = RunBatch(form, files);
            converted += Done(form);
            (*jobs ? oneWall : allWall).push_back(batch.wallSeconds);
            if (!*jobs) {
                allCpu.push_back(batch.encoderCpu);
                ownShare.push_back(batch.ownCpu / batch.encoderCpu * 100);
            }
        }
        if (haveConsole) {
            const QString command = QStringLiteral("env -u DISPLAY -u QT_QPA_PLATFORM \"%1\" --convert \"$@\" --output \"%2/console%3\" >/dev/null")
                                        .arg(console, work).arg(++consoleRuns);
            const ShellRun c = RunShell(command, files);
            consoleWall.push_back(c.wallSeconds);
            consoleCpu.push_back(c.cpu);
        }
        if (havePeer) {
            const ShellRun p = RunShell(peer, files);
            peerWall.push_back(p.wallSeconds);
            peerCpu.push_back(p.cpu);
        }
    }

    std::printf("%d MP3 files of %.0f s (192 kbit/s) to 96 kbit/s stereo at %d Hz; %d cores; median of %d runs\n",
                count, seconds, rate, cores, runs);
    std::printf("shell loop of fastencc:                %7.2f s\n", Median(loopWall));
    std::printf("batch, one encoder at a time:          %7.2f s  overhead %+5.1f %% (aim: at most 3 %%)\n",
                Median(oneWall), (Median(oneWall) / Median(loopWall) - 1) * 100);
    std::printf("batch, %2d encoders at once:            %7.2f s  encoders' CPU %.2f s\n", cores, Median(allWall), Median(allCpu));
    if (haveConsole) {
        std::printf("vardune --convert, %2d encoders at once: %7.2f s  its CPU %.2f s\n", cores, Median(consoleWall), Median(consoleCpu));
        std::printf("vardune --convert / the window's batch: %7.2f (aim: 1.00 within noise)\n", Median(consoleWall) / Median(allWall));
    }
    if (havePeer) {
        std::printf("ffmpeg + libmp3lame, xargs -P %-2d:      %7.2f s  its CPU %.2f s\n", cores, Median(peerWall), Median(peerCpu));
        std::printf("batch / ffmpeg on every core:          %7.2f (aim: at most 0.90)\n", Median(allWall) / Median(peerWall));
        if (haveConsole)
            std::printf("vardune --convert / ffmpeg:            %7.2f\n", Median(consoleWall) / Median(peerWall));
    }
    std::printf("vardune CPU during the parallel batch: %7.2f %% of its encoders' CPU (aim: at most 2 %%)\n", Median(ownShare));
    return converted == 2 * runs * count ? 0 : 1;
}

// One long file among short ones, through the real window on every core: a 10-minute MP3 and
// three of 60 s, against ffmpeg and libmp3lame run on every core at once (each file on one).
int LongFile(Form1& form, const QString& work, int runs)
{
    const QString encoder = EncoderProgram::Folder() + QStringLiteral("/fastencc");
    QStringList files;
    const double lengths[] = {600, 60, 60, 60};
    for (int i = 0; i < 4; ++i) {
        files << work + QStringLiteral("/piece%1.mp3").arg(i);
        if (!MakeSourceMp3(files.last(), lengths[i], static_cast<unsigned>(i)))
            return 1;
    }
    QDir(work).mkpath(QStringLiteral("peer"));
    RunShell(QStringLiteral("\"%1\" \"$1\" \"%2/peer/probe.mp3\" -br 96000 -threads 1 >/dev/null").arg(encoder, work), files.mid(1, 1));
    const int rate = Mp3SampleRate(work + QStringLiteral("/peer/probe.mp3"));
    const int cores = form.Batch->Pool().Limit();
    const QString peer = QStringLiteral("printf '%s\\0' \"$@\" | xargs -0 -P %1 -I{} sh -c "
                                        "'ffmpeg -nostdin -v error -y -i \"$1\" -c:a libmp3lame -b:a 96k -ar %2 \"%3/peer/V_${1##*/}\"' sh {}")
                             .arg(cores).arg(rate).arg(work);
    std::vector<double> batchWall, peerWall;
    int converted = 0;
    for (int run = 0; run < runs; ++run) {
        Module1::settings().jobs = "";
        const QString out = work + QStringLiteral("/long%1").arg(run);
        QDir(work).mkpath(out);
        form.Text1->setText(out);
        form.ListModel->Clear();
        batchWall.push_back(RunBatch(form, files).wallSeconds);
        converted += Done(form);
        peerWall.push_back(RunShell(peer, files).wallSeconds);
    }
    std::printf("a 10-minute MP3 and three of 60 s (192 kbit/s) to 96 kbit/s at %d Hz; %d cores; median of %d runs\n", rate, cores, runs);
    std::printf("batch on every core:                   %7.2f s\n", Median(batchWall));
    std::printf("ffmpeg + libmp3lame, xargs -P %-2d:      %7.2f s\n", cores, Median(peerWall));
    std::printf("batch / ffmpeg on every core:          %7.2f (aim: at most 0.72)\n", Median(batchWall) / Median(peerWall));
    return converted == 4 * runs ? 0 : 1;
}

int Leak(Form1& form, const QString& work, int count)
{
    QStringList files;
    for (int i = 0; i < count; ++i) {
        files << work + QStringLiteral("/f%1.mp3").arg(i, 5, 10, QLatin1Char('0'));
        QFile file(files.last());
        file.open(QIODevice::WriteOnly);
        file.write("x");
    }
    QDir(work).mkpath(QStringLiteral("out"));
    form.Text1->setText(work + QStringLiteral("/out"));
    // A first batch settles caches and pools, so what follows is growth, not warm-up.
    RunBatch(form, files.mid(0, 100));
    const int fdsBefore = OpenDescriptors();
    const long rssBefore = ResidentKiB();
    const BatchRun run = RunBatch(form, files.mid(100));
    const int fdsAfter = OpenDescriptors();
    const long rssAfter = ResidentKiB();
    int recorded = 0;
    for (const auto& e : form.ListModel->List().Entries())
        recorded += e.state != vardune::EntryState::Waiting;
    std::printf("%d entries through an instant encoder in %.1f s, %d recorded\n", count - 100, run.wallSeconds, recorded - 100);
    std::printf("open descriptors: %d before, %d after\n", fdsBefore, fdsAfter);
    std::printf("resident memory:  %ld KiB before, %ld KiB after (%+ld KiB, the list itself grew by %d entries)\n",
                rssBefore, rssAfter, rssAfter - rssBefore, count - 100);
    return fdsAfter == fdsBefore && recorded == count ? 0 : 1;
}

// A collection converted once, then taken up again unchanged: every output is up to date, so
// the second batch encodes nothing. Times the second batch from Vardo to the board's close,
// and a shell loop of fastencc over the same outputs, one after the other, per file.
int UpToDate(Form1& form, const QString& work, int count)
{
    QStringList files;
    QDir(work).mkpath(QStringLiteral("music"));
    for (int i = 0; i < count; ++i) {
        files << work + QStringLiteral("/music/song%1.wav").arg(i, 5, 10, QLatin1Char('0'));
        WriteMusicWav(files.last(), 0.2, static_cast<unsigned>(i));
    }
    const QString out = work + QStringLiteral("/out");
    QDir(work).mkpath(QStringLiteral("out"));
    form.Text1->setText(out);
    const BatchRun first = RunBatch(form, files);
    const int converted = Done(form);
    const BatchRun second = RunBatch(form, files);
    const QString summary = form.StatusPanel->text();
    const int done = Done(form) - converted;

    const QString encoder = EncoderProgram::Folder() + QStringLiteral("/fastencc");
    const QString loop = QStringLiteral("for f in \"$@\"; do \"%1\" \"$f\" \"%2/V_${f##*/}.MP3\" >/dev/null 2>&1 || exit 1; done")
                             .arg(encoder, out);
    const QString empty = QStringLiteral("for f in \"$@\"; do /bin/true \"$f\" || exit 1; done");
    std::vector<double> loopWall, loopCpu, trueWall;
    for (int run = 0; run < 3; ++run) {
        const ShellRun r = RunShell(loop, files);
        loopWall.push_back(r.wallSeconds);
        loopCpu.push_back(r.cpu);
        trueWall.push_back(RunShell(empty, files).wallSeconds);
    }
    std::printf("%d WAV files of 0.2 s, converted once (%d converted, %.1f s), then again unchanged; %d cores\n",
                count, converted, first.wallSeconds, form.Batch->Pool().Limit());
    std::printf("second batch, start to the board's close: %7.2f s (%.2f ms per file; encoders' CPU %.2f s), \"%s\"\n",
                second.wallSeconds, second.wallSeconds * 1000 / count, second.encoderCpu, qPrintable(summary));
    std::printf("shell loop of fastencc over them:         %7.2f s (%.2f ms per file, CPU %.2f ms per file), median of 3\n",
                Median(loopWall), Median(loopWall) * 1000 / count, Median(loopCpu) * 1000 / count);
    std::printf("shell loop of /bin/true, for scale:       %7.2f s (%.2f ms per file)\n", Median(trueWall),
                Median(trueWall) * 1000 / count);
    return converted == count && done == count && summary.startsWith(QStringLiteral("0 done, %1 up to date").arg(count)) ? 0 : 1;
}

// Even loudness per album against none: the same MP3s (three albums, each in a folder of its
// own, at three levels) converted by the batch on every core, alternated; then the measuring
// pass alone, one `fastencc --loudness` over all files.
int Level(Form1& form, const QString& work, int count, double seconds, int runs)
{
    const QString encoder = EncoderProgram::Folder() + QStringLiteral("/fastencc");
    QStringList files;
    for (int i = 0; i < count; ++i) {
        const QString album = work + QStringLiteral("/album%1").arg(i % 3);
        QDir().mkpath(album);
        files << album + QStringLiteral("/song%1.mp3").arg(i, 2, 10, QLatin1Char('0'));
        // Albums at three levels: as it is, 10 dB down, and a louder one (its gain below 0).
        const QString gain = QString::number(i % 3 == 0 ? 0 : i % 3 == 1 ? -10 : 4);
        if (!MakeSourceMp3(files.last(), seconds, static_cast<unsigned>(i), {QStringLiteral("-gain"), gain}))
            return 1;
    }
    Module1::settings().jobs.clear();
    std::vector<double> plain, levelled, plainCpu, levelledCpu, ahead, aheadCpu, aheadWait;
    int converted = 0, batches = 0;
    for (int run = 0; run < runs; ++run) {
        for (const char* mode : {"", "album"}) {
            Module1::settings().evenLoudness = mode;
            const QString out = work + QStringLiteral("/batch%1").arg(++batches);
            QDir(work).mkpath(out);
            form.Text1->setText(out);
            form.ListModel->Clear();
            const BatchRun batch = RunBatch(form, files);
            converted += Done(form);
            (*mode ? levelled : plain).push_back(batch.wallSeconds);
            (*mode ? levelledCpu : plainCpu).push_back(batch.encoderCpu);
        }
        // As a user meets it: the files are added, measured beside the window while the
        // options and the output folder are chosen, and the batch starts afterwards.
        Module1::settings().evenLoudness = "album";
        const QString out = work + QStringLiteral("/batch%1").arg(++batches);
        QDir(work).mkpath(out);
        form.Text1->setText(out);
        form.ListModel->Clear();
        std::vector<std::pair<std::string, std::string>> entries;
        for (const QString& file : files)
            entries.emplace_back(Module1::FromQt(file), vardune::VardoList::GetFileSize(Module1::FromQt(file)));
        QElapsedTimer waited;
        waited.start();
        form.ListModel->Append(entries);
        form.Waiting->ShowForecast();
        const auto measured = [&form] {
            for (const auto& e : form.ListModel->List().Entries())
                if (!form.Waiting->MeasuredAhead(e.id))
                    return false;
            return true;
        };
        while (!measured())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        aheadWait.push_back(waited.elapsed() / 1000.0);
        const BatchRun batch = RunBatch(form, {});
        converted += Done(form);
        ahead.push_back(batch.wallSeconds);
        aheadCpu.push_back(batch.encoderCpu);
    }
    Module1::settings().evenLoudness.clear();
    QString list;
    for (const QString& f : files)
        list += f + QLatin1Char('\0');
    QFile listFile(work + QStringLiteral("/list"));
    listFile.open(QIODevice::WriteOnly);
    listFile.write(list.toUtf8());
    listFile.close();
    const ShellRun measure = RunShell(QStringLiteral("\"%1\" --loudness < \"%2/list\" >/dev/null").arg(encoder, work), {});

    std::printf("%d MP3 files of %.0f s (192 kbit/s, 3 albums) to 96 kbit/s stereo; %d cores; median of %d runs\n",
                count, seconds, form.Batch->Pool().Limit(), runs);
    std::printf("batch without levelling:           %7.2f s  encoders' CPU %.2f s\n", Median(plain), Median(plainCpu));
    std::printf("batch with even loudness per album, started as the files are added: %6.2f s  encoders' CPU %.2f s  extra %+5.1f %%\n",
                Median(levelled), Median(levelledCpu), (Median(levelled) / Median(plain) - 1) * 100);
    std::printf("batch with even loudness per album, measured beside the window first (%.2f s): %6.2f s  encoders' CPU %.2f s  "
                "extra %+5.1f %% (aim: at most 10 %%)\n",
                Median(aheadWait), Median(ahead), Median(aheadCpu), (Median(ahead) / Median(plain) - 1) * 100);
    std::printf("the measuring pass alone, one process: %.2f s wall, %.2f s CPU\n", measure.wallSeconds, measure.cpu);
    return converted == 3 * runs * count ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir sandbox;
    EnterSandbox(sandbox.path());
    QApplication app(argc, argv);
    Module1::Test::SetEndProcessHandler([] {});
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(1, QStringLiteral("speed"));

    Form1 form;
    form.InitForm();
    int result = 0;
    if (mode == QLatin1String("leak"))
        result = Leak(form, sandbox.path(), args.value(2, QStringLiteral("2100")).toInt());
    else if (mode == QLatin1String("level"))
        result = Level(form, sandbox.path(), args.value(2, QStringLiteral("12")).toInt(), args.value(3, QStringLiteral("60")).toDouble(),
                       args.value(4, QStringLiteral("3")).toInt());
    else if (mode == QLatin1String("long"))
        result = LongFile(form, sandbox.path(), args.value(2, QStringLiteral("3")).toInt());
    else if (mode == QLatin1String("uptodate"))
        result = UpToDate(form, sandbox.path(), args.value(2, QStringLiteral("1000")).toInt());
    else
        result = Speed(form, sandbox.path(), args.value(2, QStringLiteral("12")).toInt(), args.value(3, QStringLiteral("60")).toDouble(),
                       args.value(4, QStringLiteral("3")).toInt());
    QFile::remove(Module1::ConfigFilePath());
    Module1::Test::ReleaseInstanceLock();
    return result;
}
