// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The colours of the console's own text on the palette it is shown with. On a light palette (the
// palette's Base colour lighter than the middle) every colour is the one the console always had. On
// a dark one each becomes its match: the same hue and saturation with the lightness mirrored (dark
// red becomes light red), then lightened as far as needed for a contrast of kMinContrast against the
// palette's Base, as WCAG 2 level AA asks of text. Pure functions of their arguments.

#include <QColor>
#include <QPalette>

namespace ferrik {

inline constexpr double kMinContrast = 4.5;

// WCAG 2 relative luminance of a colour (its alpha ignored): 0 for black to 1 for white.
double relativeLuminance(const QColor& colour);
// WCAG 2 contrast ratio of two colours: 1 (the same) to 21 (black and white).
double contrastRatio(const QColor& a, const QColor& b);

// Whether the palette is dark: its Base colour's lightness is below the middle (128 of 255).
bool isDarkPalette(const QPalette& palette);

// Text drawn in `colour` on a light palette: the colour to draw it with on `palette`.
QColor textColourFor(const QColor& colour, const QPalette& palette);
// A background of `colour` behind the palette's Text on a light palette: the background to use on
// `palette` (on a dark one, darkened until Text keeps kMinContrast against it).
QColor backgroundColourFor(const QColor& colour, const QPalette& palette);

}  // namespace ferrik
