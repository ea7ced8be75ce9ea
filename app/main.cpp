#include "consolebatch.h"
#include "form1.h"
#include "frmstartup.h"
#include "module1.h"
#include "shutdownsignals.h"

#include "consolecommand.h"
#include "standardoutput.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

// The entry point: the splash, the main window and its event loop; or, asked on the command
// line, a batch without a window, or the answer to --help or --version.

namespace {

// The answer to --help or --version, on standard output; a failed write is said, and the
// status says so.
int Answer(const std::string& text)
{
    const std::string why = vardune::StandardOutput::WriteAndClose(text);
    if (why.empty())
        return 0;
    std::fprintf(stderr, "vardune: cannot write to standard output: %s\n", why.c_str());
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    std::string error;
    std::vector<std::string> files;
    switch (vardune::ConsoleCommand::Classify(std::vector<std::string>(argv + 1, argv + argc), error, &files)) {
    case vardune::ConsoleCommand::Request::Help:
        return Answer(vardune::ConsoleCommand::Help());
    case vardune::ConsoleCommand::Request::Version:
        return Answer(std::string("Vardune ") + Module1::kVersion + "\n");
    case vardune::ConsoleCommand::Request::Usage:
        // Before any window or display: an option that is not the window's never opens it.
        std::fprintf(stderr, "vardune: %s\n%s", error.c_str(), vardune::ConsoleCommand::Usage());
        return ConsoleBatch::kUsage;
    case vardune::ConsoleCommand::Request::Batch:
        // A batch from the command line runs without the window, the display and the lock.
        return ConsoleBatch::Main(argc, argv);
    case vardune::ConsoleCommand::Request::Window:
        break;
    }
    QApplication app(argc, argv);
    // The name only: a display name would be appended to every window's title on the taskbar.
    QApplication::setApplicationName(QStringLiteral("Vardune"));
    Module1::LoadResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/vardune.svg")));

    frmStartUp splash;
    splash.show();
    splash.repaint();
    QApplication::processEvents();

    Form1 form(&splash);
    // Files and folders named (a file manager's "Open With"), as this folder reads them, by
    // the bytes the file system names them by.
    QByteArrayList given;
    for (const std::string& file : files) {
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(file, error);
        if (!error)
            given << QByteArray::fromStdString(absolute.lexically_normal().string());
    }
    form.AddGivenPaths(given);
    ShutdownSignals shutdownSignals;
    QObject::connect(&shutdownSignals, &ShutdownSignals::Received, &form, &Form1::Form_Unload);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, &Form1::Form_Unload);
    form.InitForm();
    form.show();
    shutdownSignals.Listen();
    return QApplication::exec();
}
