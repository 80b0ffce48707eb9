#pragma once

#include <QObject>

class QSocketNotifier;

namespace vigil {

// Ends the Qt event loop when the process is asked to stop (SIGTERM, SIGINT, SIGHUP), so that
// what runs after it (the history's last write, the pool's join) runs as on Quit. The handler only
// writes a byte into a pipe; the quit itself happens on the main thread. One per process.
class QuitOnSignals : public QObject {
  public:
    explicit QuitOnSignals(QObject* parent = nullptr);
    ~QuitOnSignals() override;
    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

  private:
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace vigil
