#include "app/TrendChart.h"

#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsLineItem>
#include <QKeyEvent>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QScatterSeries>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>

#include "opc/Reading.h"

namespace tagwell {
namespace {

constexpr double kZoomStep = 1.25;
constexpr qint64 kLeastSpanMs = 10000;

QString TimeFormat(qint64 spanMs) {
  if (spanMs <= 2LL * 3600 * 1000) return QStringLiteral("HH:mm:ss");
  if (spanMs <= 24LL * 3600 * 1000) return QStringLiteral("HH:mm");
  return QStringLiteral("dd.MM. HH:mm");
}

// The range of the Good readings of the number curves, with a margin.
void ValueRange(const std::vector<TrendCurve>& curves, double* low, double* high) {
  *low = std::numeric_limits<double>::infinity();
  *high = -*low;
  for (const TrendCurve& c : curves) {
    if (c.kind != CurveKind::Number) continue;
    for (const SeriesPoint& p : c.points) {
      if (!IsGoodQuality(p.quality) || !std::isfinite(p.value)) continue;
      *low = std::min(*low, p.value);
      *high = std::max(*high, p.value);
    }
  }
  if (*low > *high) *low = 0, *high = 1;
  const double margin = *high > *low ? (*high - *low) * 0.05 : std::max(1.0, std::abs(*low) * 0.1);
  *low -= margin;
  *high += margin;
}

void HideFromLegend(QChart* chart, QAbstractSeries* series) {
  for (QLegendMarker* marker : chart->legend()->markers(series)) marker->setVisible(false);
}

QString ValueText(const TrendCurve& c, double value) {
  if (c.kind == CurveKind::Boolean) return value != 0 ? "1 (on)" : "0 (off)";
  QString text = QString::number(value, 'g', 7);
  if (!c.units.empty()) text += " " + QString::fromStdString(c.units);
  return text;
}

}  // namespace

TrendChart::TrendChart(QWidget* parent)
    : QChartView(parent),
      chart_(new QChart),
      time_(new QDateTimeAxis),
      values_(new QValueAxis),
      switches_(new QValueAxis) {
  setChart(chart_);
  setRenderHint(QPainter::Antialiasing);
  setRubberBand(QChartView::HorizontalRubberBand);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  chart_->legend()->setAlignment(Qt::AlignBottom);
  chart_->addAxis(time_, Qt::AlignBottom);
  chart_->addAxis(values_, Qt::AlignLeft);
  chart_->addAxis(switches_, Qt::AlignRight);
  switches_->setRange(-0.1, 1.1);
  switches_->setTickType(QValueAxis::TicksDynamic);
  switches_->setTickAnchor(0);
  switches_->setTickInterval(1);
  switches_->setLabelFormat("%.0f");
  switches_->setTitleText("on/off");
  switches_->setVisible(false);
  time_->setTitleText("local time");
  cursorLine_ = new QGraphicsLineItem(chart_);
  cursorLine_->setPen(QPen(QColor(0x90, 0x90, 0x90), 1, Qt::DashLine));
  cursorLine_->setZValue(100);
  cursorLine_->hide();
  connect(time_, &QDateTimeAxis::rangeChanged, this,
          [this](QDateTime from, QDateTime to) { time_->setFormat(TimeFormat(from.msecsTo(to))); });
}

void TrendChart::SetCurves(std::vector<TrendCurve> curves, qint64 minHoleMs,
                           std::optional<std::pair<qint64, qint64>> timeRange) {
  chart_->removeAllSeries();
  if (timeRange) SetTimeRange(timeRange->first, timeRange->second);
  curves_ = std::move(curves);
  holes_.clear();
  // Qt Charts lays out every series again on each change of an axis, at a
  // cost that grows with its points: the axes are set before the series
  // come.
  double low, high;
  ValueRange(curves_, &low, &high);
  values_->setRange(low, high);
  values_->applyNiceNumbers();
  switches_->setVisible(std::any_of(curves_.begin(), curves_.end(), [](const TrendCurve& c) {
    return c.kind == CurveKind::Boolean;
  }));
  for (const TrendCurve& c : curves_) {
    holes_.push_back(HoleThreshold(c.points, minHoleMs));
    AddCurve(c, minHoleMs, low, high);
  }
}

void TrendChart::AddCurve(const TrendCurve& curve, qint64 minHoleMs, double low, double high) {
  const CurveShape shape = ShapeOf(curve, minHoleMs);
  QValueAxis* axis = curve.kind == CurveKind::Boolean ? switches_ : values_;
  if (curve.kind == CurveKind::Boolean) low = -0.1, high = 1.1;
  QPen pen(curve.color, 2);
  if (&curve - curves_.data() >= 10) pen.setStyle(Qt::DashLine);  // colours come round again
  auto attach = [&](QXYSeries* series) {
    chart_->addSeries(series);
    series->attachAxis(time_);
    series->attachAxis(axis);
  };
  bool legend = true;
  for (const std::vector<QPointF>& line : shape.lines) {
    auto* series = new QLineSeries;
    series->setPen(pen);
    series->setName(LegendText(curve));
    attach(series);  // then the points: the series is laid out once
    series->replace(QList<QPointF>(line.begin(), line.end()));
    if (!legend) HideFromLegend(chart_, series);
    legend = false;
  }
  if (legend) {  // no Good reading: the legend still names the curve
    auto* series = new QLineSeries;
    series->setPen(pen);
    series->setName(LegendText(curve));
    attach(series);
  }
  if (shape.marks.empty()) return;
  auto* marks = new QScatterSeries;
  marks->setMarkerShape(QScatterSeries::MarkerShapeRotatedRectangle);
  marks->setMarkerSize(8);
  marks->setPen(QPen(curve.color, 1.5));
  marks->setBrush(Qt::white);
  QList<QPointF> points;
  points.reserve(static_cast<qsizetype>(shape.marks.size()));
  // A mark stays inside the axis whatever value the bad reading carries.
  for (const QPointF& p : shape.marks)
    points.append(QPointF(p.x(), std::isfinite(p.y()) ? std::clamp(p.y(), low, high) : low));
  attach(marks);
  marks->replace(points);
  HideFromLegend(chart_, marks);
}

void TrendChart::SetTimeRange(qint64 fromMs, qint64 toMs) {
  time_->setRange(QDateTime::fromMSecsSinceEpoch(fromMs), QDateTime::fromMSecsSinceEpoch(toMs));
}

qint64 TrendChart::fromMs() const {
  return time_->min().toMSecsSinceEpoch();
}

qint64 TrendChart::toMs() const {
  return time_->max().toMSecsSinceEpoch();
}

QString TrendChart::ReadoutAt(qint64 ms) const {
  QString text =
      "<b>" + QDateTime::fromMSecsSinceEpoch(ms).toString("yyyy-MM-dd HH:mm:ss") + "</b>";
  for (std::size_t i = 0; i < curves_.size(); ++i) {
    const TrendCurve& c = curves_[i];
    const SeriesPoint* p = PointAt(c, ms, holes_[i]);
    text += QString("&nbsp;&nbsp; <span style='color:%1'>&#9632;</span> %2: ")
                .arg(c.color.name(), QString::fromStdString(c.name).toHtmlEscaped());
    if (!p) {
      text += "no reading";
      continue;
    }
    text += ValueText(c, p->value).toHtmlEscaped();
    if (!IsGoodQuality(p->quality)) text += QString(" (%1)").arg(QualityText(p->quality));
  }
  return text;
}

qint64 TrendChart::TimeAtX(qreal x) const {
  const QRectF area = chart_->plotArea();
  const double share = area.width() > 0 ? (x - area.left()) / area.width() : 0;
  return fromMs() + static_cast<qint64>(share * static_cast<double>(toMs() - fromMs()));
}

void TrendChart::UserRange(qint64 fromMs, qint64 toMs) {
  if (toMs - fromMs < kLeastSpanMs) {
    const qint64 middle = (fromMs + toMs) / 2;
    fromMs = middle - kLeastSpanMs / 2;
    toMs = middle + kLeastSpanMs / 2;
  }
  SetTimeRange(fromMs, toMs);
  if (onViewChanged) onViewChanged();
}

void TrendChart::Zoom(double factor, qint64 aroundMs) {
  const auto from = static_cast<double>(fromMs() - aroundMs) * factor;
  const auto to = static_cast<double>(toMs() - aroundMs) * factor;
  UserRange(aroundMs + static_cast<qint64>(from), aroundMs + static_cast<qint64>(to));
}

void TrendChart::Pan(qint64 byMs) {
  UserRange(fromMs() + byMs, toMs() + byMs);
}

void TrendChart::wheelEvent(QWheelEvent* event) {
  const double factor = event->angleDelta().y() > 0 ? 1 / kZoomStep : kZoomStep;
  Zoom(factor, TimeAtX(event->position().x()));
  event->accept();
}

void TrendChart::mousePressEvent(QMouseEvent* event) {
  const bool pan = event->button() == Qt::MiddleButton ||
                   (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier));
  if (pan) {
    panning_ = true;
    panFromX_ = event->position().x();
    setCursor(Qt::ClosedHandCursor);
    event->accept();
    return;
  }
  if (event->button() == Qt::RightButton) {
    event->accept();
    return;
  }
  QChartView::mousePressEvent(event);
}

