#include "ui/pictures/chart_pictures.h"

#include <QBuffer>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <QWidget>

#include <string>

#include "app/save_commands.h"
#include "model/errors.h"
#include "ui/pictures/svg_text_runs.h"
#include "ui/pictures/wmf_paint_device.h"

namespace kelmar::ui {

namespace {

[[noreturn]] void ThrowCannotDraw(const QString& fileName, const char* reason) {
    throw KelmarError("The chart cannot be saved as \"" + fileName.toStdString() + "\": " + reason + ".");
}

void WriteBytes(const QString& fileName, const QByteArray& bytes) {
    SavePicture(fileName.toStdString(), std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void RequireSize(const QWidget& chart, const QString& fileName) {
    if (chart.width() <= 0 || chart.height() <= 0) ThrowCannotDraw(fileName, "it has no size on screen");
}

// The chart drawn as pixels into an image file of `format` ("BMP", "PNG"):
// 32-bit pixels without transparency, which a bitmap stores as 24-bit.
void SaveAsImage(QWidget& chart, const QString& fileName, const char* format, const char* failure) {
    RequireSize(chart, fileName);
    QImage image(chart.size(), QImage::Format_RGB32);
    chart.render(&image);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format)) ThrowCannotDraw(fileName, failure);
    WriteBytes(fileName, bytes);
}

// The chart painted on a vector paint device (SVG, PDF) that writes into memory.
void PaintOnto(QWidget& chart, QPaintDevice& device, const QString& fileName, const char* failure) {
    QPainter painter;
    if (!painter.begin(&device)) ThrowCannotDraw(fileName, failure);
    chart.render(&painter);
}

}  // namespace

void SaveWidgetAsBitmap(QWidget& chart, const QString& fileName) {
    SaveAsImage(chart, fileName, "BMP", "the bitmap could not be made");
}

void SaveWidgetAsMetafile(QWidget& chart, const QString& fileName) {
    RequireSize(chart, fileName);
    WmfPaintDevice device(chart.size(), chart.logicalDpiY());
    {
        QPainter painter(&device);
        chart.render(&painter);
    }
    const std::optional<std::string> bytes = device.Metafile();
    if (!bytes) ThrowCannotDraw(fileName, "a line or a text is too long for a metafile");
    SavePicture(fileName.toStdString(), *bytes);
}

void SaveWidgetAsPng(QWidget& chart, const QString& fileName) {
    SaveAsImage(chart, fileName, "PNG", "the PNG image could not be made");
}

void SaveWidgetAsSvg(QWidget& chart, const QString& fileName) {
    RequireSize(chart, fileName);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(chart.size());
    generator.setViewBox(QRect(QPoint(0, 0), chart.size()));
    generator.setResolution(chart.logicalDpiX());
    generator.setTitle("KELMAR chart");
    PaintOnto(chart, generator, fileName, "the SVG drawing could not be made");
    WriteBytes(fileName, JoinTextRuns(bytes));
}

void SaveWidgetAsPdf(QWidget& chart, const QString& fileName) {
    RequireSize(chart, fileName);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    const int dpi = chart.logicalDpiX();
    writer.setResolution(dpi);
    writer.setTitle("KELMAR chart");
    writer.setCreator("KELMAR");
    // One page the chart's size: points are 1/72 inch.
    const QSizeF points(chart.width() * 72.0 / dpi, chart.height() * 72.0 / dpi);
    writer.setPageLayout(QPageLayout(QPageSize(points, QPageSize::Point), QPageLayout::Portrait, QMarginsF()));
    PaintOnto(chart, writer, fileName, "the PDF document could not be made");
    WriteBytes(fileName, bytes);
}

}  // namespace kelmar::ui
