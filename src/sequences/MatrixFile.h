#pragma once

#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "common/FailedRun.h"
#include "sequences/DistanceMatrix.h"

// A distance matrix file that does not follow the format or holds no
// distances: one line that starts with "Invalid distance matrix: " and says
// what is wrong and where.
class MatrixFileError : public FailedRun {
public:
    explicit MatrixFileError(const std::string& detail) : FailedRun("Invalid distance matrix: " + detail) {}
};

// What a distance matrix file holds: the names of its rows, in chromosome
// order, and the distances between them.
struct MatrixFile {
    std::vector<std::string> names;
    std::unique_ptr<DistanceMatrix> distances;
};

// Reads a PHYLIP distance matrix (gzip data is unpacked first): the number
// of rows n, then n rows of a name (any word) and its distances, either all
// n (square) or only those before the diagonal (lower-triangular, with or
// without the diagonal), told apart by how many words follow the count. The
// matrix must be symmetric with a zero diagonal, every entry a finite number
// of 0 or more. Throws MatrixFileError.
MatrixFile readMatrixFile(std::istream& in);

// Writes the distances as a square PHYLIP matrix, each row a name and its n
// distances to 17 significant digits (read back, they are the same
// doubles). Names hold no white space; for copies without one, the number.
void writeMatrixFile(std::ostream& out, const DistanceMatrix& distances, const std::vector<std::string>& names);
