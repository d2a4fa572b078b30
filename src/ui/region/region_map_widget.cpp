#include "ui/region/region_map_widget.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QToolTip>

#include <algorithm>
#include <cmath>

#include "model/errors.h"
#include "ui/form/user_dialogs.h"
#include "ui/pictures/picture_texts.h"
#include "ui/region/region_map_painter.h"
#include "ui/region/region_map_pictures.h"

namespace kelmar::ui {

namespace {

// A press and release closer than this (pixels, across and down) is a
// click; a drag must span it both ways to zoom.
constexpr int LEAST_DRAG = 6;
// "+" and "-" zoom by this factor; the arrow keys move by this share of the view.
constexpr double KEY_ZOOM = 2;
constexpr double KEY_MOVE = 0.25;

region::MapView WithinEarth(region::MapView view) {
    // Latitudes stop at the poles; longitudes may go round once.
    const double height = std::min(view.North - view.South, 180.0);
    if (view.South < -90) view.South = -90, view.North = -90 + height;
    if (view.North > 90) view.North = 90, view.South = 90 - height;
    const double width = std::min(view.East - view.West, 360.0);
    const double centre = (view.West + view.East) / 2;
    view.West = centre - width / 2;
    view.East = centre + width / 2;
    return view;
}

}  // namespace

RegionMapWidget::RegionMapWidget(UserDialogs* dialogs, QWidget* parent)
    : QWidget(parent), Map(std::make_unique<RegionMapPainter>(region::RegionMap{})), Dialogs(dialogs),
      Menu(new QMenu(this)), Band(new QRubberBand(QRubberBand::Rectangle, this)) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    setCursor(Qt::CrossCursor);
    setAccessibleName("Map of the region");
    setMinimumSize(300, 200);

    auto* all = Menu->addAction("Show all sites", this, &RegionMapWidget::ResetZoom);
    all->setShortcut(Qt::Key_Home);
    if (Dialogs) {
        auto* save = Menu->addAction("Save map...", this, &RegionMapWidget::SaveMapAs);
        save->setShortcut(QKeySequence::Save);
        save->setShortcutContext(Qt::WidgetShortcut);
        addAction(save);
    }
}

RegionMapWidget::~RegionMapWidget() = default;

void RegionMapWidget::SetMap(const region::RegionMap& map) {
    Map = std::make_unique<RegionMapPainter>(map);
    update();
}

std::optional<std::size_t> RegionMapWidget::SiteAt(const QPoint& pixel) const {
    return Map->SiteAt(QPointF(pixel) + QPointF(0.5, 0.5), QRectF(rect()));
}

bool RegionMapWidget::Zoomed() const { return Map->Zoomed(); }

bool RegionMapWidget::ZoomTo(const QPoint& corner, const QPoint& other) {
    const QRect box = QRect(corner, other).normalized();
    if (box.width() < LEAST_DRAG || box.height() < LEAST_DRAG) return false;
    const QPointF a = Map->Unproject(QPointF(box.topLeft()), QRectF(rect()));
    const QPointF b = Map->Unproject(QPointF(box.bottomRight()) + QPointF(1, 1), QRectF(rect()));
    if (!Map->SetView(WithinEarth({a.x(), b.x(), b.y(), a.y()}))) return false;
    update();
    return true;
}

void RegionMapWidget::ResetZoom() {
    Map->ResetView();
    update();
}

void RegionMapWidget::ZoomBy(double factor) {
    const region::MapView& v = Map->View();
    const double x = (v.West + v.East) / 2, y = (v.South + v.North) / 2;
    const double halfWidth = (v.East - v.West) / factor / 2, halfHeight = (v.North - v.South) / factor / 2;
    Map->SetView(WithinEarth({x - halfWidth, x + halfWidth, y - halfHeight, y + halfHeight}));
    update();
}

void RegionMapWidget::MoveBy(double acrossShare, double downShare) {
    region::MapView v = Map->View();
    const double across = (v.East - v.West) * acrossShare, down = (v.North - v.South) * downShare;
    Map->SetView(WithinEarth({v.West + across, v.East + across, v.South - down, v.North - down}));
    update();
}

