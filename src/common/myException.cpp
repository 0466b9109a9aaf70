#include "common/myException.h"

#include <utility>

const char* const kUndefinedDistanceMessage = "Sequences dissimilarity exceeds threshold: distance undefined!";

myException::myException(std::string text) : message(std::move(text)) {}

const char* myException::what() const noexcept { return message.c_str(); }
