#include "common/MemoryBudget.h"

#include <unistd.h>

#include <fstream>
#include <limits>
#include <new>
#include <string>

std::uint64_t availableMemory() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kilobytes = 0;
    std::string unit;
    while (meminfo >> key >> kilobytes >> unit)
        if (key == "MemAvailable:") return kilobytes * 1024;
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
    return std::numeric_limits<std::uint64_t>::max();
}

void reserveMemory(std::uint64_t bytes) {
    if (bytes > availableMemory()) throw std::bad_alloc();
}
