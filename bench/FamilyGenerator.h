#pragma once

#include <string>
#include <vector>

// A tandem repeat family made by simulated tandem duplication: one ancestral
// sequence is duplicated, one block of one to three adjacent copies at a
// time, until n copies lie side by side; every copy picks up point
// substitutions along the way (about 0.4 per site from the root in all).
// The same seed always gives the same family.
std::vector<std::string> generateFamily(int n, int length, unsigned long seed, bool protein);

// The family as a native sequence file, FASTA, or Stockholm alignment.
std::string nativeText(const std::vector<std::string>& copies);
std::string fastaText(const std::vector<std::string>& copies);
std::string stockholmText(const std::vector<std::string>& copies);
