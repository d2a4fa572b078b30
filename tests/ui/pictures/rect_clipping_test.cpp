// Lines and areas cut to a rectangle.
#include <gtest/gtest.h>

#include <QDebug>

#include <limits>

#include "ui/pictures/rect_clipping.h"

namespace kelmar::ui {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();
const QRectF CLIP(0, 0, 10, 10);

std::string Text(const QList<QPolygonF>& parts) {
    QString text;
    QDebug(&text) << parts;
    return text.toStdString();
}

// Clang and GCC read nested braces for QPolygonF differently; tables hold
// plain point lists instead.
using Points = QList<QPointF>;

TEST(ClipPolyline, KeepsThePartsInsideAsSeparateLines) {
    struct Case {
        const char* what;
        Points line;
        QList<Points> parts;
    };
    const Case cases[] = {
        {"inside, edges included", {{0, 0}, {5, 5}, {10, 0}}, {{{0, 0}, {5, 5}, {10, 0}}}},
        {"leaves and comes back", {{2, 5}, {20, 5}, {8, 8}}, {{{2, 5}, {10, 5}}, {{10, 7.5}, {8, 8}}}},
        {"crosses from outside to outside", {{-5, 5}, {15, 5}}, {{{0, 5}, {10, 5}}}},
        {"diagonal through a corner region", {{-5, 5}, {5, -5}}, {{{0, 0}, {0, 0}}}},
        {"wholly outside", {{-5, -5}, {-1, 20}, {20, 20}}, {}},
        {"parallel outside a side", {{-1, 0}, {-1, 10}}, {}},
        {"closed ring cut at the side joins across its start",
         {{5, 5}, {15, 5}, {15, 7}, {5, 7}, {5, 5}},
         {{{10, 7}, {5, 7}, {5, 5}, {10, 5}}}},
        {"a point inside", {{3, 3}, {3, 3}}, {{{3, 3}, {3, 3}}}},
        {"no number splits the line", {{1, 1}, {2, 2}, {NaN, 3}, {4, 4}, {5, 5}}, {{{1, 1}, {2, 2}}, {{4, 4}, {5, 5}}}},
        {"an infinite end", {{1, 1}, {INF, 1}}, {}},
        {"fewer than two points", {{1, 1}}, {}},
    };
    for (const Case& c : cases) {
        QList<QPolygonF> wanted;
        for (const Points& part : c.parts) wanted.append(QPolygonF(part));
        const QList<QPolygonF> parts = ClipPolyline(QPolygonF(c.line), CLIP);
        EXPECT_EQ(parts, wanted) << c.what << ": got " << Text(parts) << ", wanted " << Text(wanted);
    }
}

TEST(ClipPolygon, CutsAreasAlongTheSides) {
    struct Case {
        const char* what;
        Points area;
        Points clipped;
    };
    const Case cases[] = {
        {"inside", {{1, 1}, {9, 1}, {5, 9}}, {{1, 1}, {9, 1}, {5, 9}}},
        {"over the right side", {{5, 2}, {15, 2}, {15, 8}, {5, 8}}, {{5, 2}, {10, 2}, {10, 8}, {5, 8}}},
        {"around the clip", {{-5, -5}, {15, -5}, {15, 15}, {-5, 15}}, {{0, 0}, {10, 0}, {10, 10}, {0, 10}}},
        {"outside", {{11, 11}, {20, 11}, {20, 20}}, {}},
        {"a corner left as no number", {{1, 1}, {9, 1}, {NaN, NaN}, {5, 9}}, {{1, 1}, {9, 1}, {5, 9}}},
    };
    for (const Case& c : cases) {
        const QPolygonF wanted(c.clipped);
        QPolygonF clipped = ClipPolygon(QPolygonF(c.area), CLIP);
        // The same corners, wherever the cut starts.
        const QRectF bounds = clipped.boundingRect();
        EXPECT_EQ(bounds, wanted.boundingRect()) << c.what;
        for (const QPointF& corner : wanted) EXPECT_TRUE(clipped.contains(corner)) << c.what << " lost a corner";
        for (const QPointF& corner : clipped)
            EXPECT_TRUE(wanted.contains(corner) || clipped.count(corner) > 1) << c.what << " has an extra corner";
    }
}

}  // namespace
}  // namespace kelmar::ui