void RegionMapWidget::SaveMap(const QString& fileName) const {
    WriteRegionMapPicture(*Map, fileName, width(), height());
}

void RegionMapWidget::SaveMapAs() {
    if (!Dialogs) return;
    const QDir folder(PictureFolder.isEmpty() ? QDir::currentPath() : PictureFolder);
    const QString proposed = folder.absoluteFilePath(ChartPictureName(QDateTime::currentDateTime(), PNG_EXTENSION));
    const QString filter = PictureNameFilter("PNG images", PNG_EXTENSION) + ";;" +
                           PictureNameFilter("SVG drawings", SVG_EXTENSION) + ";;" +
                           PictureNameFilter("PDF documents", PDF_EXTENSION);
    const auto chosen = Dialogs->AskPictureFile("Save map as", filter, proposed);
    if (!chosen) return;
    const QString name = QFileInfo(WithPictureExtension(*chosen, PNG_EXTENSION)).absoluteFilePath();
    try {
        SaveMap(name);
    } catch (const KelmarError& error) {
        Dialogs->Error(QString::fromStdString(error.what()));
        return;
    }
    PictureFolder = QFileInfo(name).absolutePath();
    emit MapSaved(name);
}

void RegionMapWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Map->Paint(painter, QRectF(rect()));
}

void RegionMapWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    DragStart = event->position().toPoint();
    Band->hide();
}

void RegionMapWidget::mouseMoveEvent(QMouseEvent* event) {
    if (!DragStart || !(event->buttons() & Qt::LeftButton)) return QWidget::mouseMoveEvent(event);
    const QRect box = QRect(*DragStart, event->position().toPoint()).normalized();
    if (box.width() < LEAST_DRAG && box.height() < LEAST_DRAG) return;
    Band->setGeometry(box);
    Band->show();
}

void RegionMapWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !DragStart) return QWidget::mouseReleaseEvent(event);
    const QPoint start = *DragStart, end = event->position().toPoint();
    DragStart.reset();
    Band->hide();
    if (ZoomTo(start, end)) return;
    // Too small a rectangle to zoom to: a click, on a site or beside one.
    if (std::abs(end.x() - start.x()) < LEAST_DRAG && std::abs(end.y() - start.y()) < LEAST_DRAG)
        if (const auto site = SiteAt(end)) emit SiteClicked(*site);
}

void RegionMapWidget::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Home:
        case Qt::Key_Escape: ResetZoom(); return;
        case Qt::Key_Plus:
        case Qt::Key_Equal: ZoomBy(KEY_ZOOM); return;
        case Qt::Key_Minus: ZoomBy(1 / KEY_ZOOM); return;
        case Qt::Key_Left: MoveBy(-KEY_MOVE, 0); return;
        case Qt::Key_Right: MoveBy(KEY_MOVE, 0); return;
        case Qt::Key_Up: MoveBy(0, -KEY_MOVE); return;
        case Qt::Key_Down: MoveBy(0, KEY_MOVE); return;
        default: QWidget::keyPressEvent(event);
    }
}

void RegionMapWidget::contextMenuEvent(QContextMenuEvent* event) { Menu->popup(event->globalPos()); }

bool RegionMapWidget::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    auto* help = static_cast<QHelpEvent*>(event);
    const auto site = SiteAt(help->pos());
    if (!site) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    const region::RegionMap& map = Map->Map();
    QString text = *site < map.Ids.size() ? QString::fromStdString(map.Ids[*site]) : QString::number(*site + 1);
    const double value = *site < map.Value.size() ? map.Value[*site] : std::nan("");
    text += ": " + (std::isfinite(value) ? QString::number(value, 'g', 4) + " " + QString::fromStdString(map.Units)
                                         : QStringLiteral("no value"));
    QToolTip::showText(help->globalPos(), text.trimmed(), this);
    return true;
}

}  // namespace kelmar::ui
