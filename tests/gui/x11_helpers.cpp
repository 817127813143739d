// What the end-to-end tests ask of the X server directly: a window's id, and the close
// request a window manager sends when its close button is pressed. Kept apart from the
// tests: Xlib's macros would clash with GoogleTest's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include "x11_helpers.h"

namespace zuv::testing {

unsigned long x_window_id(GtkWidget* toplevel) {
    GdkWindow* w = gtk_widget_get_window(toplevel);
    return w ? gdk_x11_window_get_xid(w) : 0;
}

void x_request_close(GtkWidget* toplevel) {
    Display* d = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = x_window_id(toplevel);
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, e.xclient.window, False, NoEventMask, &e);
    XFlush(d);
}

}  // namespace zuv::testing
