// The figure of the weather generator check (check.png, check.svg): one
// panel per variable with the observed and the simulated monthly means and
// their spread, drawn with the window's chart code. Works without a
// display: a process without a Qt application gets one on the offscreen
// platform (unless QT_QPA_PLATFORM names another).
#pragma once

#include <memory>

#include "app/generator_check.h"

namespace kelmar::ui {

std::unique_ptr<CheckFigureWriter> MakeCheckFigureWriter();

}  // namespace kelmar::ui

// What kelmar-cli looks up in the module: a new writer, owned by the caller.
extern "C" kelmar::CheckFigureWriter* kelmar_new_check_figure_writer();
