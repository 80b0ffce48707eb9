#include "host/QuitOnSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include "C/system/ErrorReport.h"

namespace vigil {

namespace {

int wakePipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakePipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

QuitOnSignals::QuitOnSignals(QObject* parent) : QObject(parent) {
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        reportError("pipe2",
                    "cannot watch for stop signals; SIGTERM ends Vigil without its last "
                    "history write");
        return;
    }
    notifier_ = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    QObject::connect(notifier_, &QSocketNotifier::activated, this, [] {
        char buffer[16];
        while (::read(wakePipe[0], buffer, sizeof buffer) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

QuitOnSignals::~QuitOnSignals() {
    for (int signal : kSignals)
        ::signal(signal, SIG_DFL);
    delete notifier_;
    for (int& fd : wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

}  // namespace vigil
