// The trend window: the chosen items as curves over time, live from the
// read cycle (the last ten minutes) or over a period from the database the
// readings are recorded into, with the value under the cursor, zoom and
// pan, pause and follow, and export as PNG and CSV.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/TrendBuffer.h"
#include "app/TrendChart.h"
#include "app/TrendItems.h"
#include "db/Ado.h"
#include "platform/com/CallWait.h"

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QListWidget;
class QPushButton;
class QTimer;

namespace tagwell {

struct TrendWindowOptions {
  std::vector<TrendItem> items;
  // The live readings; null when there are none (a window that only looks
  // at a database). Outlives the window.
  TrendBuffer* live = nullptr;
  // The database being recorded into ("" when none): history is read there
  // until the operator opens another one.
  std::string databasePath;
  // ms since 1970 now; the system clock when not given.
  std::function<qint64()> now;
  // A file to open (save false) or to write (save true); "" when the
  // operator cancelled. A Qt file dialog when not given.
  std::function<std::string(QWidget* owner, const QString& caption, const QString& filter,
                            bool save)>
      chooseFile;
};

enum class TrendPeriod { Live, LastHour, LastDay, FromTo };

class TrendWindow final : public QWidget {
 public:
  explicit TrendWindow(TrendWindowOptions options, QWidget* parent = nullptr);
  ~TrendWindow() override;

  // What the buttons do, also for tests and tools.
  void ShowPeriod(TrendPeriod period, qint64 fromMs = 0, qint64 toMs = 0);
  bool OpenDatabase(const std::string& path);
  void SetPaused(bool paused);
  void Follow();
  bool ExportPng(const std::string& path);
  bool ExportCsv(const std::string& path);
  // Redraws the live curves now (normally at most twice a second).
  void RefreshLive();

  TrendChart* chart() const { return chart_; }
  QString notes() const;
  QString status() const;
  bool paused() const { return paused_; }
  TrendPeriod period() const { return period_; }

 private:
  void BuildControls();
  void ConnectControls();
  void FillItemList();
  std::vector<const TrendItem*> ChosenItems() const;
  void ShowLive();
  void LoadHistory(qint64 fromMs, qint64 toMs);
  bool EnsureDatabase();
  void AddRecordedItems();
  void OnPeriodChosen(int index);
  void OnViewChanged();
  void SetNotes(const QStringList& notes);
  QString Choose(const QString& caption, const QString& filter, bool save);
  qint64 Now() const;
  // Runs work on the window's database thread, which owns database_; the
  // window keeps drawing meanwhile (operator input waits for the end).
  void OnDatabaseThread(const std::function<void()>& work);

  TrendWindowOptions options_;
  std::unique_ptr<com::WorkThread> databaseThread_;
  std::vector<TrendItem> items_;
  std::shared_ptr<ado::Connection> database_;
  std::string databaseShown_;
  TrendPeriod period_ = TrendPeriod::Live;
  bool paused_ = false;
  bool following_ = true;
  qint64 historyFrom_ = 0, historyTo_ = 0;

  QListWidget* itemList_ = nullptr;
  QComboBox* periodBox_ = nullptr;
  QDateTimeEdit* fromEdit_ = nullptr;
  QDateTimeEdit* toEdit_ = nullptr;
  QPushButton* showButton_ = nullptr;
  QPushButton* pauseButton_ = nullptr;
  QPushButton* followButton_ = nullptr;
  QPushButton* resetButton_ = nullptr;
  QPushButton* databaseButton_ = nullptr;
  QPushButton* pngButton_ = nullptr;
  QPushButton* csvButton_ = nullptr;
  TrendChart* chart_ = nullptr;
  QLabel* readout_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* notes_ = nullptr;
  QTimer* redraw_ = nullptr;
};

}  // namespace tagwell
