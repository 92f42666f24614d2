// gfx_x11.cpp -- window centring on the desktop through the X11 window SDL reports
#include "gfx/gfx.h"

#include "SDL_syswm.h"

// The window's outer rectangle: the top-level window that holds it, which is
// a window manager's frame when one runs and the window itself otherwise.
static void gfx_outersize(Display* display, Window window, int* width, int* height)
{
    Window outer = window;
    for (;;) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, outer, &root, &parent, &children, &count))
            break;
        if (children)
            XFree(children);
        if (parent == 0 || parent == root)
            break;
        outer = parent;
    }
    XWindowAttributes attributes = {};
    XGetWindowAttributes(display, outer, &attributes);
    *width = attributes.width + 2 * attributes.border_width;
    *height = attributes.height + 2 * attributes.border_width;
}

int gfx_centerwindow()
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWMInfo(&info) <= 0 || info.subsystem != SDL_SYSWM_X11)
        return 0;

    Display* display = info.info.x11.display;
    const Window window = info.info.x11.wmwindow;
    info.info.x11.lock_func();
    const int screen = DefaultScreen(display);
    const int desktopw = DisplayWidth(display, screen);
    const int desktoph = DisplayHeight(display, screen);
    int windoww = 0, windowh = 0;
    gfx_outersize(display, window, &windoww, &windowh);
    const int x = (desktopw - windoww) / 2;
    const int y = (desktoph - windowh) / 2;
    XMoveWindow(display, window, x, y);
    XSync(display, False);
    info.info.x11.unlock_func();
    return 1;
}