void TrendChart::mouseMoveEvent(QMouseEvent* event) {
  const qreal x = event->position().x();
  if (panning_) {
    const QRectF area = chart_->plotArea();
    const double share = area.width() > 0 ? (panFromX_ - x) / area.width() : 0;
    panFromX_ = x;
    Pan(static_cast<qint64>(share * static_cast<double>(toMs() - fromMs())));
  }
  MoveCursorLine(x);
  if (onCursor && chart_->plotArea().contains(event->position())) onCursor(TimeAtX(x));
  QChartView::mouseMoveEvent(event);
}

void TrendChart::mouseReleaseEvent(QMouseEvent* event) {
  if (panning_) {
    panning_ = false;
    unsetCursor();
    event->accept();
    return;
  }
  if (event->button() == Qt::RightButton) {
    Zoom(2.0, (fromMs() + toMs()) / 2);
    event->accept();
    return;
  }
  const qint64 from = fromMs(), to = toMs();
  QChartView::mouseReleaseEvent(event);  // the rubber band zooms here
  if ((fromMs() != from || toMs() != to) && onViewChanged) onViewChanged();
}

void TrendChart::keyPressEvent(QKeyEvent* event) {
  const qint64 span = toMs() - fromMs();
  switch (event->key()) {
    case Qt::Key_Left:
      Pan(-span / 10);
      break;
    case Qt::Key_Right:
      Pan(span / 10);
      break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      Zoom(1 / kZoomStep, (fromMs() + toMs()) / 2);
      break;
    case Qt::Key_Minus:
      Zoom(kZoomStep, (fromMs() + toMs()) / 2);
      break;
    default:
      QChartView::keyPressEvent(event);
      return;
  }
  event->accept();
}

void TrendChart::MoveCursorLine(qreal x) {
  const QRectF area = chart_->plotArea();
  if (x < area.left() || x > area.right()) {
    cursorLine_->hide();
    return;
  }
  cursorLine_->setLine(x, area.top(), x, area.bottom());
  cursorLine_->show();
}

}  // namespace tagwell
