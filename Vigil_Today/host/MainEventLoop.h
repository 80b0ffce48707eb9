#pragma once

class QCoreApplication;

namespace vigil {

// Runs the main queue on the application's event loop: its tasks are posted to the loop and its
// timers wait there as Qt timers (one wake-up per tick, none on the shared timer thread).
void runMainQueueOnEventLoop(QCoreApplication& app);
// Back to the main queue's own list and the shared timer thread (before the application goes).
void stopRunningMainQueueOnEventLoop();

}  // namespace vigil
