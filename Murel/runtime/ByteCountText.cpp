#include "runtime/ByteCountText.h"

#include <array>
#include <cmath>

namespace murel {

namespace {

struct Unit {
  const char* name;
  int fractionDigits;
};

constexpr std::array<Unit, 5> kUnits{{{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}}};

QString number(double value, int fractionDigits, const QLocale& locale) {
  QString text = locale.toString(value, 'f', fractionDigits);
  if (fractionDigits == 0) return text;
  // Drop the zeros a fixed precision pads with, and the separator if nothing is left after it.
  const QString separator = locale.decimalPoint();
  const qsizetype point = text.lastIndexOf(separator);
  if (point < 0) return text;
  qsizetype end = text.size();
  while (end > point + separator.size() && text.at(end - 1) == locale.zeroDigit().at(0)) --end;
  if (end == point + separator.size()) end = point;
  return text.left(end);
}

}  // namespace

QString fileByteCountText(std::int64_t bytes, const QLocale& locale) {
  if (bytes < 1000) {
    const std::int64_t n = bytes < 0 ? 0 : bytes;
    return locale.toString(qlonglong(n)) + (n == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
  }
  double scale = 1000.0;
  for (std::size_t i = 0; i < kUnits.size(); ++i, scale *= 1000.0) {
    const Unit& unit = kUnits[i];
    const double factor = std::pow(10.0, unit.fractionDigits);
    const double rounded = std::round(double(bytes) / scale * factor) / factor;
    if (rounded >= 1000.0 && i + 1 < kUnits.size()) continue;
    return number(rounded, unit.fractionDigits, locale) + QLatin1Char(' ') + QLatin1String(unit.name);
  }
  return {};
}

}  // namespace murel
