// The window's command line: `kelmar [--seed N] [--region DIR]`, `kelmar --help`,
// `kelmar --version`. With --seed the random source starts in state N, so
// that a run seen in the window can be repeated (`kelmar-cli simulate ...
// --seed N` computes the same results).
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace kelmar::ui {

struct WindowOptions {
    std::optional<std::uint32_t> seed;
    QString region;        // --region DIR: a batch's folder shown as a map at the start
    bool help = false;     // --help, -h: print WindowHelpText() and stop
    bool version = false;  // --version, -v: print WindowVersionText() and stop
    QString error;  // empty when the command line was understood
};

// `arguments` as QCoreApplication::arguments() gives them, the program first.
// --help and --version win over anything else on the line, even over an
// option that is not understood: they are answered before the window's
// QApplication exists (which needs a display), while Qt's own options
// (-platform, -style, ...) are still on the line.
WindowOptions ParseWindowOptions(const QStringList& arguments);

// The text of `kelmar --help`, from which the manual page kelmar(1) is made.
QString WindowHelpText();

// The text of `kelmar --version`: "kelmar VERSION".
QString WindowVersionText();
// VERSION alone ("0.1.0"): what the window compares the files of a batch with.
QString ProgramVersion();

}  // namespace kelmar::ui
