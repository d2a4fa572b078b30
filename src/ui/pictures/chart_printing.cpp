#include "ui/pictures/chart_printing.h"

#include <QPainter>
#include <QImage>
#include <QPrinter>
#include <QPrinterInfo>
#include <QWidget>

#include <algorithm>
#include <string>

#include "model/errors.h"

namespace kelmar::ui {

namespace {

// Enough for lines and text on paper; finer only makes the print job larger.
constexpr double PRINT_DOTS_PER_INCH = 300;

// Where the pages go: the printer, or the file a printer writes.
std::string Destination(const QPrinter& printer) {
    const QString name = printer.outputFileName().isEmpty() ? printer.printerName() : printer.outputFileName();
    return "\"" + name.toStdString() + "\"";
}

[[noreturn]] void ThrowNotPrinted(const QPrinter& printer, const char* reason) {
    throw KelmarError("The chart cannot be printed on " + Destination(printer) + ": " + reason + ".");
}

}  // namespace

std::unique_ptr<QPrinter> DefaultPrinter() {
    const QPrinterInfo printer = QPrinterInfo::defaultPrinter();
    if (printer.isNull()) throw KelmarError("The chart cannot be printed: no printer is installed.");
    return std::make_unique<QPrinter>(printer, QPrinter::HighResolution);
}

void PrintWidget(QWidget& chart, QPrinter& printer) {
    if (chart.width() <= 0 || chart.height() <= 0) ThrowNotPrinted(printer, "it has no size on screen");
    const double scale = std::min(static_cast<double>(printer.width()) / chart.width(),
                                  static_cast<double>(printer.height()) / chart.height());
    const QRectF target(0, 0, chart.width() * scale, chart.height() * scale);
    // The chart is painted again at print resolution: each screen pixel
    // becomes `sharpness` image pixels, which keeps lines and text sharp.
    const double sharpness = std::max(1.0, scale * PRINT_DOTS_PER_INCH / std::max(printer.resolution(), 1));
    QImage image((QSizeF(chart.size()) * sharpness).toSize(), QImage::Format_RGB32);
    image.setDevicePixelRatio(sharpness);
    chart.render(&image);

    QPainter painter;
    if (!painter.begin(&printer)) ThrowNotPrinted(printer, "the printer cannot be opened");
    // Flat colours and sharp edges: compressed without loss, not as a photograph.
    painter.setRenderHints(QPainter::SmoothPixmapTransform | QPainter::LosslessImageRendering);
    painter.drawImage(target, image);
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        ThrowNotPrinted(printer, "the printer reported an error");
}

}  // namespace kelmar::ui
