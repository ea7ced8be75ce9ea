#include "module1.h"

#include "installlayout.h"
#include "keptfile.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QUrl>
#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QProcess>
#include <QFileDialog>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QAbstractButton>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <memory>
#include <random>

#include <unistd.h>

// The pictures live in the window library; a static library's resources must be registered
// by hand, once.
static void RegisterResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(resources);
        Q_INIT_RESOURCE(artwork);
        return true;
    }();
    (void)done;
}

namespace Module1 {

void LoadResources()
{
    RegisterResources();
}

namespace {

struct TestAnswers {
    std::vector<QMessageBox::StandardButton> messageAnswers;
    std::vector<MessageRequest> askedMessages;
    std::vector<QString> folderAnswers;
    QStringList folderTitles;
    QStringList folderStarts;
    std::function<void()> endProcess;
    std::function<float()> random;
    bool captureWebPages = false;
    QStringList openedWebPages;
    bool captureDesktop = false;
    QStringList desktopRequests;
};

TestAnswers& testAnswers()
{
    static TestAnswers answers;
    return answers;
}

std::unique_ptr<QLockFile>& instanceLock()
{
    static std::unique_ptr<QLockFile> lock;
    return lock;
}

} // namespace

vardune::Settings& settings()
{
    static vardune::Settings s;
    return s;
}

float Random()
{
    if (testAnswers().random)
        return testAnswers().random();
    static std::mt19937 generator;
    // 24 random bits make every float of [0, 1) on a 2^-24 grid, and never 1.
    return static_cast<float>(generator() >> 8) * (1.0f / 16777216.0f);
}

QString& helpFile()
{
    static QString path;
    return path;
}

QString ProgramFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString DefaultFolder()
{
    return QDir::homePath() + QDir::separator();
}

static vardune::InstallLayout Layout()
{
    return vardune::InstallLayout(FromQt(ProgramFolder()));
}

QString ManualFile()
{
    return ToQt(Layout().ManualFolder()) + QDir::separator() + QLatin1String(vardune::InstallLayout::ManualName());
}

QString ConfigFilePath()
{
    // An installed copy never writes beside itself: root could, and would leave settings in
    // the system's program folder.
    if (!Layout().Installed() && QFileInfo(ProgramFolder()).isWritable())
        return ProgramFolder() + QDir::separator() + QStringLiteral("Vardune.ini");
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(folder);
    return folder + QDir::separator() + QStringLiteral("Vardune.ini");
}

QString VardoListFilePath()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/VardoList.txt");
}

QString CarriedPlaylistsFilePath()
{
    const QString list = VardoListFilePath();
    return list.isEmpty() ? QString() : QFileInfo(list).path() + QStringLiteral("/CarriedPlaylists.txt");
}

std::string ReadConfig()
{
    std::string refused;
    settings() = vardune::ReadConfig(FromQt(ConfigFilePath()), FromQt(DefaultFolder()), &refused);
    return refused;
}

QString SetAside(const QString& path)
{
    return ToQt(vardune::KeptFile::SetAside(FromQt(path), std::time(nullptr)));
}

void WriteConfig(const QString& sourceFolder)
{
    settings().sourceFolder = FromQt(sourceFolder);
    vardune::WriteConfig(FromQt(ConfigFilePath()), settings());
}

QString InstanceFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder.isEmpty() ? QDir::tempPath() : folder;
}

bool PrevInstance()
{
    auto& lock = instanceLock();
    auto candidate = std::make_unique<QLockFile>(InstanceFolder() + QStringLiteral("/vardune-instance.lock"));
    // A running instance holds its lock however long it runs; only a lock whose process has
    // died counts as stale, which QLockFile checks by the process id.
    candidate->setStaleLockTime(0);
    if (!candidate->tryLock(0))
        return true;
    lock = std::move(candidate);
    return false;
}

