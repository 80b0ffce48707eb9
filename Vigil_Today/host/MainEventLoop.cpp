#include "host/MainEventLoop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>

#include "runtime/Queue.h"

namespace vigil {

namespace {

// Arms a single-shot timer on the application's thread that runs `task` at `deadline`: rounded up
// to the millisecond, so a tick never comes early.
void armAt(QCoreApplication* app, std::chrono::steady_clock::time_point deadline,
           Queue::Task task) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    QTimer::singleShot(std::max(left, std::chrono::milliseconds(0)), Qt::PreciseTimer, app,
                       std::move(task));
}

}  // namespace

void runMainQueueOnEventLoop(QCoreApplication& app) {
    QPointer<QCoreApplication> application(&app);
    Queue::setMainExecutor([application](Queue::Task task) {
        if (application)
            QMetaObject::invokeMethod(application, std::move(task), Qt::QueuedConnection);
    });
    Queue::setMainTimedExecutor(
        [application](std::chrono::steady_clock::time_point deadline, Queue::Task task) {
            if (!application)
                return;
            if (QThread::currentThread() == application->thread()) {
                armAt(application, deadline, std::move(task));
                return;
            }
            // Timers belong to the thread that starts them: arm it from the loop's thread.
            QMetaObject::invokeMethod(
                application,
                [application, deadline, task = std::move(task)]() mutable {
                    if (application)
                        armAt(application, deadline, std::move(task));
                },
                Qt::QueuedConnection);
        });
}

void stopRunningMainQueueOnEventLoop() {
    Queue::setMainTimedExecutor(nullptr);
    Queue::setMainExecutor(nullptr);
}

}  // namespace vigil
