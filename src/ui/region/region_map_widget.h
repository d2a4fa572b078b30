// The map of a batch's region in the window: the drawing of
// RegionMapPainter at the widget's size. A click on a site gives its index;
// dragging a rectangle over the map zooms to it (the map keeps its
// proportions, so more may show across or down), Home or Escape, or "Show
// all sites" in the context menu, shows all the sites again; + and - zoom
// in and out about the centre, the arrow keys move the view by a quarter.
// Hovering over a site shows its name and value. "Save map..." writes the
// map as it shows now, at the widget's size, as `kelmar-cli map` writes it.
#pragma once

#include <QPoint>
#include <QWidget>

#include <cstddef>
#include <memory>
#include <optional>

#include "app/region/region_map.h"

class QMenu;
class QRubberBand;

namespace kelmar::ui {

class RegionMapPainter;
class UserDialogs;

class RegionMapWidget : public QWidget {
    Q_OBJECT

public:
    // `dialogs` answers "Save map..." (its file dialog and errors); without
    // them the command is not offered.
    explicit RegionMapWidget(UserDialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~RegionMapWidget() override;

    void SetMap(const region::RegionMap& map);
    const RegionMapPainter& Painter() const { return *Map; }

    // The site at a pixel of the widget, as a click there would find it.
    std::optional<std::size_t> SiteAt(const QPoint& pixel) const;

    bool Zoomed() const;
    // Shows the degrees between the two corners of a rectangle of the widget
    // (a drag's start and end). False, and nothing changes, for a rectangle
    // under a few pixels across or down.
    bool ZoomTo(const QPoint& corner, const QPoint& other);
    void ResetZoom();

    // Writes the map as it shows now, at the widget's size: PNG, SVG or PDF
    // by the name's extension. Raises KelmarError naming the file.
    void SaveMap(const QString& fileName) const;
    // Asks for a file name and saves there; a failure is shown as an error.
    void SaveMapAs();

    QMenu* ContextMenu() const { return Menu; }

signals:
    void SiteClicked(std::size_t index);
    // After "Save map..." wrote `fileName`.
    void MapSaved(const QString& fileName);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool event(QEvent* event) override;

private:
    void ZoomBy(double factor);
    void MoveBy(double acrossShare, double downShare);

    std::unique_ptr<RegionMapPainter> Map;
    UserDialogs* Dialogs;
    QMenu* Menu;
    QRubberBand* Band;
    std::optional<QPoint> DragStart;
    QString PictureFolder;
};

}  // namespace kelmar::ui
