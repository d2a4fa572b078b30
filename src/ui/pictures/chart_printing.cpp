#include "ui/pictures/chart_printing.h"

#include <QDir>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QStandardPaths>
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
    if (!printer.isNull()) return std::make_unique<QPrinter>(printer, QPrinter::HighResolution);
    // No printer on this system: the pages go to a PDF file, which the print
    // dialog lets the user name, and the preview still shows them.
    auto file = std::make_unique<QPrinter>(QPrinter::HighResolution);
    file->setOutputFormat(QPrinter::PdfFormat);
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
    file->setOutputFileName(QDir(folder).absoluteFilePath(QStringLiteral("chart.pdf")));
    return file;
}

QRectF CentredOnSheet(const QSizeF& shape, const QRectF& paper, const QRectF& printable) {
    if (shape.isEmpty() || paper.isEmpty() || printable.isEmpty()) return {};
    const QPointF centre = paper.center();
    // Half the room on each side of the sheet's middle, the nearer margin deciding.
    const double halfWidth = std::min(centre.x() - printable.left(), printable.right() - centre.x());
    const double halfHeight = std::min(centre.y() - printable.top(), printable.bottom() - centre.y());
    if (halfWidth <= 0 || halfHeight <= 0) return {};
    const double scale = std::min(2 * halfWidth / shape.width(), 2 * halfHeight / shape.height());
    const QSizeF size = shape * scale;
    return QRectF(centre - QPointF(size.width() / 2, size.height() / 2), size);
}

QString ChartPrintedMessage(const QPrinter& printer) {
    if (!printer.outputFileName().isEmpty())
        return QStringLiteral("Chart printed to file \"%1\".").arg(printer.outputFileName());
    return QStringLiteral("Chart sent to printer \"%1\".").arg(printer.printerName());
}

void PrintWidget(QWidget& chart, QPrinter& printer) {
    if (chart.width() <= 0 || chart.height() <= 0) ThrowNotPrinted(printer, "it has no size on screen");
    // Device pixels of the printer; the painter's origin is the printable area's corner.
    const int dpi = printer.resolution();
    const QRectF paper = printer.pageLayout().fullRectPixels(dpi);
    const QRectF printable = printer.pageLayout().paintRectPixels(dpi);
    const QRectF target = CentredOnSheet(QSizeF(chart.size()), paper, printable).translated(-printable.topLeft());
    if (target.isEmpty()) ThrowNotPrinted(printer, "its margins leave no room on the page");
    const double scale = target.width() / chart.width();
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
