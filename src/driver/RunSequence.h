#pragma once

#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "driver/Prompts.h"

// Criterion text to number: leading white space skipped, an optional sign,
// then decimal digits up to the first other character; no digit gives 0, and
// a number beyond the 32-bit range saturates to its nearest end.
int parseCriterion(const std::string& text);

// Molecule kind: the second argument names DNA only by a first character 'N';
// an answer at the prompt by 'N' or 'n'. Anything else is protein.
bool isProteinArgument(const std::string& argument);
bool isProteinAnswer(const std::string& answer);

// The whole run: options and settings from `words` (the words after the
// command's name), missing settings from prompts answered on `in`, then
// reading, distances, reconstruction and report on `out`. Returns the exit
// code. When `out` fails to take what is written, the run stops there, says
// so in one line on standard error and returns 1.
int runProgram(const std::vector<std::string>& words, std::istream& in, std::ostream& out);

// Runs `run`, which returns the exit code, and turns what it throws into one
// line on `out` and an exit code: a file outside the format or memory that
// runs out (for `sequenceCount` sequences) give 1; an undefined distance
// gives its message and 0, as a run that ends normally; anything else is an
// internal error, reported as such with 1.
int withFailuresReported(const std::function<int()>& run, const int& sequenceCount, std::ostream& out);
