// The drawing of a trend on Qt Charts: one colour and one legend entry per
// curve, numbers on the left axis, booleans in steps on a right axis of
// their own, readings that are not Good as hollow diamonds in a gap of the
// line, the time axis in local time. The wheel zooms the time axis around
// the cursor, a drag zooms into the span dragged over, Shift+drag or the
// middle button pans, the right button zooms out; the arrow keys pan, + and
// - zoom.
#pragma once

#include <QChartView>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "app/TrendCurves.h"

class QDateTimeAxis;
class QValueAxis;
class QGraphicsLineItem;

namespace tagwell {

class TrendChart final : public QChartView {
 public:
  explicit TrendChart(QWidget* parent = nullptr);

  // Replaces what is drawn. minHoleMs: the least span without readings
  // that breaks a line (a thinned curve's bucket span). timeRange (from,
  // to ms), when given, is set before the curves are laid out: a change of
  // the time axis afterwards lays every curve out again.
  void SetCurves(std::vector<TrendCurve> curves, qint64 minHoleMs = 0,
                 std::optional<std::pair<qint64, qint64>> timeRange = std::nullopt);
  const std::vector<TrendCurve>& curves() const { return curves_; }
  // The time axis; not a change by the operator.
  void SetTimeRange(qint64 fromMs, qint64 toMs);
  qint64 fromMs() const;
  qint64 toMs() const;
  // Every curve's reading at ms, one line each, as rich text.
  QString ReadoutAt(qint64 ms) const;

  // The operator zoomed or panned.
  std::function<void()> onViewChanged;
  // The cursor is over ms (hover), for the readout.
  std::function<void(qint64 ms)> onCursor;

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void AddCurve(const TrendCurve& curve, qint64 minHoleMs, double low, double high);
  void Zoom(double factor, qint64 aroundMs);
  void Pan(qint64 byMs);
  void UserRange(qint64 fromMs, qint64 toMs);
  qint64 TimeAtX(qreal x) const;
  void MoveCursorLine(qreal x);

  QChart* chart_;
  QDateTimeAxis* time_;
  QValueAxis* values_;
  QValueAxis* switches_;
  QGraphicsLineItem* cursorLine_;
  std::vector<TrendCurve> curves_;
  std::vector<qint64> holes_;  // per curve
  bool panning_ = false;
  qreal panFromX_ = 0;
};

}  // namespace tagwell
