#include "app/gui/dialog_units.h"

#include <QFontMetrics>
#include <QString>
#include <cstdint>

DialogBaseUnits DialogBaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(letters / 26 + 1) / 2, metrics.height()};
}

int MulDiv(int number, int numerator, int denominator) {
  const int64_t product = int64_t{number} * numerator;
  return static_cast<int>((product + denominator / 2) / denominator);
}

QRect MapDialogRect(const QRect& dialogUnits, DialogBaseUnits base) {
  return {MulDiv(dialogUnits.x(), base.x, 4), MulDiv(dialogUnits.y(), base.y, 8),
          MulDiv(dialogUnits.width(), base.x, 4), MulDiv(dialogUnits.height(), base.y, 8)};
}
