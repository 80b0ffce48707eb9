#pragma once

#include <chrono>
#include <functional>

namespace vigil {

// Where work runs. Queue::main() runs every view operation, every signal and the first samples;
// Queue::background() is a small pool of worker threads for resource updates and anything that may
// block. Queues live until the process ends.
class Queue {
  public:
    using Task = std::function<void()>;
    using Executor = std::function<void(Task)>;

    virtual ~Queue() = default;

    static Queue& main();
    static Queue& background();

    // Runs the task as soon as the queue gets to it.
    virtual void async(Task task) = 0;
    // Runs the task once, `seconds` from now (negative or NaN counts as now).
    void asyncAfter(double seconds, Task task);
    // Runs the task once at (not before) `deadline`. By default the deadline waits on the shared
    // timer thread, which then hands the task to this queue; a queue that can wait for deadlines
    // itself does so, and saves that hand-off.
    using Clock = std::chrono::steady_clock;
    virtual void asyncAt(Clock::time_point deadline, Task task);

    // True on the thread that currently drives this queue (for the background pool: any worker).
    virtual bool isCurrent() const = 0;

    // The main queue hands its tasks to an executor: by default they wait until a RunLoop drains
    // them; the program installs one that posts into its event loop. Pass nullptr for the default.
    static void setMainExecutor(Executor executor);
    // Where the main queue's timers wait. By default on the shared timer thread, which hands each
    // tick to the main queue; the program can let them wait in its event loop instead, which then
    // wakes once per tick instead of twice. The executor runs the task on the main thread at (not
    // before) the deadline. Pass nullptr for the default.
    using TimedExecutor = std::function<void(std::chrono::steady_clock::time_point, Task)>;
    static void setMainTimedExecutor(TimedExecutor executor);

    // Stops the timer thread and joins the background pool. Called at exit (and by the program
    // before it returns from main); queues accept no work afterwards and drop what they are given.
    static void shutdown();
    static bool isShutDown();
};

}  // namespace vigil
