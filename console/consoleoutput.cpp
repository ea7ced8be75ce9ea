#include "consoleoutput.h"

#include "pathtext.h"
#include "standardoutput.h"

#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

int TerminalWidth()
{
    struct winsize size {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 10)
        return size.ws_col;
    return 80;
}

} // namespace

ConsoleOutput::ConsoleOutput(Form form)
    : form_(form)
{
    redrawn_.start();
}

std::string ConsoleOutput::Printable(const std::string& text)
{
    std::string shown = vardune::PathText::Shown(text);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return shown;
}

std::string ConsoleOutput::JsonText(const std::string& text)
{
    std::string json = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const char c = text[at];
        const auto byte = static_cast<unsigned char>(c);
        const std::size_t length = vardune::PathText::SequenceAt(text, at);
        if (length == 0) {
            // Shown as the lines show it: "Caf\xE9.wav" names the byte that stands there.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\\\x%02X", byte);
            json += escaped;
            ++at;
            continue;
        }
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            json += escaped;
        } else {
            json.append(text, at, length);
        }
        at += length;
    }
    return json + '"';
}

std::string ConsoleOutput::ShellWord(const std::string& word)
{
    const bool plain = !word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./=+,:@%") == std::string::npos;
    if (plain)
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool ConsoleOutput::Report(const std::string& source, const std::string& target, const std::string& status,
                           const std::string& reason, double bytes)
{
    if (form_ == Form::Json) {
        std::string json = "{\"source\":" + JsonText(source) + ",\"output\":" + (target.empty() ? std::string("null") : JsonText(target))
                         + ",\"status\":" + JsonText(status);
        if (!reason.empty())
            json += ",\"reason\":" + JsonText(reason);
        if (bytes > 0)
            json += ",\"bytes\":" + std::to_string(static_cast<long long>(bytes));
        Line(json + "}");
        return true;
    }
    std::string text = Printable(source);
    if (!target.empty())
        text += " -> " + Printable(target);
    text += ": " + status;
    if (!reason.empty())
        text += ": " + Printable(reason);
    // On a terminal only what needs a look stays above the progress line.
    if (form_ == Form::Terminal && status != "failed" && status != "removed" && status != "would remove" && status != "kept")
        return false;
    Line(text);
    return true;
}

bool ConsoleOutput::PlanRecord(const std::string& source, const std::string& target, const std::string& program,
                               const std::vector<std::string>& arguments)
{
    std::string commandLine = ShellWord(program);
    for (const std::string& argument : arguments)
        commandLine += ' ' + ShellWord(argument);
    std::string record;
    for (const std::string* field : std::initializer_list<const std::string*> {&source, &target, &commandLine}) {
        record += *field;
        record += '\0';
    }
    if (records_ == 0)
        planStart_ = vardune::StandardOutput::FileOffset();
    if (!Put(record)) {
        // A record cut short (a full disk) must never reach whoever runs the plan: a command
        // line cut inside a name would write elsewhere. In a file, the plan is cut back to its
        // last whole record; a pipe's reader sees a record without its NUL.
        if (planStart_ >= 0)
            vardune::StandardOutput::CutBackTo(planStart_ + planBytes_);
        return false;
    }
    ++records_;
    planBytes_ += static_cast<long long>(record.size());
    return true;
}

bool ConsoleOutput::Put(const std::string& bytes)
{
    if (!failure_.empty())
        return false;
    std::string why;
    if (vardune::StandardOutput::Write(bytes, why))
        return true;
    failure_ = why.empty() ? std::string("it could not be written") : why;
    return false;
}

void ConsoleOutput::Line(const std::string& text)
{
    ClearLine();
    Put(text + '\n');
}

void ConsoleOutput::ClearLine()
{
    if (form_ == Form::Terminal && lineShown_) {
        Put("\r\033[K");
        lineShown_ = false;
    }
}

void ConsoleOutput::Progress(const std::string& line, bool force)
{
    if (form_ != Form::Terminal || (!force && redrawn_.elapsed() < 100))
        return;
    redrawn_.restart();
    std::string text = Printable(line);
    // One line of the terminal, never more: a wrapped line could not be redrawn in place.
    const std::size_t width = static_cast<std::size_t>(TerminalWidth() - 1);
    if (text.size() > width) {
        std::size_t cut = width;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
        text.resize(cut);
    }
    Put("\r\033[K" + text);
    lineShown_ = true;
}

void ConsoleOutput::EndProgress()
{
    ClearLine();
    if (form_ == Form::Terminal)
        form_ = Form::Lines;
}

void ConsoleOutput::Summary(const std::string& said, int status)
{
    if (form_ == Form::Json)
        Put("{\"summary\":" + JsonText(said) + ",\"status\":" + std::to_string(status) + "}\n");
    else
        Put(Printable(said) + '\n');
}

void ConsoleOutput::Warn(const std::string& text)
{
    std::fprintf(stderr, "vardune: %s\n", Printable(text).c_str());
}
