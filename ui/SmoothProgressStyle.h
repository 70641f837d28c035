#pragma once

#include <QProxyStyle>

// Draws a progress bar as one solid run instead of blocks: with blocks of about 9 pixels a
// one-percent step of a narrow bar shows only every third or fourth step.
class SmoothProgressStyle : public QProxyStyle {
  public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override;
};
