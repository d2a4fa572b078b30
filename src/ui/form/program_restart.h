// Starting a fresh copy of the program and ending this one.
#pragma once

#include <QString>

namespace kelmar::ui {

class ProgramRestart {
public:
    virtual ~ProgramRestart() = default;
    // Starts `program` as a new process of its own, with no arguments; false
    // when it could not be started.
    virtual bool StartDetached(const QString& program) = 0;
    // Ends this program once the current command has finished.
    virtual void Quit() = 0;
};

class QtProgramRestart : public ProgramRestart {
public:
    bool StartDetached(const QString& program) override;
    void Quit() override;
};

}  // namespace kelmar::ui
