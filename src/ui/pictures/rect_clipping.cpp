#include "ui/pictures/rect_clipping.h"

#include <array>
#include <cmath>
#include <functional>
#include <optional>
#include <utility>

namespace kelmar::ui {

namespace {

bool Finite(const QPointF& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

// The visible part of the segment a-b (Liang and Barsky): the ends are kept
// exactly where they lie inside.
std::optional<std::pair<QPointF, QPointF>> ClipSegment(const QPointF& a, const QPointF& b, const QRectF& clip) {
    if (!Finite(a) || !Finite(b)) return std::nullopt;
    const QPointF d = b - a;
    const std::array<double, 4> p{-d.x(), d.x(), -d.y(), d.y()};
    const std::array<double, 4> q{a.x() - clip.left(), clip.right() - a.x(), a.y() - clip.top(),
                                  clip.bottom() - a.y()};
    double enter = 0, leave = 1;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return std::nullopt;  // parallel to this side and outside it
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0) {
            enter = std::max(enter, t);
        } else {
            leave = std::min(leave, t);
        }
        if (enter > leave) return std::nullopt;
    }
    return std::pair{enter == 0 ? a : a + enter * d, leave == 1 ? b : a + leave * d};
}

// One side of the clip: which points are inside, and where a segment crosses it.
struct Side {
    std::function<bool(const QPointF&)> Inside;
    std::function<QPointF(const QPointF&, const QPointF&)> Crossing;
};

QPointF AtX(const QPointF& a, const QPointF& b, double x) {
    return {x, a.y() + (b.y() - a.y()) * (x - a.x()) / (b.x() - a.x())};
}

QPointF AtY(const QPointF& a, const QPointF& b, double y) {
    return {a.x() + (b.x() - a.x()) * (y - a.y()) / (b.y() - a.y()), y};
}

// Cuts the closed polygon `ring` at one side (Sutherland and Hodgman).
QPolygonF ClipAtSide(const QPolygonF& ring, const Side& side) {
    QPolygonF kept;
    for (qsizetype i = 0; i < ring.size(); ++i) {
        const QPointF& from = ring[(i + ring.size() - 1) % ring.size()];
        const QPointF& to = ring[i];
        if (side.Inside(to)) {
            if (!side.Inside(from)) kept << side.Crossing(from, to);
            kept << to;
        } else if (side.Inside(from)) {
            kept << side.Crossing(from, to);
        }
    }
    return kept;
}

}  // namespace

QList<QPolygonF> ClipPolyline(const QPolygonF& line, const QRectF& clip) {
    QList<QPolygonF> parts;
    for (qsizetype i = 1; i < line.size(); ++i) {
        const auto visible = ClipSegment(line[i - 1], line[i], clip);
        if (!visible) continue;
        // A segment that starts where the part before it ended continues it.
        const bool continues = !parts.isEmpty() && visible->first == line[i - 1] && parts.back().back() == line[i - 1];
        if (!continues) parts.append(QPolygonF{visible->first});
        parts.back() << visible->second;
    }
    // A closed line cut on its way keeps its start joined to its end.
    if (parts.size() > 1 && line.isClosed() && parts.front().front() == line.front() &&
        parts.back().back() == line.back()) {
        parts.back() << parts.front().mid(1);
        parts.removeFirst();
    }
    return parts;
}

QPolygonF ClipPolygon(const QPolygonF& area, const QRectF& clip) {
    QPolygonF ring;
    for (const QPointF& p : area)
        if (Finite(p)) ring << p;
    const double left = clip.left(), right = clip.right(), top = clip.top(), bottom = clip.bottom();
    const std::array<Side, 4> sides{{
        {[=](const QPointF& p) { return p.x() >= left; }, [=](const QPointF& a, const QPointF& b) { return AtX(a, b, left); }},
        {[=](const QPointF& p) { return p.x() <= right; }, [=](const QPointF& a, const QPointF& b) { return AtX(a, b, right); }},
        {[=](const QPointF& p) { return p.y() >= top; }, [=](const QPointF& a, const QPointF& b) { return AtY(a, b, top); }},
        {[=](const QPointF& p) { return p.y() <= bottom; }, [=](const QPointF& a, const QPointF& b) { return AtY(a, b, bottom); }},
    }};
    for (const Side& side : sides) {
        if (ring.isEmpty()) break;
        ring = ClipAtSide(ring, side);
    }
    return ring;
}

}  // namespace kelmar::ui
