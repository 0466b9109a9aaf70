#include "ToolRunner.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string tempFolder() {
    static const std::string folder = [] {
        std::string pattern = testing::TempDir() + "tandemtree-XXXXXX";
        const char* made = mkdtemp(pattern.data());
        return made != nullptr ? std::string(made) + "/" : testing::TempDir();
    }();
    return folder;
}

}  // namespace

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string writeTempFile(const std::string& name, const std::string& content) {
    const std::string path = tempFolder() + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string sourcePath(const std::string& relative) { return std::string(TANDEMTREE_SOURCE_DIR) + "/" + relative; }

ToolResult runToolWithOutput(const std::vector<std::string>& args, const std::string& output, const std::string& input,
                             const std::string& shellPrefix) {
    static int runs = 0;
    const std::string id = std::to_string(getpid()) + "-" + std::to_string(++runs);
    const std::string inPath = writeTempFile("stdin-" + id, input);
    const std::string errPath = tempFolder() + "stderr-" + id;
    std::string command = shellPrefix + "exec " + shellQuoted(TANDEMTREE_BINARY);
    for (const std::string& arg : args) command += " " + shellQuoted(arg);
    command += " <" + shellQuoted(inPath) + " " + output + " 2>" + shellQuoted(errPath);
    const int status = std::system(command.c_str());
    ToolResult result;
    result.err = readFile(errPath);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ToolResult runTool(const std::vector<std::string>& args, const std::string& input, const std::string& shellPrefix) {
    static int runs = 0;
    const std::string outPath = tempFolder() + "stdout-" + std::to_string(getpid()) + "-" + std::to_string(++runs);
    ToolResult result = runToolWithOutput(args, ">" + shellQuoted(outPath), input, shellPrefix);
    result.out = readFile(outPath);
    return result;
}

std::string gzipped(const std::string& text) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}
