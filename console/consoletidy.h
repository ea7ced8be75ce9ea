#pragma once
#include "consoleoutput.h"

#include <string>
#include <vector>

// `vardune --convert ... --tidy`: after the batch, what Tidy the Player removes by default
// (PlayerTidy's unwanted files: sources gone, outputs replaced, encoders' leftovers) goes
// from the output folder, each reported as a finished file is ("removed", or "would remove"
// in a dry run, or "kept" with why). Outputs whose sources only left the list are never
// removed from the command line: that is the window's explicit choice.
class ConsoleTidy {
public:
    // The sources the command named (files and folders), and the output folder.
    ConsoleTidy(const std::vector<std::string>& sources, const std::string& outputFolder);

    // Tidies (or, dryRun, only lists); what the summary says of it ("3 removed by tidying"),
    // empty when there was nothing to remove. failed is set when a listed file could not go.
    std::string Run(ConsoleOutput& output, bool dryRun, bool& failed) const;

private:
    std::vector<std::string> sources_;
    std::string folder_;
};
