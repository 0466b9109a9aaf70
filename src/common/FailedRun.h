#pragma once

#include <stdexcept>

// A run that cannot go on for a reason the user can mend (an option that
// does not fit the input, a matrix that is no distance matrix, two copies
// with nothing to compare): its text is the one line the tool prints before
// it exits with 1.
class FailedRun : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
