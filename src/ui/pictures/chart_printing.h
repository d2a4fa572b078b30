// The chart printed without a dialog: on the system's default printer, one
// page, scaled to the page's printable area with its proportions kept.
#pragma once

#include <memory>

class QPrinter;
class QWidget;

namespace kelmar::ui {

// The system's default printer at its full resolution. Raises KelmarError
// when the system has none.
std::unique_ptr<QPrinter> DefaultPrinter();

// Prints what `chart` and its child widgets show now at the top left of
// the printable area, drawn afresh at print resolution (up to 300 dots per
// inch) rather than enlarged from the screen. Raises KelmarError naming the
// printer, or the file it prints to, when printing fails.
void PrintWidget(QWidget& chart, QPrinter& printer);

}  // namespace kelmar::ui
