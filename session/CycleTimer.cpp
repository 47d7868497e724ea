#include "session/CycleTimer.h"

#include <QTimer>

namespace tagwell {
namespace {

class QtCycleTimer final : public CycleTimer {
 public:
  explicit QtCycleTimer(std::function<void()> tick) {
    timer_.setTimerType(Qt::CoarseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [tick = std::move(tick)] { tick(); });
  }
  void Start(unsigned periodMs) override { timer_.start(static_cast<int>(periodMs)); }
  void Stop() override { timer_.stop(); }

 private:
  QTimer timer_;
};

}  // namespace

std::unique_ptr<CycleTimer> MakeQtCycleTimer(std::function<void()> tick) {
  return std::make_unique<QtCycleTimer>(std::move(tick));
}

}  // namespace tagwell
