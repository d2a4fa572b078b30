#include "ui/pictures/wmf_paint_device.h"

#include <cmath>
#include <limits>

#include "ui/pictures/wmf_paint_engine.h"

namespace kelmar::ui {

namespace {

constexpr double MILLIMETRES_PER_INCH = 25.4;
// Colours go out as red, green and blue bytes.
constexpr int COLOR_DEPTH_BITS = 24;

}  // namespace

WmfPaintDevice::WmfPaintDevice(QSize pixelSize, int dotsPerInch)
    : PixelSize(pixelSize),
      DotsPerInch(dotsPerInch),
      Engine(std::make_unique<WmfPaintEngine>(pixelSize, dotsPerInch)) {}

WmfPaintDevice::~WmfPaintDevice() = default;

QPaintEngine* WmfPaintDevice::paintEngine() const { return Engine.get(); }

std::optional<std::string> WmfPaintDevice::Metafile() const {
    if (Engine->Overflowed()) return std::nullopt;
    return Engine->Bytes();
}

int WmfPaintDevice::metric(PaintDeviceMetric metric) const {
    const auto millimetres = [this](int pixels) {
        return static_cast<int>(std::lround(pixels * MILLIMETRES_PER_INCH / DotsPerInch));
    };
    switch (metric) {
        case PdmWidth: return PixelSize.width();
        case PdmHeight: return PixelSize.height();
        case PdmWidthMM: return millimetres(PixelSize.width());
        case PdmHeightMM: return millimetres(PixelSize.height());
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY: return DotsPerInch;
        case PdmDepth: return COLOR_DEPTH_BITS;
        case PdmNumColors: return std::numeric_limits<int>::max();
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return static_cast<int>(devicePixelRatioFScale());
    }
    return QPaintDevice::metric(metric);
}

}  // namespace kelmar::ui
