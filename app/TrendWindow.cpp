#include "app/TrendWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>

#include "opc/Reading.h"

namespace tagwell {
namespace {

constexpr qint64 kHourMs = 3600LL * 1000;
constexpr int kRedrawMs = 500;
const char* const kDatabaseFilter = "Database Files (*.db *.sqlite *.sqlite3 *.tagwell-db)";

QString LocalText(qint64 ms) {
  return QDateTime::fromMSecsSinceEpoch(ms).toString("yyyy-MM-dd HH:mm:ss");
}

QString NameList(const QStringList& names) {
  return names.size() <= 5
             ? names.join(", ")
             : names.mid(0, 5).join(", ") + QString(" and %1 more").arg(names.size() - 5);
}

std::string NumberText(double value) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

QString CsvField(const QString& text) {
  if (!text.contains(',') && !text.contains('"') && !text.contains('\n')) return text;
  return '"' + QString(text).replace("\"", "\"\"") + '"';
}

CurveKind KindOfRecordedType(const std::string& type) {
  if (type == "boolean") return CurveKind::Boolean;
  if (type == "string") return CurveKind::NoCurve;
  return CurveKind::Number;
}

}  // namespace

TrendWindow::TrendWindow(TrendWindowOptions options, QWidget* parent)
    : QWidget(parent, Qt::Window), options_(std::move(options)), items_(options_.items) {
  setWindowTitle("Tagwell - Trend");
  setAttribute(Qt::WA_DeleteOnClose, false);
  resize(1000, 620);
  BuildControls();
  FillItemList();
  ConnectControls();
  if (options_.live) {
    options_.live->onChanged = [this] {
      if (!redraw_->isActive()) redraw_->start(kRedrawMs);
    };
  }
  ShowPeriod(TrendPeriod::Live);
}

TrendWindow::~TrendWindow() {
  if (options_.live) options_.live->onChanged = nullptr;
  // The connection ends on the thread that made it; nothing is pumped
  // while this window is half gone.
  if (databaseThread_) {
    const com::CallWaitPump pump = com::GetCallWaitPump();
    com::SetCallWaitPump(nullptr);
    databaseThread_->Run([this] { database_.reset(); });
    com::SetCallWaitPump(pump);
  }
}

void TrendWindow::OnDatabaseThread(const std::function<void()>& work) {
  if (!databaseThread_) databaseThread_ = std::make_unique<com::WorkThread>();
  databaseThread_->Run(work);
}

void TrendWindow::BuildControls() {
  auto* top = new QHBoxLayout;
  periodBox_ = new QComboBox;
  periodBox_->addItems({"Live: last 10 minutes", "Last hour", "Last day", "From - to"});
  fromEdit_ = new QDateTimeEdit;
  toEdit_ = new QDateTimeEdit;
  for (QDateTimeEdit* edit : {fromEdit_, toEdit_}) {
    edit->setDisplayFormat("yyyy-MM-dd HH:mm");
    edit->setCalendarPopup(true);
    edit->setEnabled(false);
  }
  const QDateTime now = QDateTime::fromMSecsSinceEpoch(Now());
  fromEdit_->setDateTime(now.addDays(-1));
  toEdit_->setDateTime(now);
  showButton_ = new QPushButton("&Show");
  pauseButton_ = new QPushButton("&Pause");
  pauseButton_->setCheckable(true);
  followButton_ = new QPushButton("&Follow");
  resetButton_ = new QPushButton("&Reset zoom");
  databaseButton_ = new QPushButton("&Database...");
  pngButton_ = new QPushButton("Export P&NG...");
  csvButton_ = new QPushButton("Export &CSV...");
  top->addWidget(new QLabel("Period:"));
  for (QWidget* w :
       std::initializer_list<QWidget*>{periodBox_, fromEdit_, new QLabel("to"), toEdit_,
                                       showButton_, pauseButton_, followButton_, resetButton_})
    top->addWidget(w);
  top->addStretch(1);
  for (QWidget* w : {databaseButton_, pngButton_, csvButton_}) top->addWidget(w);

  itemList_ = new QListWidget;
  itemList_->setAccessibleName("Items");
  chart_ = new TrendChart;
  auto* split = new QSplitter;
  split->addWidget(itemList_);
  split->addWidget(chart_);
  split->setStretchFactor(1, 1);
  split->setSizes({220, 780});

  readout_ = new QLabel;
  readout_->setTextFormat(Qt::RichText);
  readout_->setWordWrap(true);
  status_ = new QLabel;
  notes_ = new QLabel;
  notes_->setWordWrap(true);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(split, 1);
  layout->addWidget(readout_);
  layout->addWidget(status_);
  layout->addWidget(notes_);
  redraw_ = new QTimer(this);
  redraw_->setSingleShot(true);
}

void TrendWindow::ConnectControls() {
  connect(redraw_, &QTimer::timeout, this, [this] { RefreshLive(); });
  connect(periodBox_, &QComboBox::activated, this, [this](int index) { OnPeriodChosen(index); });
  connect(showButton_, &QPushButton::clicked, this,
          [this] { OnPeriodChosen(periodBox_->currentIndex()); });
  connect(pauseButton_, &QPushButton::clicked, this, [this](bool on) { SetPaused(on); });
  connect(followButton_, &QPushButton::clicked, this, [this] { Follow(); });
  connect(resetButton_, &QPushButton::clicked, this, [this] {
    if (period_ == TrendPeriod::Live)
      Follow();
    else
      LoadHistory(historyFrom_, historyTo_);
  });
  connect(databaseButton_, &QPushButton::clicked, this, [this] {
    const QString path = Choose("Open a database", kDatabaseFilter, false);
    if (!path.isEmpty() && OpenDatabase(path.toStdString()) && period_ != TrendPeriod::Live)
      LoadHistory(historyFrom_, historyTo_);
  });
  connect(pngButton_, &QPushButton::clicked, this, [this] {
    const QString path = Choose("Export the trend as PNG", "PNG Images (*.png)", true);
    if (!path.isEmpty()) ExportPng(path.toStdString());
  });
  connect(csvButton_, &QPushButton::clicked, this, [this] {
    const QString path = Choose("Export the trend as CSV", "CSV Files (*.csv)", true);
    if (!path.isEmpty()) ExportCsv(path.toStdString());
  });
  connect(itemList_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    const int row = itemList_->row(item);
    if (row < 0 || row >= static_cast<int>(items_.size())) return;
    items_[row].chosen = item->checkState() == Qt::Checked;
    if (period_ == TrendPeriod::Live)
      ShowLive();
    else
      LoadHistory(chart_->fromMs(), chart_->toMs());
  });
  chart_->onViewChanged = [this] { OnViewChanged(); };
  chart_->onCursor = [this](qint64 ms) { readout_->setText(chart_->ReadoutAt(ms)); };
}

