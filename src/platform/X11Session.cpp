#include "platform/X11Session.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {
template <typename T>
struct Reply {
    T* value;
    explicit Reply(T* v) : value(v) {}
    ~Reply() { std::free(value); }
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;
    T* operator->() const { return value; }
    explicit operator bool() const { return value != nullptr; }
};

xcb_get_property_cookie_t askProperty(xcb_connection_t* c, uint32_t window, uint32_t atom, uint32_t type,
                                      uint32_t longs)
{
    return xcb_get_property(c, 0, window, atom, type, 0, longs);
}

std::string hostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}
} // namespace

X11Session::X11Session() = default;
X11Session::~X11Session() { disconnect(); }

void X11Session::disconnect()
{
    if (connection_) xcb_disconnect(connection_);
    connection_ = nullptr;
    display_.clear();
}

bool X11Session::connect()
{
    const char* env = std::getenv("DISPLAY");
    if (!env || !*env) {
        disconnect();
        return false;
    }
    if (connection_ && display_ == env && !xcb_connection_has_error(connection_)) return true;
    disconnect();
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(env, &screenNumber);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(c);
        return false;
    }
    const char* names[] = {"_NET_CLIENT_LIST", "_NET_WM_PID", "WM_PROTOCOLS", "WM_DELETE_WINDOW"};
    xcb_intern_atom_cookie_t cookies[4];
    for (int i = 0; i < 4; ++i)
        cookies[i] = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(names[i])), names[i]);
    uint32_t atoms[4] = {};
    for (int i = 0; i < 4; ++i) {
        Reply reply(xcb_intern_atom_reply(c, cookies[i], nullptr));
        if (reply) atoms[i] = reply->atom;
    }
    if (!atoms[0] || !atoms[1] || !atoms[2] || !atoms[3]) {
        xcb_disconnect(c);
        return false;
    }
    connection_ = c;
    display_ = env;
    root_ = it.data->root;
    atomClientList_ = atoms[0];
    atomPid_ = atoms[1];
    atomProtocols_ = atoms[2];
    atomDelete_ = atoms[3];
    return true;
}

std::vector<TopLevelWindow> X11Session::windows()
{
    std::vector<TopLevelWindow> result;
    if (!connect()) return result;
    xcb_connection_t* c = connection_;

    std::vector<uint32_t> candidates;
    bool managed = false;
    {
        Reply list(xcb_get_property_reply(c, askProperty(c, root_, atomClientList_, XCB_ATOM_WINDOW, 65536), nullptr));
        if (list && list->type == XCB_ATOM_WINDOW && list->format == 32) {
            managed = true;
            auto* ids = static_cast<uint32_t*>(xcb_get_property_value(list.value));
            candidates.assign(ids, ids + xcb_get_property_value_length(list.value) / 4);
        }
    }
    if (!managed) {
        // No window manager keeps a client list: take the mapped, managed-looking children.
        Reply tree(xcb_query_tree_reply(c, xcb_query_tree(c, root_), nullptr));
        if (!tree) return result;
        xcb_window_t* children = xcb_query_tree_children(tree.value);
        int count = xcb_query_tree_children_length(tree.value);
        std::vector<xcb_get_window_attributes_cookie_t> cookies;
        cookies.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) cookies.push_back(xcb_get_window_attributes(c, children[i]));
        for (int i = 0; i < count; ++i) {
            Reply attributes(xcb_get_window_attributes_reply(c, cookies[static_cast<size_t>(i)], nullptr));
            if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && !attributes->override_redirect &&
                attributes->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT)
                candidates.push_back(children[i]);
        }
    }

    struct Pending {
        xcb_get_property_cookie_t pid, windowClass, machine, protocols;
    };
    std::vector<Pending> pending;
    pending.reserve(candidates.size());
    for (uint32_t w : candidates)
        pending.push_back({askProperty(c, w, atomPid_, XCB_ATOM_CARDINAL, 1),
                           askProperty(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256),
                           askProperty(c, w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 64),
                           askProperty(c, w, atomProtocols_, XCB_ATOM_ATOM, 64)});

    const std::string host = hostName();
    for (size_t i = 0; i < candidates.size(); ++i) {
        Reply pid(xcb_get_property_reply(c, pending[i].pid, nullptr));
        Reply windowClass(xcb_get_property_reply(c, pending[i].windowClass, nullptr));
        Reply machine(xcb_get_property_reply(c, pending[i].machine, nullptr));
        Reply protocols(xcb_get_property_reply(c, pending[i].protocols, nullptr));
        if (!pid || pid->format != 32 || xcb_get_property_value_length(pid.value) < 4) continue;
        uint32_t pidValue = *static_cast<uint32_t*>(xcb_get_property_value(pid.value));
        if (pidValue == 0 || pidValue > INT32_MAX) continue;
        if (machine && machine->format == 8 && xcb_get_property_value_length(machine.value) > 0) {
            std::string name(static_cast<const char*>(xcb_get_property_value(machine.value)),
                             static_cast<size_t>(xcb_get_property_value_length(machine.value)));
            name = name.substr(0, name.find('\0'));
            // A client on another host: its pid means nothing here.
            if (!host.empty() && name != host) continue;
        }
        TopLevelWindow w;
        w.window = candidates[i];
        w.pid = static_cast<int32_t>(pidValue);
        if (windowClass && windowClass->format == 8) {
            std::string text(static_cast<const char*>(xcb_get_property_value(windowClass.value)),
                             static_cast<size_t>(xcb_get_property_value_length(windowClass.value)));
            size_t nul = text.find('\0');
            w.instance = text.substr(0, nul);
            if (nul != std::string::npos) {
                std::string rest = text.substr(nul + 1);
                w.windowClass = rest.substr(0, rest.find('\0'));
            }
        }
        if (protocols && protocols->format == 32) {
            auto* atoms = static_cast<uint32_t*>(xcb_get_property_value(protocols.value));
            int n = xcb_get_property_value_length(protocols.value) / 4;
            for (int k = 0; k < n; ++k)
                if (atoms[k] == atomDelete_) w.acceptsDelete = true;
        }
        result.push_back(std::move(w));
    }
    return result;
}

int X11Session::requestClose(const std::vector<uint32_t>& windows)
{
    if (windows.empty() || !connect()) return 0;
    int sent = 0;
    for (uint32_t w : windows) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = w;
        event.type = atomProtocols_;
        event.data.data32[0] = atomDelete_;
        event.data.data32[1] = XCB_CURRENT_TIME;
        // An empty event mask delivers the message to the client that created the window.
        xcb_void_cookie_t cookie = xcb_send_event_checked(connection_, 0, w, XCB_EVENT_MASK_NO_EVENT,
                                                          reinterpret_cast<const char*>(&event));
        if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
            std::free(error);
            continue;
        }
        ++sent;
    }
    return sent;
}
