// The program and the widget under a real X server (Xvfb) and a real Wayland compositor (Weston,
// headless): the program starts and shows its panel, answers its command line, keeps one panel
// per session (over a private session bus, and over its lock and socket where no bus runs),
// quits through its header's menu, and keeps its history when stopped or killed; inside a child
// process on the X server the panel is shown, a gauge clicked, the program restarted over the
// same settings, and editing begun and ended.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWindow>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TodayViewController.h"
#include "TodayViewControllerSupport.h"
#include "XvfbServer.h"
#include "details/CPUViewController.h"
#include "host/PanelWindow.h"
#include "platform/Bus.h"
#include "rows/FirstRowViewController.h"
#include "rows/SecondRowViewController.h"
#include "settings/SettingsPanelPlaceStore.h"
#include "settings/SettingsViewController.h"
#include "settings/WidgetDefaults.h"
#include "support/QtTestApp.h"
#include "support/SessionBus.h"
#include "support/TestSupport.h"

extern char** environ;

namespace vigil {
namespace {

using Env = std::map<std::string, std::string>;

// Starts `argv` with this process's environment changed by `changes` (an empty value removes
// the name); output goes to `log`.
// `passFd`, when given, is the child's descriptor 3.
pid_t spawn(const std::vector<std::string>& argv, const Env& changes, const std::string& log,
            const std::string& cwd = {}, int passFd = -1) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        if (!changes.contains(name))
            env.push_back(entry);
    }
    for (const auto& [name, value] : changes) {
        if (!value.empty())
            env.push_back(name + "=" + value);
    }
    std::vector<char*> envp, args;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argCopy = argv;
    for (auto& a : argCopy)
        args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (passFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, passFd, 3);
    if (!cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits for the child; its exit code, or -1 when it had to be killed or died of a signal.
int waitFor(pid_t pid, std::chrono::seconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// True when something listens on the Unix socket.
bool acceptsConnections(const std::string& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

// A sanitizer build lists the leak suppressions it used at exit; the checks of what the program
// says want its own words only.
const std::pair<const std::string, std::string> kQuietLeakCheck{"LSAN_OPTIONS",
                                                                "print_suppressions=0"};

std::string programPath() {
    // VIGIL_TOOLS_DIR is <build>/tools.
    return std::string(VIGIL_TOOLS_DIR) + "/../Vigil_Today/Vigil_Today";
}

// Runs `command` through the shell with `display` as DISPLAY; its standard output, or nothing
// when it fails.
std::string shellOutput(const std::string& command, const std::string& display,
                        const QString& scratch) {
    const std::string line =
        "DISPLAY=" + display + " " + command + " > " + scratch.toStdString() + " 2>/dev/null";
    if (std::system(line.c_str()) != 0)
        return {};
    return readFile(scratch);
}

// The panels now mapped on the display (xdotool finds windows by name).
int visiblePanels(const std::string& display, const QString& scratch) {
    const std::string found =
        shellOutput("xdotool search --onlyvisible --name '^Vigil$'", display, scratch);
    return int(std::count(found.begin(), found.end(), '\n'));
}

struct Finished {
    int status = -1;
    std::string output;
};

// Runs the program to its end with `arguments`; what it printed is its own log's.
Finished runProgram(const std::vector<std::string>& arguments, const Env& env, const QString& log) {
    QFile::remove(log);
    std::vector<std::string> argv{programPath()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const pid_t pid = spawn(argv, env, log.toStdString());
    if (pid <= 0)
        return {};
    const int status = waitFor(pid, std::chrono::seconds(90));
    return {status, readFile(log)};
}

// A private runtime folder (XDG_RUNTIME_DIR) for one session of the program.
std::string runtimeFolder(const QTemporaryDir& dir, const QString& name) {
    const QString path = dir.filePath(name);
    QDir().mkpath(path);
    chmod(path.toUtf8().constData(), 0700);
    return path.toStdString();
}

std::string selfPath() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().toStdString();
}

// Why a test that starts the program cannot run here ("" when it can); with `xdotool`, also
// when xdotool, which clicks and looks up windows, is missing.
std::string whyTheProgramCannotRun(bool xdotool) {
    if (access(programPath().c_str(), X_OK) != 0)
        return "the program is not built: " + programPath();
    if (xdotool && access("/usr/bin/xdotool", X_OK) != 0)
        return "xdotool is not installed (apt-get install xdotool)";
    return {};
}

std::string snapshotPath() {
    return std::string(VIGIL_TOOLS_DIR) + "/vigil-snapshot";
}

std::int64_t wallClockMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// The times of the processor's recorded samples of the last hour, as vigil-snapshot reads them
// from the history under `stateHome`; none when it has none (or fails).
std::vector<std::int64_t> recordedBusyTimes(const std::string& stateHome, const QString& out) {
    QFile::remove(out);
    const pid_t pid = spawn({snapshotPath(), "--history", "cpu.busy", "--since", "1h"},
                            {{"XDG_STATE_HOME", stateHome}, kQuietLeakCheck}, out.toStdString());
    std::vector<std::int64_t> times;
    if (pid <= 0 || waitFor(pid, std::chrono::seconds(60)) != 0)
        return times;
    const std::string text = readFile(out);  // the JSON, after any error line
    const auto json =
        nlohmann::json::parse(text.substr(std::min(text.find('{'), text.size())), nullptr, false);
    if (json.is_discarded() || !json.contains("series") || !json["series"].contains("cpu.busy"))
        return times;
    for (const auto& point : json["series"]["cpu.busy"])
        times.push_back(point.value("time", std::int64_t{0}));
    return times;
}

class EndToEndTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    std::string log() const { return dir.filePath(QStringLiteral("log.txt")).toStdString(); }
    std::string config() const { return dir.filePath(QStringLiteral("config")).toStdString(); }
    // One desktop session for the program: its displays, session bus and runtime folder (an empty
    // value leaves the name unset), this test's settings folder, no platform chosen by hand.
    Env session(const std::string& display, const std::string& wayland, const std::string& runtime,
                const std::string& bus = {}) const {
        return {{"DISPLAY", display},
                {"WAYLAND_DISPLAY", wayland},
                {"QT_QPA_PLATFORM", ""},
                {"DBUS_SESSION_BUS_ADDRESS", bus},
                {"XDG_RUNTIME_DIR", runtime},
                {"XDG_CONFIG_HOME", config()},
                kQuietLeakCheck};
    }
};

TEST_F(EndToEndTest, ProgramShowsItsPanelOnTheDisplay) {
    test::XvfbServer x;
    if (!x.reason.empty())
        GTEST_SKIP() << x.reason;
    if (const std::string why = whyTheProgramCannotRun(false); !why.empty())
        GTEST_SKIP() << why;
    const pid_t program = spawn({programPath()},
                                {{"DISPLAY", x.display()},
                                 {"QT_QPA_PLATFORM", "xcb"},
                                 {"WAYLAND_DISPLAY", ""},
                                 {"XDG_CONFIG_HOME", config()},
                                 {"VIGIL_EXIT_AFTER_MS", "15000"}},
                                log());
    ASSERT_GT(program, 0);

    // The panel: a window named "Vigil", 320 pixels wide, tall enough for both rows. The program
    // quits by itself 15 s after it started (time enough for a slow sanitizer build).
    const QString tree = dir.filePath(QStringLiteral("tree.txt"));
    int height = 0;
    const bool shown = test::waitUntil(
        [&] {
            const std::string command = "xwininfo -display " + x.display() + " -root -tree > " +
                                        tree.toStdString() + " 2>&1";
            if (std::system(command.c_str()) != 0)
                return false;
            for (const QString& line : QString::fromStdString(readFile(tree)).split('\n')) {
                if (!line.contains(QStringLiteral("\"Vigil\"")))
                    continue;
                const auto match = QRegularExpression(QStringLiteral(" 320x(\\d+)\\+")).match(line);
                if (match.hasMatch())
                    height = match.captured(1).toInt();
            }
            return height > 0;
        },
        std::chrono::seconds(30));
    EXPECT_TRUE(shown) << readFile(tree) << readFile(QString::fromStdString(log()));
    EXPECT_GE(height, FirstRowViewController::kRowHeight + SecondRowViewController::kRowHeight);
    EXPECT_EQ(waitFor(program, std::chrono::seconds(60)), 0)
        << readFile(QString::fromStdString(log()));
}

TEST_F(EndToEndTest, WithoutADisplayTheProgramRendersThePanel) {
    if (const std::string why = whyTheProgramCannotRun(false); !why.empty())
        GTEST_SKIP() << why;
    const Env headless{{"DISPLAY", ""},
                       {"WAYLAND_DISPLAY", ""},
                       {"QT_QPA_PLATFORM", ""},
                       {"XDG_CONFIG_HOME", config()},
                       {"XDG_RUNTIME_DIR", runtimeFolder(dir, QStringLiteral("run"))},
                       kQuietLeakCheck};
    const pid_t program = spawn({programPath()}, headless, log(), dir.path().toStdString());
    ASSERT_GT(program, 0);
    EXPECT_EQ(waitFor(program, std::chrono::seconds(60)), 0);
    const QString picture = dir.filePath(QStringLiteral("vigil-panel.png"));
    // That line and nothing else (no complaint from Qt about raising a window no one sees).
    EXPECT_EQ(readFile(QString::fromStdString(log())),
              "Vigil: no display; the panel is rendered in " + picture.toStdString() + "\n");
    const QImage image(picture);
    EXPECT_EQ(image.width(), PanelWindow::kWidth);
    EXPECT_GE(image.height(),
              FirstRowViewController::kRowHeight + SecondRowViewController::kRowHeight);

    // A folder it cannot write to: an error and a failing status, not a success.
    const QString locked = dir.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_EQ(chmod(locked.toUtf8().constData(), 0555), 0);
    if (access(locked.toUtf8().constData(), W_OK) == 0) {
        // root writes anywhere: a path that is not a folder stands in.
        chmod(locked.toUtf8().constData(), 0755);
        QFile::remove(locked + QStringLiteral("/vigil-panel.png"));
        ASSERT_TRUE(QDir(locked).mkpath(QStringLiteral("vigil-panel.png")));
    }
    const pid_t failing = spawn({programPath()}, headless, log(), locked.toStdString());
    ASSERT_GT(failing, 0);
    EXPECT_EQ(waitFor(failing, std::chrono::seconds(60)), 1);
    EXPECT_NE(readFile(QString::fromStdString(log())).find("could not write the picture"),
              std::string::npos);
}

TEST_F(EndToEndTest, CommandLineAnswersAndStops) {
    if (const std::string why = whyTheProgramCannotRun(false); !why.empty())
        GTEST_SKIP() << why;
    // No display and no session bus: nothing here may start a panel.
    const Env env = session("", "", runtimeFolder(dir, QStringLiteral("run")));
    const QString out = dir.filePath(QStringLiteral("out.txt"));

    const Finished help = runProgram({"--help"}, env, out);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.output.rfind("Usage: Vigil_Today [--show | --toggle | --quit", 0), 0u)
        << help.output;
    const Finished version = runProgram({"--version"}, env, out);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "Vigil 0.1.0\n");
    const Finished unknown = runProgram({"--frobnicate"}, env, out);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.output,
              "Vigil_Today: unknown option '--frobnicate' (see Vigil_Today --help)\n");
    const Finished both = runProgram({"--toggle", "--quit"}, env, out);
    EXPECT_EQ(both.status, 2);
    const Finished quit = runProgram({"--quit"}, env, out);
    EXPECT_EQ(quit.status, 1);
    EXPECT_EQ(quit.output, "Vigil_Today: no Vigil panel runs in this session\n");
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("vigil-panel.png"))));
}

