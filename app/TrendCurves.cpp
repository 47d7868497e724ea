#include "app/TrendCurves.h"

#include <algorithm>

namespace tagwell {

qint64 HoleThreshold(const std::vector<SeriesPoint>& points, qint64 minHoleMs) {
  constexpr qint64 kLeastHoleMs = 3000;
  std::vector<qint64> steps;
  steps.reserve(points.size());
  for (std::size_t i = 1; i < points.size(); ++i)
    if (points[i].ms > points[i - 1].ms) steps.push_back(points[i].ms - points[i - 1].ms);
  qint64 median = 0;
  if (!steps.empty()) {
    auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    median = *middle;
  }
  return std::max({5 * median, minHoleMs, kLeastHoleMs});
}

CurveShape ShapeOf(const TrendCurve& curve, qint64 minHoleMs) {
  CurveShape shape;
  const qint64 hole = HoleThreshold(curve.points, minHoleMs);
  std::vector<QPointF> line;
  const SeriesPoint* previous = nullptr;  // the last Good reading on the line
  auto breakLine = [&] {
    if (line.empty()) return;
    if (shape.lines.size() + 1 >= kMostLinesPerCurve) {
      shape.bridged = true;
      return;  // keep drawing on the same line
    }
    shape.lines.push_back(std::move(line));
    line.clear();
    previous = nullptr;
  };
  for (const SeriesPoint& p : curve.points) {
    if (!IsGoodQuality(p.quality)) {
      shape.marks.emplace_back(static_cast<qreal>(p.ms), p.value);
      breakLine();
      continue;
    }
    if (previous && p.ms - previous->ms > hole) breakLine();
    if (previous && curve.kind == CurveKind::Boolean && p.value != previous->value)
      line.emplace_back(static_cast<qreal>(p.ms), previous->value);
    line.emplace_back(static_cast<qreal>(p.ms), p.value);
    previous = &p;
  }
  if (!line.empty()) shape.lines.push_back(std::move(line));
  return shape;
}

QString LegendText(const TrendCurve& curve) {
  QString text = QString::fromStdString(curve.name);
  if (!curve.units.empty()) text += " [" + QString::fromStdString(curve.units) + "]";
  return text;
}

QColor CurveColor(std::size_t i) {
  // Okabe and Ito's palette without its yellow, then three of Tableau's.
  static const QColor kColors[] = {QColor(0x00, 0x72, 0xB2), QColor(0xD5, 0x5E, 0x00),
                                   QColor(0x00, 0x9E, 0x73), QColor(0xCC, 0x79, 0xA7),
                                   QColor(0xE6, 0x9F, 0x00), QColor(0x56, 0xB4, 0xE9),
                                   QColor(0x00, 0x00, 0x00), QColor(0x8C, 0x56, 0x4B),
                                   QColor(0x7F, 0x7F, 0x7F), QColor(0xBC, 0xBD, 0x22)};
  return kColors[i % std::size(kColors)];
}

const SeriesPoint* PointAt(const TrendCurve& curve, qint64 ms, qint64 holeMs) {
  const auto& points = curve.points;
  auto after = std::upper_bound(points.begin(), points.end(), ms,
                                [](qint64 t, const SeriesPoint& p) { return t < p.ms; });
  if (after == points.begin()) return nullptr;
  const SeriesPoint& p = *(after - 1);
  return ms - p.ms <= holeMs ? &p : nullptr;
}

}  // namespace tagwell
