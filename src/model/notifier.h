// Where the model and the file readers send the warnings they show the user
// (a missing file, an unusable climatology). The window shows them in a
// message box; the command-line tool prints them.
#pragma once

#include <string>

namespace kelmar {

class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void Warning(const std::string& text) = 0;
};

}  // namespace kelmar