TEST_F(EndToEndTest, HeaderMenuQuitsWithoutATray) {
    test::XvfbServer x;
    if (!x.reason.empty())
        GTEST_SKIP() << x.reason;
    if (const std::string why = whyTheProgramCannotRun(true); !why.empty())
        GTEST_SKIP() << why;
    const QString programLog = dir.filePath(QStringLiteral("program.txt"));
    const pid_t program = spawn({programPath()},
                                {{"DISPLAY", x.display()},
                                 {"QT_QPA_PLATFORM", ""},
                                 {"WAYLAND_DISPLAY", ""},
                                 {"DBUS_SESSION_BUS_ADDRESS", ""},
                                 {"XDG_RUNTIME_DIR", runtimeFolder(dir, QStringLiteral("run"))},
                                 {"XDG_CONFIG_HOME", config()},
                                 kQuietLeakCheck},
                                programLog.toStdString());
    ASSERT_GT(program, 0);
    const QString scratch = dir.filePath(QStringLiteral("xdotool.txt"));
    std::string window;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            window =
                shellOutput("xdotool search --onlyvisible --name '^Vigil$'", x.display(), scratch);
            return !window.empty();
        },
        std::chrono::seconds(60)))
        << readFile(programLog);
    window = window.substr(0, window.find('\n'));
    const std::string pid = std::to_string(program);
    const auto windowsOfProgram = [&] {
        const std::string found =
            shellOutput("xdotool search --onlyvisible --pid " + pid, x.display(), scratch);
        return std::count(found.begin(), found.end(), '\n');
    };
    const auto panelOnly = windowsOfProgram();

    // A right click on the header opens the menu (one more window of the program's); its
    // "Quit Vigil" ends the program.
    const std::string rightClick = "xdotool mousemove --window " + window + " 60 12 click 3";
    ASSERT_TRUE(test::waitUntil(
        [&] {
            shellOutput(rightClick, x.display(), scratch);
            return test::waitUntil([&] { return windowsOfProgram() > panelOnly; },
                                   std::chrono::seconds(5));
        },
        std::chrono::seconds(60)))
        << readFile(programLog);
    shellOutput("xdotool key q", x.display(), scratch);
    EXPECT_EQ(waitFor(program, std::chrono::seconds(60)), 0) << readFile(programLog);
    // A normal start on a desktop without a tray has nothing to complain about.
    EXPECT_EQ(readFile(programLog), "");
}

