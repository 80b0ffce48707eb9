// A top-applications row brings its application's window forward through the window manager:
// under a private Xvfb, with a minimal window manager of the test's own that publishes the managed
// windows and records the activation requests it receives.

#include <unistd.h>
#include <xcb/xcb.h>

#include <QProcess>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Vigil_Today/CPUMemoryTestSupport.h"
#include "XvfbServer.h"
#include "details/CPUViewController.h"
#include "host/WindowActivation.h"

namespace vigil {
namespace {

// The least a window manager does for a pager: it redirects the root window's substructure (only
// one client may), lists its windows in _NET_CLIENT_LIST and hears _NET_ACTIVE_WINDOW requests.
class RecordingWindowManager {
  public:
    struct Request {
        uint32_t window = 0;
        uint32_t source = 0;
    };

    explicit RecordingWindowManager(const std::string& display) {
        int screenNumber = 0;
        x_ = xcb_connect(display.c_str(), &screenNumber);
        if (xcb_connection_has_error(x_))
            return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x_)).data;
        root_ = screen->root;
        visual_ = screen->root_visual;
        const uint32_t mask =
            XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        std::free(xcb_request_check(
            x_, xcb_change_window_attributes_checked(x_, root_, XCB_CW_EVENT_MASK, &mask)));
        clientList_ = atom("_NET_CLIENT_LIST");
        wmPid_ = atom("_NET_WM_PID");
        activeWindow_ = atom("_NET_ACTIVE_WINDOW");
        running_ = true;
    }
    ~RecordingWindowManager() { xcb_disconnect(x_); }

    bool running() const { return running_; }

    // A new managed window whose _NET_WM_PID names `pid`.
    uint32_t manageWindowOf(pid_t pid) {
        const xcb_window_t window = xcb_generate_id(x_);
        xcb_create_window(x_, XCB_COPY_FROM_PARENT, window, root_, 0, 0, 100, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, visual_, 0, nullptr);
        const auto owner = static_cast<uint32_t>(pid);
        xcb_change_property(x_, XCB_PROP_MODE_REPLACE, window, wmPid_, XCB_ATOM_CARDINAL, 32, 1,
                            &owner);
        managed_.push_back(window);
        xcb_change_property(x_, XCB_PROP_MODE_REPLACE, root_, clientList_, XCB_ATOM_WINDOW, 32,
                            static_cast<uint32_t>(managed_.size()), managed_.data());
        // A round trip: the server has done all of the above when it answers.
        std::free(xcb_get_input_focus_reply(x_, xcb_get_input_focus(x_), nullptr));
        return window;
    }

    // The activation requests received so far, in order.
    const std::vector<Request>& requests() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(x_)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
                if (message->type == activeWindow_)
                    requests_.push_back({message->window, message->data.data32[0]});
            }
            std::free(event);
        }
        return requests_;
    }

  private:
    xcb_atom_t atom(const char* name) {
        const auto cookie = xcb_intern_atom(x_, 0, static_cast<uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(x_, cookie, nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return atom;
    }

    xcb_connection_t* x_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_visualid_t visual_ = 0;
    xcb_atom_t clientList_ = 0, wmPid_ = 0, activeWindow_ = 0;
    std::vector<xcb_window_t> managed_;
    std::vector<Request> requests_;
    bool running_ = false;
};

// A process that started a helper; the helper's pid is what it prints.
struct ProcessWithHelper {
    ProcessWithHelper() {
        shell.start(QStringLiteral("sh"), {"-c", "sleep 600 & echo $!; wait"});
        if (shell.waitForStarted(10000) && test::qtWaitUntil([&] { return shell.canReadLine(); })) {
            helper = shell.readLine().trimmed().toInt();
        }
    }
    ~ProcessWithHelper() {
        if (helper > 0)
            ::kill(helper, SIGTERM);
        shell.kill();
        shell.waitForFinished(10000);
    }
    pid_t pid() const { return static_cast<pid_t>(shell.processId()); }

    QProcess shell;
    pid_t helper = 0;
};

Applications::Process rowFor(pid_t pid, const std::string& name) {
    auto app = std::make_shared<RunningApplication>();
    app->pid = pid;
    app->localizedName = name;  // no desktop file ID: the bus cannot be asked
    Applications::Process process;
    process.app = app;
    process.pid = pid;
    return process;
}

class WindowActivationTest : public test::QtTest {
  protected:
    void TearDown() override {
        display_ ? qputenv("DISPLAY", *display_) : qunsetenv("DISPLAY");
        test::QtTest::TearDown();
    }
    std::optional<QByteArray> display_ =
        qEnvironmentVariableIsSet("DISPLAY") ? std::optional(qgetenv("DISPLAY")) : std::nullopt;
};

TEST_F(WindowActivationTest, ARowRaisesTheWindowOfItsApplicationsHelperOrSaysThereIsNone) {
    test::XvfbServer x;
    if (!x.reason.empty())
        GTEST_SKIP() << x.reason;
    RecordingWindowManager wm(x.display());
    ASSERT_TRUE(wm.running());
    ProcessWithHelper worker;
    ProcessWithHelper idle;
    ASSERT_GT(worker.helper, 0);
    ASSERT_GT(idle.helper, 0);
    // The test's own window comes first: it is the worker's parent, not one of its own.
    wm.manageWindowOf(::getpid());
    const uint32_t helperWindow = wm.manageWindowOf(worker.helper);
    qputenv("DISPLAY", QByteArray::fromStdString(x.display()));

    EXPECT_EQ(WindowActivation().raise(worker.pid()), WindowActivation::Result::raised);
    EXPECT_EQ(WindowActivation().raise(idle.pid()), WindowActivation::Result::noWindow);
    EXPECT_EQ(WindowActivation(":9999").raise(worker.pid()), WindowActivation::Result::noDisplay);
    ASSERT_TRUE(test::qtWaitUntil([&] { return wm.requests().size() == 1; }));
    EXPECT_EQ(wm.requests()[0].window, helperWindow);
    EXPECT_EQ(wm.requests()[0].source, 2u) << "a pager's request, on the user's behalf";

    // The same through the processor details' table.
    test::FixtureMachine machine;
    test::TempDefaults store;
    test::RecordingWorkspace workspace;
    ThemeManager themes{store.defaults};
    CPUViewController details{*machine.system, workspace, themes, store.defaults};
    details.view();
    details.apps = {rowFor(worker.pid(), "Worker"), rowFor(idle.pid(), "Idle")};
    details.tableView->reload(
        2, [&](int row, int column) { return details.tableViewCell(row, column); });
    details.tableView->selectRow(0);
    ASSERT_TRUE(test::qtWaitUntil([&] { return wm.requests().size() == 2; }));
    EXPECT_EQ(wm.requests()[1].window, helperWindow);
    EXPECT_TRUE(details.tableView->item(0, 0)->toolTip().isEmpty());

    details.tableView->selectRow(1);
    EXPECT_EQ(details.tableView->item(1, 0)->toolTip(), "No window of Idle was found");
    EXPECT_EQ(wm.requests().size(), 2u);
}

}  // namespace
}  // namespace vigil
