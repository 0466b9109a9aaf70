#pragma once

#include "sequences/SequenceFile.h"
#include "sequences/TextSource.h"

// Reads a FASTA alignment, the source standing at its first '>'. Records in
// file order are the segments 0, 1, 2, ...; a record's name is the first word
// after '>' (the rest of that line is its description), and its sequence is
// every non-blank character of the lines up to the next line that starts
// with '>'. All sequences must have the length of the first one.
void readFasta(TextSource& source, SequenceFile& file);
