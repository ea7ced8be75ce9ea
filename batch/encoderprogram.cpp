#include "encoderprogram.h"

#include "textbridge.h"

#include "encodercommand.h"
#include "installlayout.h"
#include "pathtext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <memory>

#include <unistd.h>

QString EncoderProgram::Folder()
{
    return TextBridge::ToQt(
        vardune::InstallLayout(TextBridge::FromQt(QCoreApplication::applicationDirPath())).EncoderFolder());
}

QString EncoderProgram::Path()
{
    return Folder() + QDir::separator() + TextBridge::ToQt(vardune::EncoderCommand::ProgramName());
}

namespace {

// An argument list made before the start, so that the started process only reads it: between
// fork and exec nothing may allocate.
struct ArgumentBytes {
    std::vector<std::string> words;
    std::vector<char*> pointers;
};

} // namespace

void EncoderProgram::SetCommand(QProcess& process, const std::vector<std::string>& arguments)
{
    const QString program = Path();
    process.setProgram(program);
    QStringList shown;
    bool exact = true;
    for (const std::string& argument : arguments) {
        shown << TextBridge::ToQt(vardune::PathText::Shown(argument));
        exact = exact && vardune::PathText::IsUtf8(argument);
    }
    process.setArguments(shown);
    if (exact) {
        process.setChildProcessModifier({});
        return;
    }
    // Qt would pass each argument as its text turned back into UTF-8, which names another
    // file. The started process runs the encoder itself, with the very bytes; should that
    // fail, Qt's own start of the same program fails alike and says so.
    auto bytes = std::make_shared<ArgumentBytes>();
    bytes->words.push_back(QFile::encodeName(program).toStdString());
    bytes->words.insert(bytes->words.end(), arguments.begin(), arguments.end());
    for (std::string& word : bytes->words)
        bytes->pointers.push_back(word.data());
    bytes->pointers.push_back(nullptr);
    process.setChildProcessModifier([bytes] { ::execv(bytes->pointers[0], bytes->pointers.data()); });
}
