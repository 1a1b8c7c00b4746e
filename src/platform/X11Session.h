#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct xcb_connection_t;

// A top-level client window that names its local process.
struct TopLevelWindow {
    uint32_t window = 0;
    int32_t pid = 0;
    std::string instance;      // WM_CLASS, first string
    std::string windowClass;   // WM_CLASS, second string
    bool acceptsDelete = false;  // lists WM_DELETE_WINDOW in WM_PROTOCOLS
};

// The X11 display named by DISPLAY, connected on first use and again when DISPLAY changes or
// the connection breaks. Not thread-safe; callers serialise.
class X11Session {
public:
    X11Session();
    ~X11Session();
    X11Session(const X11Session&) = delete;
    X11Session& operator=(const X11Session&) = delete;

    // The window manager's client list, else the mapped children of the root window; only
    // windows with _NET_WM_PID whose client machine (when given) is this host. Empty without
    // a reachable display.
    std::vector<TopLevelWindow> windows();
    // Sends the ICCCM WM_DELETE_WINDOW request to each window; how many were sent.
    int requestClose(const std::vector<uint32_t>& windows);

private:
    bool connect();
    void disconnect();

    xcb_connection_t* connection_ = nullptr;
    std::string display_;
    uint32_t root_ = 0;
    uint32_t atomClientList_ = 0, atomPid_ = 0, atomProtocols_ = 0, atomDelete_ = 0;
};
