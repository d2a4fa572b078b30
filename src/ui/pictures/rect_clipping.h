// Lines and areas cut to a rectangle. Metafile players differ in how far
// they honour a clip, so the pictures carry only what lies inside it.
#pragma once

#include <QList>
#include <QPolygonF>
#include <QRectF>

namespace kelmar::ui {

// The parts of the polyline `line` inside `clip` (edges included), each a
// polyline of its own, in the order of the line; where a closed line was
// cut, the part through its start and end is one. Segments with an end that
// is not a finite number are left out.
QList<QPolygonF> ClipPolyline(const QPolygonF& line, const QRectF& clip);

// The part of the area `area` inside `clip`: one polygon whose edges run
// along the clip's sides where the area was cut, with the fill of every
// point inside the clip unchanged; empty when nothing is inside. Corners
// that are not finite numbers are left out.
QPolygonF ClipPolygon(const QPolygonF& area, const QRectF& clip);

}  // namespace kelmar::ui
