// A paint device whose painting becomes a standard Windows metafile.
#pragma once

#include <QPaintDevice>
#include <QSize>

#include <memory>
#include <optional>
#include <string>

namespace kelmar::ui {

class WmfPaintEngine;

class WmfPaintDevice : public QPaintDevice {
public:
    // A picture of `pixelSize` pixels at `dotsPerInch`, which sizes the
    // fonts given in points as they are on screen.
    WmfPaintDevice(QSize pixelSize, int dotsPerInch);
    ~WmfPaintDevice() override;

    QPaintEngine* paintEngine() const override;

    // The bytes of the metafile once the painter has ended; nothing when a
    // shape or a text was too large for the format.
    std::optional<std::string> Metafile() const;

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    QSize PixelSize;
    int DotsPerInch;
    std::unique_ptr<WmfPaintEngine> Engine;
};

}  // namespace kelmar::ui
