// The requests to end that the system sends a window program (SIGTERM from a shutdown or
// `kill`, SIGHUP when its session ends), turned into the window's own Выход.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace app {

class TQuitSignals : public QObject {
 public:
  // From now until destroyed, each such signal makes quit run on this (the user-interface)
  // thread, from the event loop, also inside a modal one. One at a time.
  explicit TQuitSignals(std::function<void()> quit);
  ~TQuitSignals() override;
  TQuitSignals(const TQuitSignals&) = delete;
  TQuitSignals& operator=(const TQuitSignals&) = delete;

  // True once a signal has come: a conversion in progress, which keeps the event loop
  // waiting, asks this and stops, leaving no temporary file behind.
  static bool Requested();

 private:
  void Arrived();

  std::function<void()> quit_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace app
