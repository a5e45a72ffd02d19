// Waits until a top-level window whose title contains a text is mapped on
// the X display and prints that moment (seconds since the epoch). Watches
// the root window's map events, so it sees the moment without polling.
// Prints "ready" on standard output once it watches.
// Usage: wait_window_mapped TEXT [timeout seconds (default 60)]

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/select.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

double epochSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// _NET_WM_NAME (UTF-8) if set, else WM_NAME.
std::string windowTitle(Display* display, Window window)
{
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &items,
                           &after, &data) == Success &&
        data != nullptr) {
        title.assign(reinterpret_cast<char*>(data), items);
        XFree(data);
    }
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(display, window, &name) && name != nullptr) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: wait_window_mapped TEXT [timeout seconds]\n");
        return 2;
    }
    const std::string text = argv[1];
    const double timeout = argc > 2 ? std::atof(argv[2]) : 60;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "wait_window_mapped: no display\n");
        return 2;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);

    const double deadline = epochSeconds() + timeout;
    const int fd = ConnectionNumber(display);
    while (epochSeconds() < deadline) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != MapNotify)
                continue;
            const double at = epochSeconds();
            if (windowTitle(display, event.xmap.window).find(text) != std::string::npos) {
                std::printf("%.6f\n", at);
                XCloseDisplay(display);
                return 0;
            }
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        timeval wait{0, 100000};
        select(fd + 1, &readable, nullptr, nullptr, &wait);
    }
    XCloseDisplay(display);
    return 1;
}
