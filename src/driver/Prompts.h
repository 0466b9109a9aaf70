#pragma once

// The prompts written for settings missing from the command line, as the
// run asks them and the help quotes them.
extern const char* const kFileNamePrompt;
extern const char* const kMoleculePrompt;
extern const char* const kCriterionPrompt;
