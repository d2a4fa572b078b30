// The chart saved as a picture file: a Windows bitmap, a standard Windows
// metafile, a PNG image, an SVG drawing or a one-page PDF document of the
// chart's size on screen. Each file is replaced as a whole,
// so a failed save leaves an older file of that name as it was; a failure
// raises KelmarError with a text that names the file.
#pragma once

#include <QString>

class QWidget;

namespace kelmar::ui {

// A 24-bit bitmap of what `chart` and its child widgets show now.
void SaveWidgetAsBitmap(QWidget& chart, const QString& fileName);

// A metafile of lines, areas and text drawn as `chart` and its child widgets
// show them now.
void SaveWidgetAsMetafile(QWidget& chart, const QString& fileName);

// A lossless PNG image of what `chart` and its child widgets show now.
void SaveWidgetAsPng(QWidget& chart, const QString& fileName);

// An SVG drawing (lines, areas, texts as text) of what `chart` and its child
// widgets show now, in pixels of the screen.
void SaveWidgetAsSvg(QWidget& chart, const QString& fileName);

// A PDF page the chart's size (at the screen's resolution) with its lines
// and texts as vectors.
void SaveWidgetAsPdf(QWidget& chart, const QString& fileName);

}  // namespace kelmar::ui
