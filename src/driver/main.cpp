#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string>
#include <vector>

#include "driver/RunSequence.h"

namespace {

// Standard input, output and error are open, as careful tools make sure:
// a descriptor that was closed is taken by /dev/null, so that no file the
// run opens can take its number (the prompts would read it, the output
// would go into it). Output is opened for reading only, so that writing to
// a closed standard output still fails and is reported.
void openStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = open("/dev/null", fd == 2 ? O_WRONLY : O_RDONLY);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    openStandardDescriptors();
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return runProgram(args, std::cin, std::cout);
}
