// xclose.cpp -- asks an X11 window to close, as a window manager's close button does:
// a WM_PROTOCOLS client message carrying WM_DELETE_WINDOW.
//   usage: xclose <window id>   (decimal or 0x-prefixed hexadecimal)
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: xclose <window id>\n");
        return 2;
    }
    char* end = nullptr;
    const unsigned long id = strtoul(argv[1], &end, 0);
    if (!end || *end || id == 0) {
        fprintf(stderr, "xclose: bad window id '%s'\n", argv[1]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        fprintf(stderr, "xclose: cannot open display\n");
        return 1;
    }
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = static_cast<Window>(id);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, static_cast<Window>(id), False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    if (!sent) {
        fprintf(stderr, "xclose: could not send the close request\n");
        return 1;
    }
    return 0;
}
