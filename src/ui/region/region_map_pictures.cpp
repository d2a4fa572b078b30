#include "ui/region/region_map_pictures.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <string>
#include <string_view>

#include "app/save_commands.h"
#include "model/errors.h"
#include "ui/pictures/svg_text_runs.h"
#include "ui/region/region_map_painter.h"

namespace kelmar::ui {

namespace {

// Vector pictures count pixels at the screen's usual 96 an inch, so a PDF
// page is as many points (1/72 inch) as 3/4 of the pixels.
constexpr int PIXELS_PER_INCH = 96;

[[noreturn]] void ThrowCannotSave(const QString& fileName, const std::string& reason) {
    throw KelmarError("The map cannot be saved as \"" + fileName.toStdString() + "\": " + reason + ".");
}

void WriteBytes(const QString& fileName, const QByteArray& bytes) {
    SavePicture(fileName.toStdString(), std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void PaintOnto(const RegionMapPainter& map, QPaintDevice& device, const QSize& size, const QString& fileName,
               const char* failure) {
    QPainter painter;
    if (!painter.begin(&device)) ThrowCannotSave(fileName, failure);
    map.Paint(painter, QRectF(QPointF(0, 0), size));
}

QByteArray Png(const RegionMapPainter& map, const QString& fileName, const QSize& size) {
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull()) ThrowCannotSave(fileName, "an image of that size does not fit in memory");
    PaintOnto(map, image, size, fileName, "the PNG image could not be made");
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) ThrowCannotSave(fileName, "the PNG image could not be made");
    return bytes;
}

QByteArray Svg(const RegionMapPainter& map, const QString& fileName, const QSize& size) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setResolution(PIXELS_PER_INCH);
    generator.setTitle("KELMAR map");
    PaintOnto(map, generator, size, fileName, "the SVG drawing could not be made");
    return JoinTextRuns(bytes);
}

QByteArray Pdf(const RegionMapPainter& map, const QString& fileName, const QSize& size) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(PIXELS_PER_INCH);
        writer.setTitle("KELMAR map");
        writer.setCreator("KELMAR");
        const QSizeF points(size.width() * 72.0 / PIXELS_PER_INCH, size.height() * 72.0 / PIXELS_PER_INCH);
        writer.setPageLayout(QPageLayout(QPageSize(points, QPageSize::Point), QPageLayout::Portrait, QMarginsF()));
        PaintOnto(map, writer, size, fileName, "the PDF document could not be made");
    }
    return bytes;
}

}  // namespace

void WriteRegionMapPicture(const RegionMapPainter& map, const QString& fileName, int width, int height) {
    if (width < 1 || height < 1)
        ThrowCannotSave(fileName, "its size is " + std::to_string(width) + " x " + std::to_string(height) +
                                      " pixels; both must be at least 1");
    const QSize size(width, height);
    const QString extension = QFileInfo(fileName).suffix().toLower();
    if (extension == "png") return WriteBytes(fileName, Png(map, fileName, size));
    if (extension == "svg") return WriteBytes(fileName, Svg(map, fileName, size));
    if (extension == "pdf") return WriteBytes(fileName, Pdf(map, fileName, size));
    ThrowCannotSave(fileName, "its name ends in neither .png, .svg nor .pdf");
}

}  // namespace kelmar::ui
