#pragma once

// An Xvfb of the test's own. It picks a free display number itself and writes it once it accepts
// clients, so tests running at the same time never race for a display. It never resets: an X
// server that resets whenever its last client leaves refuses the next client for a moment, and
// the tests start and end many short clients (xdotool, the program's --toggle).

#include <QElapsedTimer>
#include <QProcess>

#include <string>

namespace vigil::test {

class XvfbServer {
  public:
    XvfbServer() {
        xvfb_.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-noreset", "-screen", "0",
                                             "1280x800x24", "-nolisten", "tcp"});
        if (!xvfb_.waitForStarted(10000)) {
            reason = "Xvfb is not installed (apt-get install xvfb)";
            return;
        }
        if (!waitForDisplayNumber()) {
            reason = "Xvfb did not start: " + xvfb_.readAllStandardError().toStdString();
            return;
        }
        display_ = ":" + xvfb_.readLine().trimmed().toStdString();
    }
    ~XvfbServer() {
        xvfb_.terminate();
        if (!xvfb_.waitForFinished(10000))
            xvfb_.kill();
    }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    const std::string& display() const { return display_; }

    std::string reason;

  private:
    bool waitForDisplayNumber() {
        QElapsedTimer waited;
        waited.start();
        while (!xvfb_.canReadLine()) {
            if (xvfb_.state() == QProcess::NotRunning || waited.elapsed() > 30000)
                return false;
            xvfb_.waitForReadyRead(200);
        }
        return true;
    }

    QProcess xvfb_;
    std::string display_;
};

}  // namespace vigil::test