void TrendWindow::FillItemList() {
  QSignalBlocker block(itemList_);
  itemList_->clear();
  for (const TrendItem& item : items_) {
    QString text = QString::fromStdString(item.name);
    if (!item.units.empty()) text += " [" + QString::fromStdString(item.units) + "]";
    if (item.kind == CurveKind::NoCurve) text += " (text: no curve)";
    auto* row = new QListWidgetItem(text, itemList_);
    row->setFlags(item.kind == CurveKind::NoCurve ? Qt::ItemIsEnabled
                                                  : Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    if (item.kind != CurveKind::NoCurve)
      row->setCheckState(item.chosen ? Qt::Checked : Qt::Unchecked);
  }
}

std::vector<const TrendItem*> TrendWindow::ChosenItems() const {
  std::vector<const TrendItem*> chosen;
  for (const TrendItem& item : items_)
    if (item.chosen && item.kind != CurveKind::NoCurve) chosen.push_back(&item);
  return chosen;
}

void TrendWindow::ShowPeriod(TrendPeriod period, qint64 fromMs, qint64 toMs) {
  period_ = period;
  periodBox_->setCurrentIndex(static_cast<int>(period));
  fromEdit_->setEnabled(period == TrendPeriod::FromTo);
  toEdit_->setEnabled(period == TrendPeriod::FromTo);
  pauseButton_->setEnabled(period == TrendPeriod::Live);
  followButton_->setEnabled(period == TrendPeriod::Live);
  const qint64 now = Now();
  switch (period) {
    case TrendPeriod::Live:
      following_ = true;
      SetPaused(false);
      ShowLive();
      return;
    case TrendPeriod::LastHour:
      historyFrom_ = now - kHourMs, historyTo_ = now;
      LoadHistory(historyFrom_, historyTo_);
      return;
    case TrendPeriod::LastDay:
      historyFrom_ = now - 24 * kHourMs, historyTo_ = now;
      LoadHistory(historyFrom_, historyTo_);
      return;
    case TrendPeriod::FromTo:
      if (toMs <= fromMs) {
        fromMs = fromEdit_->dateTime().toMSecsSinceEpoch();
        toMs = toEdit_->dateTime().toMSecsSinceEpoch();
      } else {
        fromEdit_->setDateTime(QDateTime::fromMSecsSinceEpoch(fromMs));
        toEdit_->setDateTime(QDateTime::fromMSecsSinceEpoch(toMs));
      }
      if (toMs <= fromMs) {
        status_->setText("The period ends before it begins: choose a later end.");
        return;
      }
      historyFrom_ = fromMs, historyTo_ = toMs;
      LoadHistory(fromMs, toMs);
      return;
  }
}

void TrendWindow::OnPeriodChosen(int index) {
  ShowPeriod(static_cast<TrendPeriod>(std::clamp(index, 0, 3)));
}

void TrendWindow::SetPaused(bool paused) {
  paused_ = paused;
  pauseButton_->setChecked(paused);
  if (paused) following_ = false;
  if (!paused && period_ == TrendPeriod::Live) RefreshLive();
}

void TrendWindow::Follow() {
  following_ = true;
  SetPaused(false);
}

void TrendWindow::OnViewChanged() {
  if (period_ == TrendPeriod::Live) {
    // Looking back stops the view from moving away under the cursor.
    if (!paused_) SetPaused(true);
    status_->setText("Paused: Follow (or Reset zoom) goes back to the last 10 minutes.");
    return;
  }
  // A zoom into thinned curves reads the rows of the new span again.
  const bool thinned = std::any_of(chart_->curves().begin(), chart_->curves().end(),
                                   [](const TrendCurve& c) { return c.thinned; });
  if (thinned)
    QTimer::singleShot(300, this, [this, from = chart_->fromMs(), to = chart_->toMs()] {
      if (chart_->fromMs() == from && chart_->toMs() == to) LoadHistory(from, to);
    });
}

void TrendWindow::RefreshLive() {
  if (period_ != TrendPeriod::Live || paused_) return;
  ShowLive();
}

void TrendWindow::ShowLive() {
  std::vector<TrendCurve> curves;
  QStringList notes, waiting;
  qint64 newest = 0;
  for (const TrendItem& item : items_) {
    if (item.kind == CurveKind::NoCurve) {
      notes << QString("%1 holds text or arrays: listed, no curve.")
                   .arg(QString::fromStdString(item.name));
      continue;
    }
    if (!item.chosen) continue;
    TrendCurve curve{item.name, item.units, item.kind, CurveColor(curves.size()), {}, false};
    if (const LiveTrack* track = options_.live ? options_.live->Find(item.name) : nullptr) {
      curve.points.assign(track->points.begin(), track->points.end());
      std::stable_sort(curve.points.begin(), curve.points.end(),
                       [](const SeriesPoint& a, const SeriesPoint& b) { return a.ms < b.ms; });
      if (!curve.points.empty()) newest = std::max(newest, curve.points.back().ms);
    }
    if (curve.points.empty()) waiting << QString::fromStdString(item.name);
    curves.push_back(std::move(curve));
  }
  if (!options_.live)
    notes << "No live readings in this window: choose a period of the database.";
  else if (!waiting.isEmpty())
    notes << "No reading yet of " + NameList(waiting) + " (Read Item starts the cycle).";
  std::optional<std::pair<qint64, qint64>> range;
  if (following_) {
    const qint64 end = std::max(Now(), newest);
    range.emplace(end - TrendBuffer::kKeptMs, end);
  }
  chart_->SetCurves(std::move(curves), 0, range);
  status_->setText(
      QString("Live: the last 10 minutes of the read cycle, at most %1 readings per item.")
          .arg(options_.live ? options_.live->PerItemLimit() : TrendBuffer::kMostPerItem));
  SetNotes(notes);
}

bool TrendWindow::OpenDatabase(const std::string& path) {
  std::string reason;
  bool opened = false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  OnDatabaseThread([&] {
    auto connection = OpenHistoryDatabase(path, &reason);
    opened = connection != nullptr;
    if (opened) database_ = std::move(connection);
  });
  QApplication::restoreOverrideCursor();
  if (!opened) {
    status_->setText(QString("The database %1 cannot be opened: %2")
                         .arg(QString::fromStdString(path), QString::fromStdString(reason)));
    return false;
  }
  databaseShown_ = path;
  if (items_.empty()) AddRecordedItems();
  return true;
}

// A window without rows of its own offers what the database recorded.
void TrendWindow::AddRecordedItems() {
  std::vector<RecordedItem> recorded;
  std::string reason;
  bool read = false;
  OnDatabaseThread([&] { read = ReadRecordedItems(*database_, &recorded, &reason); });
  if (!read) {
    status_->setText("The recorded items cannot be read: " + QString::fromStdString(reason));
    return;
  }
  for (const RecordedItem& r : recorded) {
    TrendItem item{r.name, {}, KindOfRecordedType(r.type), false};
    item.chosen = recorded.size() <= 10 && item.kind != CurveKind::NoCurve;
    items_.push_back(std::move(item));
  }
  FillItemList();
}

bool TrendWindow::EnsureDatabase() {
  if (database_) return true;
  std::string path = options_.databasePath;
  if (path.empty()) path = Choose("Open a database", kDatabaseFilter, false).toStdString();
  if (path.empty()) {
    status_->setText("No database: open one with Database... to see the recorded readings.");
    return false;
  }
  return OpenDatabase(path);
}

void TrendWindow::LoadHistory(qint64 fromMs, qint64 toMs) {
  if (!EnsureDatabase()) {
    chart_->SetCurves({});
    chart_->SetTimeRange(fromMs, toMs);
    return;
  }
  HistoryRequest request;
  std::vector<const TrendItem*> chosen = ChosenItems();
  for (const TrendItem* item : chosen) request.names.push_back(item->name);
  request.fromMs = fromMs;
  request.toMs = toMs;
  request.buckets = std::clamp(chart_->width(), 200, 4000);
  HistoryResult result;
  std::string reason;
  bool ok = false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  OnDatabaseThread([&] { ok = ReadHistory(*database_, request, &result, &reason); });
  QApplication::restoreOverrideCursor();
  if (!ok) {
    status_->setText("The rows cannot be read: " + QString::fromStdString(reason));
    return;
  }
  std::vector<TrendCurve> curves;
  QStringList notes, empty;
  long rows = 0;
  for (std::size_t i = 0; i < result.items.size(); ++i) {
    ItemHistory& h = result.items[i];
    const QString name = QString::fromStdString(h.name);
    rows += h.rows;
    if (h.rows == 0) empty << name;
    if (h.textRows > 0)
      notes << QString("%1: %2 rows hold text, not numbers: left out.").arg(name).arg(h.textRows);
    if (h.thinned)
      notes << QString(
                   "%1: %2 rows drawn as %3 points (the lowest and highest Good reading of "
                   "every %4 s, and the first one that is not Good).")
                   .arg(name)
                   .arg(h.rows)
                   .arg(h.points.size())
                   .arg(QString::number(result.bucketMs / 1000.0, 'g', 3));
    const CurveKind kind = h.boolean ? CurveKind::Boolean : chosen[i]->kind;
    curves.push_back(
        TrendCurve{h.name, chosen[i]->units, kind, CurveColor(i), std::move(h.points), h.thinned});
  }
  if (chosen.empty())
    notes << "No item is ticked: tick the items to draw.";
  else if (rows == 0)
    notes.prepend("The database has no rows of these items from " + LocalText(fromMs) + " to " +
                  LocalText(toMs) + ".");
  else if (!empty.isEmpty())
    notes.prepend("No rows in this period of " + NameList(empty) + ".");
  chart_->SetCurves(std::move(curves), 5 * result.bucketMs / 2, std::pair(fromMs, toMs));
  status_->setText(QString("History from %1 to %2: %3 rows from %4.")
                       .arg(LocalText(fromMs), LocalText(toMs))
                       .arg(rows)
                       .arg(QString::fromStdString(databaseShown_)));
  SetNotes(notes);
}

bool TrendWindow::ExportPng(const std::string& path) {
  const bool ok = chart_->grab().save(QString::fromStdString(path), "PNG");
  status_->setText(ok ? "Saved " + QString::fromStdString(path)
                      : "Cannot write " + QString::fromStdString(path));
  return ok;
}

// The readings of the curves shown within the time axis, in time order.
bool TrendWindow::ExportCsv(const std::string& path) {
  struct Row {
    qint64 ms;
    const TrendCurve* curve;
    const SeriesPoint* point;
  };
  std::vector<Row> rows;
  const qint64 from = chart_->fromMs(), to = chart_->toMs();
  for (const TrendCurve& c : chart_->curves())
    for (const SeriesPoint& p : c.points)
      if (p.ms >= from && p.ms <= to) rows.push_back({p.ms, &c, &p});
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Row& a, const Row& b) { return a.ms < b.ms; });
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
    status_->setText("Cannot write " + QString::fromStdString(path) + ": " + file.errorString());
    return false;
  }
  QByteArray out = "time,item,value,quality\n";
  for (const Row& r : rows) {
    out += QDateTime::fromMSecsSinceEpoch(r.ms).toString("yyyy-MM-dd HH:mm:ss.zzz").toUtf8() + ',';
    out += CsvField(QString::fromStdString(r.curve->name)).toUtf8() + ',';
    out += QByteArray::fromStdString(NumberText(r.point->value)) + ',';
    out += CsvField(QualityText(r.point->quality)).toUtf8() + '\n';
  }
  const bool ok = file.write(out) == out.size() && file.flush();
  status_->setText(
      ok ? QString("Saved %1 readings to %2").arg(rows.size()).arg(QString::fromStdString(path))
         : "Cannot write " + QString::fromStdString(path) + ": " + file.errorString());
  return ok;
}

void TrendWindow::SetNotes(const QStringList& notes) {
  notes_->setText(notes.join('\n'));
}

QString TrendWindow::notes() const {
  return notes_->text();
}

QString TrendWindow::status() const {
  return status_->text();
}

QString TrendWindow::Choose(const QString& caption, const QString& filter, bool save) {
  if (options_.chooseFile)
    return QString::fromStdString(options_.chooseFile(this, caption, filter, save));
  return save ? QFileDialog::getSaveFileName(this, caption, {}, filter)
              : QFileDialog::getOpenFileName(this, caption, {}, filter, nullptr,
                                             QFileDialog::ReadOnly);
}

qint64 TrendWindow::Now() const {
  return options_.now ? options_.now() : QDateTime::currentMSecsSinceEpoch();
}

}  // namespace tagwell
