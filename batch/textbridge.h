#pragma once
#include "pathtext.h"

#include <QString>

#include <string>

// Where the program's own texts meet Qt's: the rules below the windows keep text as UTF-8 in
// std::string, the windows and widgets show QString. Every window and widget crosses here.
namespace TextBridge {

inline QString ToQt(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

inline std::string FromQt(const QString& text)
{
    return text.toUtf8().toStdString();
}

// A path to show: paths are bytes and are kept so, never made from what is shown; a byte that
// is not UTF-8 shows as "\xE9" (vardune::PathText::Shown).
inline QString ShownPath(const std::string& bytes)
{
    return ToQt(vardune::PathText::Shown(bytes));
}

} // namespace TextBridge
