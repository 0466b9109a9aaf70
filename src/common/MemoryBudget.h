#pragma once

#include <cstdint>

// Bytes of memory that the system reports as still available to processes,
// or the largest value when it cannot tell.
std::uint64_t availableMemory();

// Throws std::bad_alloc when `bytes` exceed the available memory. Large
// tables are checked before they are made: on a system that overcommits, an
// allocation far beyond the memory at hand can succeed and the process be
// killed later, when the table is filled.
void reserveMemory(std::uint64_t bytes);
