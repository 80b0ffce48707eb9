#include "host/WindowActivation.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ProcessTable.h"

namespace vigil {

namespace {

// Source indication of a _NET_ACTIVE_WINDOW request from a pager or task bar: the user asked.
constexpr uint32_t kSourcePager = 2;
// How far up the process tree a window's process is followed.
constexpr int kMaxDepth = 64;

struct Connection {
    xcb_connection_t* handle = nullptr;
    xcb_window_t root = 0;
    ~Connection() {
        if (handle)
            xcb_disconnect(handle);
    }
};

template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

bool connect(const std::string& display, Connection& connection) {
    int screenNumber = 0;
    connection.handle = xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber);
    if (xcb_connection_has_error(connection.handle))
        return false;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.handle));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem == 0)
        return false;
    connection.root = screens.data->root;
    return true;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    const auto cookie = xcb_intern_atom(c, 1, static_cast<uint16_t>(std::strlen(name)), name);
    ReplyPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The 32-bit items of a property, empty when it is missing or of another type.
std::vector<uint32_t> cardinals(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
    ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, nullptr),
                                             &std::free);
    if (!reply || reply->format != 32)
        return {};
    const auto* items = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    return std::vector<uint32_t>(items, items + count);
}

}  // namespace

WindowActivation::WindowActivation(std::string display, std::string root)
    : display_(std::move(display)), root_(std::move(root)) {}

bool WindowActivation::belongsTo(pid_t pid, pid_t ancestor) const {
    const ProcessTable processes(root_);
    for (int depth = 0; depth < kMaxDepth && pid > 1; ++depth) {
        if (pid == ancestor)
            return true;
        pid = processes.parentPid(pid);
    }
    return false;
}

WindowActivation::Result WindowActivation::raise(pid_t pid) const {
    lastWindow_ = 0;
    Connection x;
    if (!connect(display_, x))
        return Result::noDisplay;
    const xcb_atom_t clientList = atom(x.handle, "_NET_CLIENT_LIST");
    const xcb_atom_t wmPid = atom(x.handle, "_NET_WM_PID");
    const xcb_atom_t activeWindow = atom(x.handle, "_NET_ACTIVE_WINDOW");
    if (clientList == XCB_ATOM_NONE || wmPid == XCB_ATOM_NONE || activeWindow == XCB_ATOM_NONE)
        return Result::noWindow;  // no EWMH window manager ever ran on this display

    const std::vector<uint32_t> windows = cardinals(
        x.handle, xcb_get_property(x.handle, 0, x.root, clientList, XCB_ATOM_WINDOW, 0, 1u << 16));
    // All the questions first, then the answers: one round trip for the whole list.
    std::vector<xcb_get_property_cookie_t> cookies;
    cookies.reserve(windows.size());
    for (uint32_t window : windows)
        cookies.push_back(xcb_get_property(x.handle, 0, window, wmPid, XCB_ATOM_CARDINAL, 0, 1));
    std::optional<uint32_t> own, helper;
    for (size_t i = 0; i < windows.size(); ++i) {
        const std::vector<uint32_t> owner = cardinals(x.handle, cookies[i]);
        if (owner.empty())
            continue;
        const auto windowPid = static_cast<pid_t>(owner.front());
        if (windowPid == pid && !own)
            own = windows[i];
        else if (!helper && belongsTo(windowPid, pid))
            helper = windows[i];
    }
    const std::optional<uint32_t> chosen = own ? own : helper;
    if (!chosen)
        return Result::noWindow;

    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = *chosen;
    message.type = activeWindow;
    message.data.data32[0] = kSourcePager;
    message.data.data32[1] = XCB_CURRENT_TIME;
    message.data.data32[2] = XCB_WINDOW_NONE;  // the requester has no active window of its own
    const auto sent = xcb_send_event_checked(
        x.handle, 0, x.root,
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char*>(&message));
    ReplyPtr<xcb_generic_error_t> error(xcb_request_check(x.handle, sent), &std::free);
    if (error)
        return Result::noWindow;
    lastWindow_ = *chosen;
    return Result::raised;
}

}  // namespace vigil
