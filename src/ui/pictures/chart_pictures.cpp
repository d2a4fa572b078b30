#include "ui/pictures/chart_pictures.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include <string>

#include "io/file_bytes.h"
#include "model/errors.h"
#include "ui/pictures/wmf_paint_device.h"

namespace kelmar::ui {

namespace {

[[noreturn]] void ThrowCannotDraw(const QString& fileName, const char* reason) {
    throw KelmarError("The chart cannot be saved as \"" + fileName.toStdString() + "\": " + reason + ".");
}

}  // namespace

void SaveWidgetAsBitmap(QWidget& chart, const QString& fileName) {
    if (chart.width() <= 0 || chart.height() <= 0) ThrowCannotDraw(fileName, "it has no size on screen");
    // 32-bit pixels without transparency, which the bitmap stores as 24-bit.
    QImage image(chart.size(), QImage::Format_RGB32);
    chart.render(&image);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "BMP")) ThrowCannotDraw(fileName, "the bitmap could not be made");
    WriteFileAtomically(fileName.toStdString(), std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void SaveWidgetAsMetafile(QWidget& chart, const QString& fileName) {
    if (chart.width() <= 0 || chart.height() <= 0) ThrowCannotDraw(fileName, "it has no size on screen");
    WmfPaintDevice device(chart.size(), chart.logicalDpiY());
    {
        QPainter painter(&device);
        chart.render(&painter);
    }
    const std::optional<std::string> bytes = device.Metafile();
    if (!bytes) ThrowCannotDraw(fileName, "a line or a text is too long for a metafile");
    WriteFileAtomically(fileName.toStdString(), *bytes);
}

}  // namespace kelmar::ui
