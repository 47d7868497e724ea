// The curves of a trend as lines and marks, before Qt Charts sees them: a
// curve breaks where a reading is not Good (that reading becomes a mark)
// and where readings stop for a while; a boolean curve is drawn in steps.
#pragma once

#include <QColor>
#include <QPointF>
#include <QString>
#include <string>
#include <vector>

#include "app/TrendBuffer.h"

namespace tagwell {

struct TrendCurve {
  std::string name;
  std::string units;  // EU units (item property 100); "" when the server gives none
  CurveKind kind = CurveKind::Number;
  QColor color;
  std::vector<SeriesPoint> points;  // in time order
  bool thinned = false;             // points are a thinned picture of more readings
};

struct CurveShape {
  // Lines of Good readings (x: ms since 1970, y: value), one per run
  // without a break.
  std::vector<std::vector<QPointF>> lines;
  // Readings that are not Good, at their value.
  std::vector<QPointF> marks;
  // More breaks than lines may be drawn: the later ones are bridged.
  bool bridged = false;
};

inline constexpr std::size_t kMostLinesPerCurve = 400;

// Readings further apart than this break the line: five typical steps (the
// median), and never less than minHoleMs nor 3 s (time stamps of recorded
// rows have whole seconds).
qint64 HoleThreshold(const std::vector<SeriesPoint>& points, qint64 minHoleMs);

CurveShape ShapeOf(const TrendCurve& curve, qint64 minHoleMs = 0);

// "Name [units]": the legend text of a curve.
QString LegendText(const TrendCurve& curve);

// The colour of the i-th curve: distinct on white, also for most kinds of
// colour blindness for the first eight.
QColor CurveColor(std::size_t i);

// The last reading at or before ms, or null when there is none within the
// hole threshold of ms.
const SeriesPoint* PointAt(const TrendCurve& curve, qint64 ms, qint64 holeMs);

}  // namespace tagwell
