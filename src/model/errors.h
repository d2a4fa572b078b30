// Errors that abandon a command. Their text is what the user is shown.
#pragma once

#include <stdexcept>
#include <string>

namespace kelmar {

class KelmarError : public std::runtime_error {
public:
    explicit KelmarError(const std::string& message) : std::runtime_error(message) {}
};

// A file named for reading that is not there, or is a folder: the reader
// found nothing to read. Python raises it as FileNotFoundError as well.
class MissingFileError : public KelmarError {
public:
    using KelmarError::KelmarError;
};

// A value outside what an argument or field takes (a number out of its
// range, not finite): Python raises it as ValueError as well.
class BadValueError : public KelmarError {
public:
    using KelmarError::KelmarError;
};

}  // namespace kelmar