TEST_F(EndToEndTest, OnePanelPerSessionThatToggleAndQuitReach) {
    test::XvfbServer x;
    if (!x.reason.empty())
        GTEST_SKIP() << x.reason;
    if (const std::string why = whyTheProgramCannotRun(true); !why.empty())
        GTEST_SKIP() << why;
    test::PrivateBus bus;
    if (!bus.started())
        GTEST_SKIP() << "dbus-daemon did not start (apt-get install dbus-daemon)";
    const QString scratch = dir.filePath(QStringLiteral("xdotool.txt"));
    const QString out = dir.filePath(QStringLiteral("out.txt"));

    // Once over the session bus, once where no bus runs (the lock and socket in the runtime
    // folder).
    for (const bool withBus : {true, false}) {
        SCOPED_TRACE(withBus ? "session bus" : "no bus");
        const std::string runtime =
            runtimeFolder(dir, withBus ? QStringLiteral("bus") : QStringLiteral("lock"));
        const Env env = session(x.display(), "", runtime, withBus ? bus.address() : "");
        const QString firstLog = dir.filePath(QStringLiteral("first.txt"));
        const pid_t first = spawn({programPath()}, env, firstLog.toStdString());
        ASSERT_GT(first, 0);
        const auto panelsBecome = [&](int count) {
            return test::waitUntil([&] { return visiblePanels(x.display(), scratch) == count; },
                                   std::chrono::seconds(60));
        };
        ASSERT_TRUE(panelsBecome(1)) << readFile(firstLog);
        if (withBus) {
            auto client = Bus::open(bus.address());
            ASSERT_NE(client, nullptr);
            EXPECT_TRUE(client->nameHasOwner("org.vigil.Vigil", std::chrono::seconds(10)));
        } else {
            EXPECT_TRUE(QFileInfo(QString::fromStdString(runtime + "/vigil.socket")).exists());
        }

        // A second start shows the running panel and stops.
        EXPECT_EQ(runProgram({}, env, out).status, 0) << readFile(out);
        EXPECT_EQ(visiblePanels(x.display(), scratch), 1);
        EXPECT_EQ(runProgram({"--toggle"}, env, out).status, 0) << readFile(out);
        EXPECT_TRUE(panelsBecome(0));
        EXPECT_EQ(runProgram({"--toggle"}, env, out).status, 0) << readFile(out);
        EXPECT_TRUE(panelsBecome(1));
        EXPECT_EQ(runProgram({"--quit"}, env, out).status, 0) << readFile(out);
        EXPECT_EQ(waitFor(first, std::chrono::seconds(60)), 0) << readFile(firstLog);
        EXPECT_EQ(readFile(firstLog), "");

        // With no panel running, --toggle starts one.
        const pid_t started = spawn({programPath(), "--toggle"}, env, firstLog.toStdString());
        ASSERT_GT(started, 0);
        EXPECT_TRUE(panelsBecome(1)) << readFile(firstLog);
        EXPECT_EQ(runProgram({"--quit"}, env, out).status, 0) << readFile(out);
        EXPECT_EQ(waitFor(started, std::chrono::seconds(60)), 0) << readFile(firstLog);
    }
}

