// The window's command line: `kelmar [--seed N]`. With --seed the random
// source starts in state N, so that a run seen in the window can be repeated
// (`kelmar-cli simulate ... --seed N` computes the same results).
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace kelmar::ui {

struct WindowOptions {
    std::optional<std::uint32_t> seed;
    QString error;  // empty when the command line was understood
};

// `arguments` as QCoreApplication::arguments() gives them, the program first.
WindowOptions ParseWindowOptions(const QStringList& arguments);

}  // namespace kelmar::ui
