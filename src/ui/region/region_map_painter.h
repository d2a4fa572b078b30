// A map of a batch's region drawn into a rectangle of a QPainter: the title
// above; the sites in an equirectangular projection whose degrees of
// longitude are cos(mean latitude) as wide as those of latitude, inside a
// frame with a graticule labelled in degrees; each site a dot of its
// value's colour (a site without a value a small hollow grey ring); the
// colour bar with its ticks, the quantity and the units beneath. The same
// drawing serves the window's widget and the picture files.
#pragma once

#include <QFont>
#include <QPointF>
#include <QRectF>

#include <cstddef>
#include <optional>

#include "app/region/colour_maps.h"
#include "app/region/map_view.h"
#include "app/region/region_map.h"

class QPainter;

namespace kelmar::ui {

// Where the parts of the map lie in the rectangle it is drawn into, and the
// sizes its texts and dots take there.
struct RegionMapLayout {
    QRectF Frame;        // the map inside its graticule; the view fills it
    QRectF Bar;          // the colour bar
    QRectF TitleBox;     // the title's line
    QFont Text, Title;   // labels and caption; title
    double DotRadius = 4;  // pixels
    double LatStep = 1, LonStep = 1;  // degrees between graticule lines
};

class RegionMapPainter {
public:
    explicit RegionMapPainter(region::RegionMap map);

    const region::RegionMap& Map() const { return Data; }
    const region::ColourScale& Scale() const { return Colours; }
    const region::SitePlacement& Sites() const { return Placement; }

    // What the frame shows: all the sites with a margin unless zoomed.
    const region::MapView& View() const { return Shown; }
    region::MapView FullView() const { return Full; }
    bool Zoomed() const { return !(Shown == Full); }
    // A view with West < East and South < North (in the map's unwrapped
    // degrees, as View() gives them); others are refused (false).
    bool SetView(const region::MapView& view);
    void ResetView() { Shown = Full; }

    RegionMapLayout Layout(const QRectF& rect) const;

    // The pixel of a latitude and longitude (degrees north, east) when the
    // map is drawn into `rect`; and back, as an unwrapped longitude and a
    // latitude (x, y).
    QPointF Project(double lat, double lon, const QRectF& rect) const;
    QPointF Unproject(const QPointF& pixel, const QRectF& rect) const;
    // The pixel of site `index`; nothing for a site without a position.
    std::optional<QPointF> SitePixel(std::size_t index, const QRectF& rect) const;
    // The site whose dot is nearest `pixel`, within its radius and a few
    // pixels more, among those inside the frame; nothing when none is.
    std::optional<std::size_t> SiteAt(const QPointF& pixel, const QRectF& rect) const;

    void Paint(QPainter& painter, const QRectF& rect) const;

private:
    QPointF ProjectUnwrapped(double lat, double lon, const QRectF& frame) const;

    region::RegionMap Data;
    region::ColourScale Colours;
    region::SitePlacement Placement;
    region::MapView Full, Shown;
};

}  // namespace kelmar::ui