// A desktop's tray as programs meet it on the session bus: the StatusNotifierWatcher, saying a
// tray host is there and keeping the bus names of the icons that register. Qt looks at it through
// introspection, which sd-bus answers from the table below.
class TrayWatcher {
  public:
    explicit TrayWatcher(const std::string& address) : bus_(Bus::open(address)) {
        static const sd_bus_vtable table[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("RegisterStatusNotifierItem", "s", "", registerItem,
                          SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_PROPERTY("IsStatusNotifierHostRegistered", "b", hostIsThere, 0,
                            SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_VTABLE_END};
        ready_ = bus_ &&
                 sd_bus_add_object_vtable(bus_->handle(), nullptr, "/StatusNotifierWatcher",
                                          "org.kde.StatusNotifierWatcher", table, this) >= 0 &&
                 bus_->requestName("org.kde.StatusNotifierWatcher");
        if (!ready_)
            return;
        thread_ = std::thread([this] {
            while (!stop_ && bus_->process(std::chrono::milliseconds(50))) {
            }
        });
    }
    ~TrayWatcher() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    bool ready() const { return ready_; }
    std::vector<std::string> items() {
        std::lock_guard lock(mutex_);
        return items_;
    }

  private:
    static int registerItem(sd_bus_message* message, void* self, sd_bus_error*) {
        const char* item = nullptr;
        if (sd_bus_message_read(message, "s", &item) < 0)
            return -EINVAL;
        auto* watcher = static_cast<TrayWatcher*>(self);
        std::lock_guard lock(watcher->mutex_);
        watcher->items_.push_back(item);
        return sd_bus_reply_method_return(message, "");
    }
    static int hostIsThere(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                           void*, sd_bus_error*) {
        return sd_bus_message_append(reply, "b", 1);
    }

    std::unique_ptr<Bus> bus_;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> items_;
};

TEST_F(EndToEndTest, WhereATrayRunsTheIconRegistersAndAClickTogglesThePanel) {
    test::XvfbServer x;
    if (!x.reason.empty())
        GTEST_SKIP() << x.reason;
    if (const std::string why = whyTheProgramCannotRun(true); !why.empty())
        GTEST_SKIP() << why;
    test::PrivateBus bus;
    if (!bus.started())
        GTEST_SKIP() << "dbus-daemon did not start (apt-get install dbus-daemon)";
    TrayWatcher tray(bus.address());
    ASSERT_TRUE(tray.ready());
    const Env env =
        session(x.display(), "", runtimeFolder(dir, QStringLiteral("run")), bus.address());
    const QString programLog = dir.filePath(QStringLiteral("program.txt"));
    const pid_t program = spawn({programPath()}, env, programLog.toStdString());
    ASSERT_GT(program, 0);
    const QString scratch = dir.filePath(QStringLiteral("xdotool.txt"));
    const auto panelsBecome = [&](int count) {
        return test::waitUntil([&] { return visiblePanels(x.display(), scratch) == count; },
                               std::chrono::seconds(60));
    };
    ASSERT_TRUE(panelsBecome(1)) << readFile(programLog);
    ASSERT_TRUE(test::waitUntil([&] { return tray.items().size() == 1; }, std::chrono::seconds(60)))
        << readFile(programLog);

    // The tray host's click on the icon: Activate on the item that registered.
    auto host = Bus::open(bus.address());
    ASSERT_NE(host, nullptr);
    const Bus::Target icon{tray.items().front(), "/StatusNotifierItem",
                           "org.kde.StatusNotifierItem"};
    const auto click = [&] {
        std::string error;
        const auto reply = host->call(
            icon, "Activate",
            [](sd_bus_message* m) { return sd_bus_message_append(m, "ii", 0, 0); },
            std::chrono::seconds(10), &error);
        EXPECT_TRUE(reply.has_value()) << error;
    };
    click();
    EXPECT_TRUE(panelsBecome(0));
    click();
    EXPECT_TRUE(panelsBecome(1));
    const QString out = dir.filePath(QStringLiteral("out.txt"));
    EXPECT_EQ(runProgram({"--quit"}, env, out).status, 0) << readFile(out);
    EXPECT_EQ(waitFor(program, std::chrono::seconds(60)), 0);
    EXPECT_EQ(readFile(programLog), "");
}

// A headless Weston for the test, on a socket in a private runtime folder; with XWayland it also
// serves an X display, started when the first X client connects.
class WestonServer {
  public:
    WestonServer(const std::string& runtime, bool xwayland, const std::string& log)
        : runtime_(runtime) {
        const char* weston = "/usr/bin/weston";
        if (access(weston, X_OK) != 0) {
            reason = "Weston is not installed (apt-get install weston)";
            return;
        }
        if (xwayland && access("/usr/bin/Xwayland", X_OK) != 0) {
            reason = "XWayland is not installed (apt-get install xwayland)";
            return;
        }
        // XWayland puts its socket there; an X server made the folder before us, or we do.
        if (mkdir("/tmp/.X11-unix", 01777) == 0)
            chmod("/tmp/.X11-unix", 01777);  // past the umask, as every X server leaves it
        std::vector<std::string> argv{weston, "--backend=headless-backend.so",
                                      "--socket=" + socket(), "--idle-time=0", "--no-config"};
        if (xwayland)
            argv.push_back("--xwayland");
        pid_ = spawn(argv, {{"XDG_RUNTIME_DIR", runtime}}, log);
        if (!test::waitUntil([&] { return acceptsConnections(runtime + "/" + socket()); },
                             std::chrono::seconds(20))) {
            reason = "Weston did not start: " + readFile(QString::fromStdString(log));
            return;
        }
        if (!xwayland)
            return;
        const QRegularExpression listening(QStringLiteral("xserver listening on display (:\\d+)"));
        test::waitUntil(
            [&] {
                const auto match =
                    listening.match(QString::fromStdString(readFile(QString::fromStdString(log))));
                if (match.hasMatch())
                    display = match.captured(1).toStdString();
                return match.hasMatch();
            },
            std::chrono::seconds(20));
        if (display.empty())
            reason = "Weston did not start XWayland: " + readFile(QString::fromStdString(log));
    }
    ~WestonServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitFor(pid_, std::chrono::seconds(20));
        }
    }
    static std::string socket() { return "vigil-wayland"; }