QMessageBox::StandardButton MsgBox(QWidget* parent, const MessageRequest& request)
{
    auto& answers = testAnswers();
    if (!answers.messageAnswers.empty()) {
        answers.askedMessages.push_back(request);
        const auto answer = answers.messageAnswers.front();
        answers.messageAnswers.erase(answers.messageAnswers.begin());
        return answer;
    }
    QMessageBox box(request.icon, request.title, request.text, request.buttons, parent);
    if (request.defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(request.defaultButton);
    for (auto text = request.buttonTexts.begin(); text != request.buttonTexts.end(); ++text)
        if (QAbstractButton* button = box.button(text.key()))
            button->setText(text.value());
    if (!request.details.isEmpty()) {
        box.setDetailedText(request.details);
        // Open from the start: the list is what the question is about.
        for (QAbstractButton* button : box.buttons())
            if (box.buttonRole(button) == QMessageBox::ActionRole) {
                QTimer::singleShot(0, button, &QAbstractButton::click);
                break;
            }
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString BrowseForFolder(QWidget* owner, const QString& title, const QString& start)
{
    auto& answers = testAnswers();
    if (!answers.folderAnswers.empty()) {
        answers.folderTitles << title;
        answers.folderStarts << start;
        const QString answer = answers.folderAnswers.front();
        answers.folderAnswers.erase(answers.folderAnswers.begin());
        return answer;
    }
    return QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
}

void OpenWebPage(const QString& url)
{
    if (testAnswers().captureWebPages) {
        testAnswers().openedWebPages << url;
        return;
    }
    QDesktopServices::openUrl(QUrl(url));
}

namespace {

// The desktop's opener said within this time that it could not open the file; one that ends
// with a failure later has run a program for it, whose own ending is no concern of ours.
constexpr qint64 kOpenerVerdictMs = 15000;

// Opens a local file or folder with the desktop's program for it; failed runs, later or at
// once, when there is none. xdg-open, where it is installed, is started and watched: its exit
// status tells when it found no program (it is what the desktop itself would run). Without
// it, Qt's own way to the desktop is asked, which says only whether it could start anything.
void OpenWithDesktop(const QString& path, const std::function<void()>& failed)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
            failed();
        return;
    }
    auto* process = new QProcess;
    process->setProgram(opener);
    process->setArguments({path});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    auto clock = std::make_shared<QElapsedTimer>();
    QObject::connect(process, &QProcess::finished, [process, clock, failed](int code, QProcess::ExitStatus status) {
        if ((status != QProcess::NormalExit || code != 0) && clock->elapsed() < kOpenerVerdictMs)
            failed();
        process->deleteLater();
    });
    QObject::connect(process, &QProcess::errorOccurred, [process, failed](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        failed();
        process->deleteLater();
    });
    clock->start();
    process->start();
}

// The message for a file or folder the desktop cannot open, over owner while it is there.
std::function<void()> NoOpener(QWidget* owner, const QString& text)
{
    QPointer<QWidget> over(owner);
    return [over, text] {
        MsgBox(over, {text, QStringLiteral("No Program to Open It"), QMessageBox::Information, QMessageBox::Ok,
                      QMessageBox::NoButton});
    };
}

} // namespace

void OpenFile(QWidget* owner, const QString& path)
{
    if (testAnswers().captureDesktop) {
        testAnswers().desktopRequests << QStringLiteral("open ") + path;
        return;
    }
    OpenWithDesktop(path, NoOpener(owner, QStringLiteral("The desktop has no program to open ")
                                              + QDir::toNativeSeparators(path)
                                              + QStringLiteral(" with. Open it from your player's or file manager's own window.")));
}

void ShowInFolder(QWidget* owner, const QString& path)
{
    if (testAnswers().captureDesktop) {
        testAnswers().desktopRequests << QStringLiteral("show ") + path;
        return;
    }
    // The file managers' shared interface picks the file out in its folder; where no file
    // manager answers on the session bus, the folder itself opens.
    const QString folder = QFileInfo(path).absolutePath();
    const auto failed = NoOpener(owner, QStringLiteral("The desktop has no file manager to show ")
                                            + QDir::toNativeSeparators(path) + QStringLiteral(" in. It is in the folder ")
                                            + QDir::toNativeSeparators(folder) + QLatin1Char('.'));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        OpenWithDesktop(folder, failed);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("/org/freedesktop/FileManager1"),
                                                       QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    // Answered later, never waited for: the window goes on while the bus looks for a file manager.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [folder, failed](QDBusPendingCallWatcher* done) {
        if (done->isError())
            OpenWithDesktop(folder, failed);
        done->deleteLater();
    });
}

QString VendorSite()
{
    return QStringLiteral(VARDUNE_VENDOR_SITE);
}

void EndProcess()
{
    if (testAnswers().endProcess) {
        testAnswers().endProcess();
        return;
    }
    std::fflush(nullptr);
    // At once: no other window's close code runs, and a running encoder is left to finish.
    ::_exit(0);
}

namespace Test {

void SetNextMessageAnswer(QMessageBox::StandardButton answer)
{
    testAnswers().messageAnswers.push_back(answer);
}

std::vector<MessageRequest> TakeAskedMessages()
{
    return std::exchange(testAnswers().askedMessages, {});
}

void SetNextFolderAnswer(const QString& folder)
{
    testAnswers().folderAnswers.push_back(folder);
}

QStringList TakeFolderTitles()
{
    return std::exchange(testAnswers().folderTitles, {});
}

QStringList TakeFolderStarts()
{
    return std::exchange(testAnswers().folderStarts, {});
}

void SetEndProcessHandler(std::function<void()> handler)
{
    testAnswers().endProcess = std::move(handler);
}

void CaptureWebPages(bool capture)
{
    testAnswers().captureWebPages = capture;
}

QStringList TakeOpenedWebPages()
{
    return std::exchange(testAnswers().openedWebPages, {});
}

void CaptureDesktopRequests(bool capture)
{
    testAnswers().captureDesktop = capture;
}

QStringList TakeDesktopRequests()
{
    return std::exchange(testAnswers().desktopRequests, {});
}

void SetRandom(std::function<float()> random)
{
    testAnswers().random = std::move(random);
}

void ReleaseInstanceLock()
{
    instanceLock().reset();
}

} // namespace Test

} // namespace Module1
