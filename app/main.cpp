#include "consolebatch.h"
#include "form1.h"
#include "frmstartup.h"
#include "module1.h"
#include "shutdownsignals.h"

#include "consolecommand.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstring>
#include <string>

// The entry point: the splash, the main window and its event loop; or, asked on the command
// line, a batch without a window, or the answer to --help or --version.

namespace {

// The answer to --help or --version, or nothing when the window is to start. Every other
// argument is left to Qt (-platform, -display, ...), as before.
const char* InformationRequest(int argc, char* argv[])
{
    const char* const help = vardune::ConsoleCommand::Help();
    static const std::string version = std::string("Vardune ") + Module1::kVersion + "\n";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return help;
        if (std::strcmp(argv[i], "--version") == 0)
            return version.c_str();
    }
    return nullptr;
}

} // namespace

int main(int argc, char* argv[])
{
    if (const char* answer = InformationRequest(argc, argv)) {
        std::fputs(answer, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    // A batch from the command line runs without the window, the display and the lock.
    if (vardune::ConsoleCommand::Asked(argc, argv))
        return ConsoleBatch::Main(argc, argv);
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
    ShutdownSignals shutdownSignals;
    QObject::connect(&shutdownSignals, &ShutdownSignals::Received, &form, &Form1::Form_Unload);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, &Form1::Form_Unload);
    form.InitForm();
    form.show();
    return QApplication::exec();
}