    std::string reason;
    std::string display;

  private:
    std::string runtime_;
    pid_t pid_ = -1;
};

TEST_F(EndToEndTest, HistoryOutlivesTheProgramStoppedWithSigtermAndWithSigkillLessItsLastWrite) {
    test::XvfbServer x;
    if (!x.reason.empty())
        GTEST_SKIP() << x.reason;
    if (const std::string why = whyTheProgramCannotRun(true); !why.empty())
        GTEST_SKIP() << why;
    if (access(snapshotPath().c_str(), X_OK) != 0)
        GTEST_SKIP() << "vigil-snapshot is not built: " << snapshotPath();
    const QString scratch = dir.filePath(QStringLiteral("xdotool.txt"));
    const QString out = dir.filePath(QStringLiteral("snapshot.txt"));
    const std::string state = dir.filePath(QStringLiteral("state")).toStdString();
    Env env = session(x.display(), "", runtimeFolder(dir, QStringLiteral("run")));
    env["HOME"] = dir.path().toStdString();
    env["XDG_STATE_HOME"] = state;

    // Stopped with SIGTERM: no write for an hour, so what is stored is the write at the stop.
    env["VIGIL_HISTORY_WRITE_SECONDS"] = "3600";
    const pid_t first = spawn({programPath()}, env, log());
    ASSERT_GT(first, 0);
    ASSERT_TRUE(test::waitUntil([&] { return visiblePanels(x.display(), scratch) == 1; },
                                std::chrono::seconds(60)))
        << readFile(QString::fromStdString(log()));
    const std::int64_t shown = wallClockMs();
    // It keeps running, and sampling, for five seconds.
    ASSERT_FALSE(test::waitUntil([&] { return waitpid(first, nullptr, WNOHANG) == first; },
                                 std::chrono::seconds(5)))
        << readFile(QString::fromStdString(log()));
    kill(first, SIGTERM);
    EXPECT_EQ(waitFor(first, std::chrono::seconds(60)), 0)
        << readFile(QString::fromStdString(log()));
    const auto stopped = recordedBusyTimes(state, out);
    ASSERT_GE(stopped.size(), 2u) << readFile(out);
    EXPECT_GE(stopped.back(), shown) << "the samples taken after the panel showed are stored";

    // Killed: written every 2 s; what the second run wrote stays, with what the first stored.
    env["VIGIL_HISTORY_WRITE_SECONDS"] = "2";
    const pid_t second = spawn({programPath()}, env, log());
    ASSERT_GT(second, 0);
    std::vector<std::int64_t> written;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            written = recordedBusyTimes(state, out);
            return !written.empty() && written.back() > stopped.back();
        },
        std::chrono::seconds(90)))
        << readFile(out) << readFile(QString::fromStdString(log()));
    const std::int64_t killed = wallClockMs();
    kill(second, SIGKILL);
    waitFor(second, std::chrono::seconds(60));
    const auto afterKill = recordedBusyTimes(state, out);
    EXPECT_TRUE(std::includes(afterKill.begin(), afterKill.end(), stopped.begin(), stopped.end()));
    EXPECT_TRUE(std::includes(afterKill.begin(), afterKill.end(), written.begin(), written.end()));
    ASSERT_FALSE(afterKill.empty());
    EXPECT_GE(afterKill.back(), killed - 60'000) << "at most the last minute is lost";
}

