/* Minimal window manager for the test runner's Xvfb display (a Linux program).
 *
 * Without any window manager, Wine's X11 driver waits up to two seconds for the ICCCM WM_STATE change every
 * time it hides a top-level window (closing a message box, deleting a GUI window), because nobody answers
 * its withdraw request. This manager does only that bookkeeping: it maps windows where and as big as they
 * ask, applies their configure requests unchanged, and keeps WM_STATE (Normal when mapped, Withdrawn when
 * unmapped, Iconic when a client asks to be iconified). No frames, no reparenting, no focus policy, so
 * window positions and sizes stay exactly what the programs set.
 *
 * Exits with status 2 when another window manager already runs on the display. */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <stdio.h>

static Atom wmState, wmChangeState;
static int otherManager;

static int onStartupError(Display* d, XErrorEvent* e) {
    (void)d;
    if (e->error_code == BadAccess) otherManager = 1;
    return 0;
}

static int onError(Display* d, XErrorEvent* e) {
    (void)d;
    (void)e;  // windows vanish between an event and our answer to it: nothing to do
    return 0;
}

static void setState(Display* d, Window w, long state) {
    long data[2] = {state, None};
    XChangeProperty(d, w, wmState, wmState, 32, PropModeReplace, (unsigned char*)data, 2);
}

/* Windows this manager unmapped itself to iconify them: their UnmapNotify must not make them Withdrawn. */
#define ICONIFYING_MAX 64
static Window iconifying[ICONIFYING_MAX];

static int takeIconifying(Window w) {
    for (int i = 0; i < ICONIFYING_MAX; ++i)
        if (iconifying[i] == w) {
            iconifying[i] = 0;
            return 1;
        }
    return 0;
}

static void addIconifying(Window w) {
    for (int i = 0; i < ICONIFYING_MAX; ++i)
        if (!iconifying[i]) {
            iconifying[i] = w;
            return;
        }
}

int main(void) {
    Display* d = XOpenDisplay(NULL);
    if (!d) {
        fputs("txwm: cannot open the display\n", stderr);
        return 1;
    }
    Window root = DefaultRootWindow(d);
    wmState = XInternAtom(d, "WM_STATE", False);
    wmChangeState = XInternAtom(d, "WM_CHANGE_STATE", False);

    XSetErrorHandler(onStartupError);
    XSelectInput(d, root, SubstructureRedirectMask | SubstructureNotifyMask);
    XSync(d, False);
    if (otherManager) {
        fputs("txwm: another window manager is running\n", stderr);
        return 2;
    }
    XSetErrorHandler(onError);

    for (;;) {
        XEvent e;
        XNextEvent(d, &e);
        switch (e.type) {
            case MapRequest:
                XMapWindow(d, e.xmaprequest.window);
                setState(d, e.xmaprequest.window, NormalState);
                break;
            case ConfigureRequest: {
                XConfigureRequestEvent* r = &e.xconfigurerequest;
                XWindowChanges wc;
                wc.x = r->x;
                wc.y = r->y;
                wc.width = r->width;
                wc.height = r->height;
                wc.border_width = r->border_width;
                wc.sibling = r->above;
                wc.stack_mode = r->detail;
                XConfigureWindow(d, r->window, (unsigned)r->value_mask, &wc);
                break;
            }
            case CirculateRequest:
                if (e.xcirculaterequest.place == PlaceOnTop) XRaiseWindow(d, e.xcirculaterequest.window);
                else XLowerWindow(d, e.xcirculaterequest.window);
                break;
            case UnmapNotify:
                // A withdrawal: the real unmap, or the synthetic notice ICCCM clients send after it.
                if (e.xunmap.event == root || e.xunmap.send_event) {
                    if (!takeIconifying(e.xunmap.window)) setState(d, e.xunmap.window, WithdrawnState);
                }
                break;
            case ClientMessage:
                if (e.xclient.message_type == wmChangeState && e.xclient.data.l[0] == IconicState) {
                    addIconifying(e.xclient.window);
                    XUnmapWindow(d, e.xclient.window);
                    setState(d, e.xclient.window, IconicState);
                }
                break;
            default:
                break;
        }
    }
}
