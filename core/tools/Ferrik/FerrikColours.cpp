// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "FerrikColours.h"

#include <cmath>

namespace ferrik {

namespace {

constexpr int kMiddleLightness = 128;
// Lightness steps of QColor's HSL model (0 to 255).
constexpr int kMaxLightness = 255;
// A little above the target, so that rounding to 8-bit channels never falls below it.
constexpr double kContrastMargin = 0.05;

double linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

// The colour with the same hue and saturation and HSL lightness `lightness`.
QColor withLightness(const QColor& colour, int lightness) {
    const QColor hsl = colour.toHsl();
    return QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), lightness);
}

}  // namespace

double relativeLuminance(const QColor& colour) {
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool isDarkPalette(const QPalette& palette) {
    return palette.color(QPalette::Base).lightness() < kMiddleLightness;
}

QColor textColourFor(const QColor& colour, const QPalette& palette) {
    if (!isDarkPalette(palette)) {
        return colour;
    }
    const QColor base = palette.color(QPalette::Base);
    int lightness = kMaxLightness - colour.toHsl().lightness();
    QColor result = withLightness(colour, lightness);
    while (lightness < kMaxLightness && contrastRatio(result, base) < kMinContrast + kContrastMargin) {
        result = withLightness(colour, ++lightness);
    }
    result.setAlpha(colour.alpha());
    return result;
}

QColor backgroundColourFor(const QColor& colour, const QPalette& palette) {
    if (!isDarkPalette(palette)) {
        return colour;
    }
    const QColor text = palette.color(QPalette::Text);
    int lightness = kMaxLightness - colour.toHsl().lightness();
    QColor result = withLightness(colour, lightness);
    while (lightness > 0 && contrastRatio(result, text) < kMinContrast + kContrastMargin) {
        result = withLightness(colour, --lightness);
    }
    result.setAlpha(colour.alpha());
    return result;
}

}  // namespace ferrik