TEST_F(EndToEndTest, OnWaylandThePanelGoesThroughXWaylandWhereItCan) {
    if (const std::string why = whyTheProgramCannotRun(true); !why.empty())
        GTEST_SKIP() << why;
    const std::string runtime = runtimeFolder(dir, QStringLiteral("run"));
    WestonServer weston(runtime, true, dir.filePath(QStringLiteral("weston.txt")).toStdString());
    if (!weston.reason.empty())
        GTEST_SKIP() << weston.reason;
    const Env env = session(weston.display, WestonServer::socket(), runtime);
    const QString programLog = dir.filePath(QStringLiteral("program.txt"));
    const pid_t program = spawn({programPath()}, env, programLog.toStdString());
    ASSERT_GT(program, 0);
    // The panel is an X window on XWayland's display, where it can stay on top and keep its place.
    const QString scratch = dir.filePath(QStringLiteral("xdotool.txt"));
    EXPECT_TRUE(test::waitUntil([&] { return visiblePanels(weston.display, scratch) == 1; },
                                std::chrono::seconds(60)))
        << readFile(programLog);
    const QString out = dir.filePath(QStringLiteral("out.txt"));
    EXPECT_EQ(runProgram({"--quit"}, env, out).status, 0) << readFile(out);
    EXPECT_EQ(waitFor(program, std::chrono::seconds(60)), 0);
    EXPECT_EQ(readFile(programLog), "");
}

