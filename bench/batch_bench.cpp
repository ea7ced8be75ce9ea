// A whole batch through the status board and its driver, as a user runs it, against a plain
// shell loop of the encoder over the same files; the program's own CPU time while it waits;
// and a long batch of a fake instant encoder for descriptor and memory growth.
//   batch_bench speed [FILES] [SECONDS]   real fastencc beside this program
//   batch_bench leak [ENTRIES]            whatever fastencc lies beside this program
#include "form1.h"
#include "frmmonitor.h"
#include "module1.h"
#include "sandbox.h"
#include "testaudio.h"
#include "vardolistmodel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cmath>
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
    QObject::connect(board->Timer2, &QTimer::timeout, board, [&] {
        clock.start();
        ownAtStart = CpuSeconds(RUSAGE_SELF);
        childrenAtStart = CpuSeconds(RUSAGE_CHILDREN);
    }, Qt::DirectConnection);
    QObject::connect(board, &QObject::destroyed, [&] { over = true; });
    // Connected after the board's own handler, so this runs once the batch has started.
    while (!over)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    run.wallSeconds = clock.elapsed() / 1000.0;
    run.ownCpu = CpuSeconds(RUSAGE_SELF) - ownAtStart;
    run.encoderCpu = CpuSeconds(RUSAGE_CHILDREN) - childrenAtStart;
    return run;
}

int Speed(Form1& form, const QString& work, int count, double seconds)
{
    QStringList files;
    for (int i = 0; i < count; ++i) {
        files << work + QStringLiteral("/song%1.wav").arg(i, 2, 10, QLatin1Char('0'));
        WriteMusicWav(files.last(), seconds, static_cast<unsigned>(i));
    }
    QDir(work).mkpath(QStringLiteral("loop"));
    QDir(work).mkpath(QStringLiteral("batch"));
    const QString encoder = Module1::ProgramFolder() + QStringLiteral("/fastencc");

    // The plain loop, as a user would type it in a shell.
    QString script = QStringLiteral("for f in \"$@\"; do \"%1\" \"$f\" \"%2/loop/V_${f##*/}.MP3\" -br 96000 >/dev/null || exit 1; done")
                         .arg(encoder, work);
    QElapsedTimer loopClock;
    loopClock.start();
    if (QProcess::execute(QStringLiteral("sh"), QStringList{QStringLiteral("-c"), script, QStringLiteral("sh")} + files) != 0) {
        std::fprintf(stderr, "the shell loop failed\n");
        return 1;
    }
    const double loopSeconds = loopClock.elapsed() / 1000.0;

    form.Text1->setText(work + QStringLiteral("/batch"));
    const BatchRun run = RunBatch(form, files);
    int done = 0;
    for (const auto& e : form.ListModel->List().Entries())
        done += e.state == vardune::EntryState::Done;

    std::printf("%d files of %.0f s, 96 kbit/s stereo, %d converted by the batch\n", count, seconds, done);
    std::printf("shell loop of fastencc:           %7.2f s\n", loopSeconds);
    std::printf("batch through the status board:   %7.2f s (after its designed 1 s start delay)\n", run.wallSeconds);
    std::printf("batch overhead:                   %+6.1f %% (aim: at most 3 %%)\n", (run.wallSeconds / loopSeconds - 1) * 100);
    std::printf("vardune CPU during the batch:     %7.3f s = %.2f %% of the encoders' %.2f s (aim: at most 2 %%)\n",
                run.ownCpu, run.ownCpu / run.encoderCpu * 100, run.encoderCpu);
    return done == count ? 0 : 1;
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
    else
        result = Speed(form, sandbox.path(), args.value(2, QStringLiteral("20")).toInt(), args.value(3, QStringLiteral("30")).toDouble());
    QFile::remove(Module1::ConfigFilePath());
    Module1::Test::ReleaseInstanceLock();
    return result;
}
