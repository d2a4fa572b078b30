// The chart printed: on the system's default printer or the one the print
// dialog chose, one page, as large as the page's margins allow with its
// proportions kept, in the middle of the sheet.
#pragma once

#include <QRectF>
#include <QSizeF>
#include <QString>

#include <memory>

class QPrinter;
class QWidget;

namespace kelmar::ui {

// The system's default printer at its full resolution; where the system
// has none, a PDF file (chart.pdf in the user's documents folder, or home)
// that the print dialog may rename.
std::unique_ptr<QPrinter> DefaultPrinter();

// Where a picture of `shape` goes on a sheet of `paper` whose printable
// area is `printable` (both in the same units, printable inside paper): the
// largest rectangle of the picture's proportions centred on the sheet that
// stays inside the printable area. Uneven margins make it smaller rather
// than off centre. Empty when either has no area.
QRectF CentredOnSheet(const QSizeF& shape, const QRectF& paper, const QRectF& printable);

// Prints what `chart` and its child widgets show now on one page, placed by
// CentredOnSheet and drawn afresh at print resolution (up to 300 dots per
// inch) rather than enlarged from the screen. Raises KelmarError naming the
// printer, or the file it prints to, when printing fails.
void PrintWidget(QWidget& chart, QPrinter& printer);

// Where a printed chart went, for the status panel:
// Chart sent to printer "NAME".  or  Chart printed to file "PATH".
QString ChartPrintedMessage(const QPrinter& printer);

}  // namespace kelmar::ui