TEST_F(EndToEndTest, OnWaylandAloneThePanelIsANormalWindowAndSaysSo) {
    if (const std::string why = whyTheProgramCannotRun(false); !why.empty())
        GTEST_SKIP() << why;
    if (access("/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so", F_OK) !=
            0 &&
        access("/usr/lib/qt6/plugins/platforms/libqwayland-generic.so", F_OK) != 0) {
        GTEST_SKIP() << "Qt's Wayland platform is not installed (apt-get install qt6-wayland)";
    }
    const std::string runtime = runtimeFolder(dir, QStringLiteral("run"));
    WestonServer weston(runtime, false, dir.filePath(QStringLiteral("weston.txt")).toStdString());
    if (!weston.reason.empty())
        GTEST_SKIP() << weston.reason;
    // The client's side of the protocol, written by libwayland, shows what the panel asked for.
    Env env = session("", WestonServer::socket(), runtime);
    env["WAYLAND_DEBUG"] = "client";
    const QString programLog = dir.filePath(QStringLiteral("program.txt"));
    const pid_t program = spawn({programPath()}, env, programLog.toStdString());
    ASSERT_GT(program, 0);
    const QRegularExpression titled(QStringLiteral("xdg_toplevel@\\d+\\.set_title\\(\"Vigil\"\\)"));
    const QRegularExpression drawn(QStringLiteral("wl_surface@\\d+\\.attach\\(wl_buffer@"));
    EXPECT_TRUE(test::waitUntil(
        [&] {
            const QString said = QString::fromStdString(readFile(programLog));
            return titled.match(said).hasMatch() && drawn.match(said).hasMatch();
        },
        std::chrono::seconds(60)))
        << readFile(programLog).substr(0, 4000);
    const QString out = dir.filePath(QStringLiteral("out.txt"));
    EXPECT_EQ(runProgram({"--quit"}, env, out).status, 0) << readFile(out);
    EXPECT_EQ(waitFor(program, std::chrono::seconds(60)), 0)
        << readFile(programLog).substr(0, 3000);
    const QString said = QString::fromStdString(readFile(programLog));
    EXPECT_EQ(said.count(QStringLiteral("Vigil: on Wayland without an X server the panel is a "
                                        "normal window: it cannot stay on top")),
              1);
}

// Runs one phase of the widget inside a child process on the Xvfb display; the child writes its
// findings, one "name=value" line each, to the report.
std::string runPhase(const test::XvfbServer& x, const std::string& phase, const std::string& config,
                     const std::string& report, const std::string& log) {
    const pid_t child = spawn({selfPath(), "--gtest_filter=EndToEndInside.Phase"},
                              {{"DISPLAY", x.display()},
                               {"QT_QPA_PLATFORM", "xcb"},
                               {"WAYLAND_DISPLAY", ""},
                               {"XDG_CONFIG_HOME", config},
                               {"VIGIL_E2E_PHASE", phase},
                               {"VIGIL_E2E_REPORT", report}},
                              log);
    if (child <= 0)
        return "spawn failed";
    const int code = waitFor(child, std::chrono::seconds(120));
    return "exit=" + std::to_string(code) + "\n" + readFile(QString::fromStdString(report));
}

