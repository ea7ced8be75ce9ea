#include "encoderprogram.h"

#include "textbridge.h"

#include "encodercommand.h"
#include "installlayout.h"

#include <QCoreApplication>
#include <QDir>

QString EncoderProgram::Folder()
{
    return TextBridge::ToQt(
        vardune::InstallLayout(TextBridge::FromQt(QCoreApplication::applicationDirPath())).EncoderFolder());
}

QString EncoderProgram::Path()
{
    return Folder() + QDir::separator() + TextBridge::ToQt(vardune::EncoderCommand::ProgramName());
}
