// The toolkit's own tab look with less room beside each caption, so that the
// four tab captions fit the narrow left pane without scroll arrows.
#pragma once

#include <QProxyStyle>

namespace kelmar::ui {

class CompactTabStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override {
        // Horizontal room around a tab caption, in pixels.
        constexpr int TAB_CAPTION_SPACE = 10;
        if (metric == PM_TabBarTabHSpace) return TAB_CAPTION_SPACE;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

}  // namespace kelmar::ui
