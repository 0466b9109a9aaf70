#pragma once

#include <exception>
#include <string>

// The error raised when two sequences are too dissimilar for a distance to be
// defined. The run sequence catches it, prints its text and ends normally.
class myException : public std::exception {
public:
    explicit myException(std::string text);
    ~myException() override = default;
    const char* what() const noexcept override;

private:
    std::string message;
};

// Text of the one undefined-distance error.
extern const char* const kUndefinedDistanceMessage;
