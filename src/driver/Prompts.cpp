#include "driver/Prompts.h"

const char* const kFileNamePrompt = "Input the file name:";
const char* const kMoleculePrompt = "Input 'Y' if the file contains protein sequences, 'N' if DNA sequence: ";
const char* const kCriterionPrompt =
    "Choose the algorithm (1,2,3 to choose one of the three algorithms, or 4 to choose all): ";
