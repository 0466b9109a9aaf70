#pragma once

#include <string>
#include <vector>

// The words of the command line, options taken out. Options may stand
// anywhere; "--" ends them, so that a file whose name starts with '-' stays
// reachable. A word is an option when it starts with '-' followed by a
// character other than a digit or a blank: "-" alone is the file name of
// standard input, and "-1" stays a (refused) criterion.
struct CommandLine {
    std::vector<std::string> positional;  // file name, molecule kind, criterion
    bool help = false;
    bool version = false;
    bool newick = false;
    bool svg = false;
    std::string unknownOption;  // the first word that is no known option
};

CommandLine parseCommandLine(const std::vector<std::string>& args);

// Usage, as `--help` prints it.
std::string helpText();
