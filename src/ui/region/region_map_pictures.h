// A region's map saved as a picture file: PNG, SVG or PDF by the name's
// extension, drawn at a size in pixels. The window's "Save map" and the
// module of `kelmar-cli map` both write through here, so that the same map
// at the same size gives the same file.
#pragma once

#include <QString>

namespace kelmar::ui {

class RegionMapPainter;

// Draws `map` as it shows its view now into `fileName` (".png", ".svg" or
// ".pdf", in any case), `width` x `height` pixels; a PDF page of that size
// at 96 pixels an inch. The file is replaced as a whole, so a failed save
// leaves an older file as it was. Raises KelmarError naming the file when
// the name has another extension, the size is not positive or too large
// for an image, or the file cannot be written.
void WriteRegionMapPicture(const RegionMapPainter& map, const QString& fileName, int width, int height);

}  // namespace kelmar::ui
