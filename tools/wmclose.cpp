// wmclose [--wait SECONDS] [--pid PID] TITLE
// Sends WM_DELETE_WINDOW to every top-level window titled TITLE, as a window
// manager's close button would; with --pid, only to those of that process.
// With --wait, waits for such a window to appear first. Exits 0 when a
// window was asked, 1 when none was found.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// Other programs' windows may vanish between listing them and reading their
// properties; that is no error for a tool that closes one window by title,
// so every X error only makes the call that met it fail.
int ignoreError(Display *, XErrorEvent *)
{
    return 0;
}

std::string windowTitle(Display *display, Window window)
{
    Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format,
                           &count, &after, &data) == Success && data) {
        title.assign(reinterpret_cast<char *>(data), count);
        XFree(data);
        return title;
    }
    char *name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

long windowPid(Display *display, Window window)
{
    Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) == Success && data) {
        if (count == 1 && format == 32)
            pid = long(*reinterpret_cast<unsigned long *>(data));
        XFree(data);
    }
    return pid;
}

void findWindows(Display *display, Window parent, const std::string &title, long pid, std::vector<Window> &found)
{
    Window root, parentOut, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &parentOut, &children, &count))
        return;
    for (unsigned int i = 0; i < count; ++i) {
        if (windowTitle(display, children[i]) == title && (pid < 0 || windowPid(display, children[i]) == pid))
            found.push_back(children[i]);
        else
            findWindows(display, children[i], title, pid, found);
    }
    if (children)
        XFree(children);
}

} // namespace

int main(int argc, char **argv)
{
    double wait = 0;
    long pid = -1;
    int arg = 1;
    while (arg + 1 < argc && argv[arg][0] == '-') {
        if (std::strcmp(argv[arg], "--wait") == 0)
            wait = std::atof(argv[arg + 1]);
        else if (std::strcmp(argv[arg], "--pid") == 0)
            pid = std::atol(argv[arg + 1]);
        else
            break;
        arg += 2;
    }
    if (arg + 1 != argc) {
        std::fprintf(stderr, "usage: wmclose [--wait SECONDS] [--pid PID] TITLE\n");
        return 2;
    }
    const std::string title = argv[arg];
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "wmclose: cannot open the display\n");
        return 2;
    }
    XSetErrorHandler(ignoreError);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(wait);
    std::vector<Window> found;
    for (;;) {
        findWindows(display, DefaultRootWindow(display), title, pid, found);
        if (!found.empty() || std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    for (Window window : found) {
        XEvent event;
        std::memset(&event, 0, sizeof event);
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = protocols;
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(deleteWindow);
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
    }
    XCloseDisplay(display);
    if (found.empty()) {
        std::fprintf(stderr, "wmclose: no window titled \"%s\"\n", title.c_str());
        return 1;
    }
    return 0;
}
