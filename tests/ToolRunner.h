#pragma once

#include <string>
#include <vector>

// Runs the built tandemtree binary as a user would, with arguments and text
// on standard input, and collects what it wrote and how it ended.
struct ToolResult {
    std::string out;
    std::string err;
    int exitCode = -1;
};

// `input` is what the tool finds on standard input (empty: the end at once).
// `shellPrefix` runs before the tool in the same shell (for instance a ulimit).
ToolResult runTool(const std::vector<std::string>& args, const std::string& input = "",
                   const std::string& shellPrefix = "");

// The same with standard output sent where the shell redirection `output`
// says (">/dev/full", ">&-"); `out` of the result is then empty.
ToolResult runToolWithOutput(const std::vector<std::string>& args, const std::string& output,
                             const std::string& input = "", const std::string& shellPrefix = "");

// Writes `content` to a new file in the test's temporary folder and returns
// its path.
std::string writeTempFile(const std::string& name, const std::string& content);

// Path of a file under the source tree.
std::string sourcePath(const std::string& relative);

// The whole text of a file.
std::string readFile(const std::string& path);

// `text` as one gzip member.
std::string gzipped(const std::string& text);
