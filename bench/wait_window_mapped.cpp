// Waits until a top-level window whose title contains a text is mapped on
// the X display, then until no other such window is mapped for SETTLE
// seconds, and prints one line: the first map, the map of the window that
// stays (seconds since the epoch) and how many times a new window took the
// place of one mapped before. Qt makes a shown top-level anew when its first
// GPU-drawn child arrives: that is a replacement. Watches the root window's
// map events, so it sees the moments without polling. Prints "ready" on
// standard output once it watches.
// Usage: wait_window_mapped TEXT [timeout seconds (default 60)]
//        [settle seconds (default 2)]

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
    const double settle = argc > 3 ? std::atof(argv[3]) : 2;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "wait_window_mapped: no display\n");
        return 2;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);

    double deadline = epochSeconds() + timeout;
    const int fd = ConnectionNumber(display);
    double first = 0, last = 0;
    Window stays = None;
    int replacements = 0;
    while (epochSeconds() < deadline) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != MapNotify || event.xmap.window == stays)
                continue;
            const double at = epochSeconds();
            if (windowTitle(display, event.xmap.window).find(text) == std::string::npos)
                continue;
            if (stays == None)
                first = at;
            else
                ++replacements;
            stays = event.xmap.window;
            last = at;
            deadline = at + settle;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        timeval wait{0, 50000};
        select(fd + 1, &readable, nullptr, nullptr, &wait);
    }
    XCloseDisplay(display);
    if (stays == None)
        return 1;
    std::printf("%.6f %.6f %d\n", first, last, replacements);
    return 0;
}
