// Dialog units: the font-relative measure dialog layouts are given in. One horizontal unit is
// a quarter of the font's average character width, one vertical unit an eighth of its height.
#pragma once

#include <QFont>
#include <QRect>

struct DialogBaseUnits {
  int x = 0;  // average character width, in pixels
  int y = 0;  // character height, in pixels
};

// The base units of `font` on the screen: x is the advance of the 52 letters A-Z a-z divided
// by 26, plus 1, halved (integer arithmetic, as Windows defines the average width); y is the
// font's height.
DialogBaseUnits DialogBaseUnitsOf(const QFont& font);

// number * numerator / denominator, rounded half up; all three non-negative, denominator > 0.
int MulDiv(int number, int numerator, int denominator);

// Converts a rectangle given in dialog units to pixels; each of x, y, width and height is
// converted on its own.
QRect MapDialogRect(const QRect& dialogUnits, DialogBaseUnits base);
