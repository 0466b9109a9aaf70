#include <iostream>
#include <string>
#include <vector>

#include "driver/RunSequence.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return runProgram(args, std::cin, std::cout);
}
