#pragma once
#include <QElapsedTimer>

#include <string>
#include <vector>

// What the command line writes on standard output, in the form the caller asked for: one
// line per finished file for a script, one JSON object per file, or, on a terminal, only what
// needs a look above one progress line that is drawn again in place. A plan is written as
// NUL-ended records instead. Warnings and errors go to standard error, one line each.
class ConsoleOutput {
public:
    enum class Form { Lines, Json, Terminal };
    explicit ConsoleOutput(Form form);

    Form Shape() const { return form_; }
    // One finished (or refused) file: its source, its output (empty when it has none), its
    // status ("done", "copied", "up to date", "failed", "would convert"), why it failed, and
    // its output's size in bytes (0 when there is none). True when it wrote a line (on a
    // terminal, a file that went well is only counted in the progress line).
    bool Report(const std::string& source, const std::string& target, const std::string& status,
                const std::string& reason, double bytes);
    // One record of a plan: the source, the output and the encoder's command as one shell line.
    // False when it could not be written whole (nor any record after it will be).
    bool PlanRecord(const std::string& source, const std::string& target, const std::string& program,
                    const std::vector<std::string>& arguments);
    // The progress line on a terminal, drawn again at most ten times a second unless forced.
    void Progress(const std::string& text, bool force);
    // Whether a progress line is shown at all (on a terminal).
    bool ShowsProgress() const { return form_ == Form::Terminal; }
    // Takes the progress line away; from then on nothing draws it again.
    void EndProgress();
    // The batch's last word: a line, or a JSON object with the exit status.
    void Summary(const std::string& said, int status);
    // Why standard output could not be written ("No space left on device"), from the first
    // write that failed on (nothing more is written then); empty while all went.
    const std::string& Failure() const { return failure_; }
    // The records of a plan written whole.
    long long Records() const { return records_; }
    // Whether the plan's file was cut back to its last whole record after a failed write.
    bool PlanCutBack() const { return planStart_ >= 0; }
    // A line on standard error, prefixed with the program's name.
    static void Warn(const std::string& text);

    // A path or a reason as one line of text: a control character in a file name would break
    // the line (or move a terminal's cursor), so it shows as "?"; a byte that is not UTF-8 (a
    // name from an old archive may hold any) shows as "\xE9" (PathText::Shown).
    static std::string Printable(const std::string& text);
    // A JSON string: a byte that is not UTF-8 shows as in Printable ("Caf\\xE9.wav" in JSON).
    static std::string JsonText(const std::string& text);
    // A word for the shell: quoted unless it is made of characters no shell reads specially.
    static std::string ShellWord(const std::string& word);

private:
    // Every byte on standard output goes through here.
    bool Put(const std::string& bytes);
    void Line(const std::string& text);
    void ClearLine();

    Form form_;
    bool lineShown_ = false;
    QElapsedTimer redrawn_;
    std::string failure_;
    long long records_ = 0;
    long long planStart_ = -1;  // where the plan starts in a regular file; -1 elsewhere
    long long planBytes_ = 0;   // the bytes of its whole records
};
