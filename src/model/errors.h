// Errors that abandon a command. Their text is what the user is shown.
#pragma once

#include <stdexcept>
#include <string>

namespace kelmar {

class KelmarError : public std::runtime_error {
public:
    explicit KelmarError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kelmar
