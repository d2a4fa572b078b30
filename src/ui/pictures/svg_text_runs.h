// Qt's SVG generator writes a text in one element per run of one script:
// "Temperature, °С" (a Cyrillic Es) becomes "Temperature, °" and "С" as two
// elements, the second placed where Qt's own font ended the first. A viewer
// with another font lays the first out wider or narrower, so the letters
// overlap or drift apart. Joining the runs into one element lets every
// viewer lay the whole title out with one font.
#pragma once

#include <QByteArray>

namespace kelmar::ui {

// `svg` as QSvgGenerator wrote it, with each text element that continues the
// one before it on the same line (same colour, same baseline, and starting
// within a pixel of where that one ends in its font) joined to it: the same
// font adds its text, another font adds a tspan of that font. Everything
// else is kept byte for byte.
QByteArray JoinTextRuns(const QByteArray& svg);

}  // namespace kelmar::ui