TEST_F(EndToEndTest, ClickRestartAndEditOnTheDisplay) {
    test::XvfbServer x;
    if (!x.reason.empty())
        GTEST_SKIP() << x.reason;
    const std::string first =
        runPhase(x, "first", config(), dir.filePath("first.txt").toStdString(), log());
    EXPECT_EQ(first,
              "exit=0\n"
              "start rows=2 exposed=1 visible=2\n"
              "click contents=3 second=cpu stored=1 shown=1\n")
        << readFile(QString::fromStdString(log()));

    const std::string second =
        runPhase(x, "second", config(), dir.filePath("second.txt").toStdString(), log());
    EXPECT_EQ(second,
              "exit=0\n"
              "start rows=3 exposed=1 visible=3\n"
              "reopened second=cpu\n"
              "edit contents=settings timer=suspended sampling=0 stored=0\n"
              "done contents=2 timer=started sampling=1\n")
        << readFile(QString::fromStdString(log()));
}

// The child's side: a panel with the widget over fixture resources and the shared settings store
// (in the temporary XDG_CONFIG_HOME the parent gives).
TEST(EndToEndInside, Phase) {
    const QString phase = qEnvironmentVariable("VIGIL_E2E_PHASE");
    if (phase.isEmpty())
        GTEST_SKIP() << "runs only inside EndToEndTest's child process on Xvfb";
    QFile report(qEnvironmentVariable("VIGIL_E2E_REPORT"));
    ASSERT_TRUE(report.open(QIODevice::WriteOnly | QIODevice::Truncate));
    const auto note = [&](const QString& line) {
        report.write((line + QStringLiteral("\n")).toUtf8());
        report.flush();
    };

    test::qtApp();
    test::WidgetMainQueue mainQueue;
    test::WidgetMachine machine;
    Defaults& defaults = Defaults::shared();
    ThemeManager themes(defaults);
    NavigationController navigator(defaults);
    TodayViewController today(WidgetContext{*machine.system, navigator, defaults, themes});
    today.view();
    SettingsPanelPlaceStore places(defaults);
    PanelWindow panel(today, places);
    panel.setPanelVisible(true);
    const bool exposed = test::qtWaitUntil(
        [&] { return panel.windowHandle() && panel.windowHandle()->isExposed(); });
    WidgetListViewController& list = *today.listViewController();
    const auto visibleRows = [&] {
        int count = 0;
        for (ViewController* row : list.contents())
            count += row->view()->isVisible() ? 1 : 0;
        return count;
    };
    note(QStringLiteral("start rows=%1 exposed=%2 visible=%3")
             .arg(list.contents().size())
             .arg(exposed)
             .arg(visibleRows()));
    const auto nameAt1 = [&] {
        return list.contents().size() > 1 &&
                       list.contents().at(1) == &today.firstRow().cpuViewController()
                   ? QStringLiteral("cpu")
                   : QStringLiteral("other");
    };
    const auto stored = [&] { return defaults.get(WidgetDefaultsKeys::detailsView()); };
    const auto sampling = [&] {
        for (const auto& task : machine.system->tasks()) {
            if (task->status() == Timer::Status::started)
                return 1;
        }
        return 0;
    };

    if (phase == QStringLiteral("first")) {
        CallbackStackView& gauge = *today.firstRow().cpuStackView();
        test::click(gauge, QPointF(gauge.width() / 2.0, gauge.height() / 2.0));
        const bool shown = test::qtWaitUntil(
            [&] { return today.firstRow().cpuViewController().view()->isVisible(); });
        note(QStringLiteral("click contents=%1 second=%2 stored=%3 shown=%4")
                 .arg(list.contents().size())
                 .arg(nameAt1())
                 .arg(stored())
                 .arg(shown));
    } else {
        note(QStringLiteral("reopened second=%1").arg(nameAt1()));
        panel.editButton()->click();
        const bool onlySettings = list.contents() == QList<ViewController*>{&today.settings()};
        note(QStringLiteral("edit contents=%1 timer=%2 sampling=%3 stored=%4")
                 .arg(onlySettings ? QStringLiteral("settings") : QStringLiteral("other"))
                 .arg(toString(today.uiThread()->status()))
                 .arg(sampling())
                 .arg(stored()));
        panel.editButton()->click();
        note(QStringLiteral("done contents=%1 timer=%2 sampling=%3")
                 .arg(list.contents().size())
                 .arg(toString(today.uiThread()->status()))
                 .arg(sampling()));
    }
    panel.hide();
}

}  // namespace
}  // namespace vigil
