// The program and the widget under a real X server (Xvfb): the program starts and shows its
// panel; inside a child process on that server the panel is shown, a gauge clicked, the program
// restarted over the same settings, and editing begun and ended.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWindow>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "TodayViewController.h"
#include "TodayViewControllerSupport.h"
#include "details/CPUViewController.h"
#include "host/PanelWindow.h"
#include "rows/FirstRowViewController.h"
#include "rows/SecondRowViewController.h"
#include "settings/SettingsPanelPlaceStore.h"
#include "settings/SettingsViewController.h"
#include "settings/WidgetDefaults.h"
#include "support/TestSupport.h"
#include "ui/QtTestApp.h"

extern char** environ;

namespace vigil {
namespace {

using Env = std::map<std::string, std::string>;

// Starts `argv` with this process's environment changed by `changes` (an empty value removes
// the name); output goes to `log`.
pid_t spawn(const std::vector<std::string>& argv, const Env& changes, const std::string& log,
            const std::string& cwd = {}) {
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

// One Xvfb server on a free display number for the test, stopped at the end.
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

class XvfbServer {
  public:
    XvfbServer(const std::string& log) {
        const char* xvfb = "/usr/bin/Xvfb";
        if (access(xvfb, X_OK) != 0) {
            reason = "Xvfb is not installed (apt-get install xvfb)";
            return;
        }
        for (int n = 90 + getpid() % 300; n < 1000; ++n) {
            if (access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0)
                continue;
            display_ = ":" + std::to_string(n);
            pid_ =
                spawn({xvfb, display_, "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, {}, log);
            const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
            // The socket file may be left from an earlier server: wait until this one answers.
            if (test::waitUntil([&] { return acceptsConnections(socket); },
                                std::chrono::seconds(20))) {
                return;
            }
            break;
        }
        reason = "Xvfb did not start";
    }
    ~XvfbServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitFor(pid_, std::chrono::seconds(10));
        }
    }
    const std::string& display() const { return display_; }

    std::string reason;

  private:
    std::string display_;
    pid_t pid_ = -1;
};

std::string programPath() {
    // VIGIL_TOOLS_DIR is <build>/tools.
    return std::string(VIGIL_TOOLS_DIR) + "/../Vigil_Today/Vigil_Today";
}

std::string selfPath() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().toStdString();
}

class EndToEndTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    std::string log() const { return dir.filePath(QStringLiteral("log.txt")).toStdString(); }
    std::string config() const { return dir.filePath(QStringLiteral("config")).toStdString(); }
};

TEST_F(EndToEndTest, ProgramShowsItsPanelOnTheDisplay) {
    XvfbServer x(log());
    if (!x.reason.empty())
        GTEST_SKIP() << x.reason;
    if (access(programPath().c_str(), X_OK) != 0)
        GTEST_SKIP() << "the program is not built: " << programPath();
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
    if (access(programPath().c_str(), X_OK) != 0)
        GTEST_SKIP() << "the program is not built: " << programPath();
    const Env headless{{"DISPLAY", ""},
                       {"WAYLAND_DISPLAY", ""},
                       {"QT_QPA_PLATFORM", ""},
                       {"XDG_CONFIG_HOME", config()}};
    const pid_t program = spawn({programPath()}, headless, log(), dir.path().toStdString());
    ASSERT_GT(program, 0);
    EXPECT_EQ(waitFor(program, std::chrono::seconds(60)), 0);
    const QString picture = dir.filePath(QStringLiteral("vigil-panel.png"));
    EXPECT_NE(readFile(QString::fromStdString(log()))
                  .find("the panel is rendered in " + picture.toStdString()),
              std::string::npos)
        << readFile(QString::fromStdString(log()));
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

// Runs one phase of the widget inside a child process on the Xvfb display; the child writes its
// findings, one "name=value" line each, to the report.
std::string runPhase(const XvfbServer& x, const std::string& phase, const std::string& config,
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
    XvfbServer x(log());
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
