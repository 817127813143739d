// X server requests for the end-to-end tests (x11_helpers.cpp).
#pragma once
#include <gtk/gtk.h>

namespace zuv::testing {

unsigned long x_window_id(GtkWidget* toplevel);
// Sends the window the close request of a window manager's close button.
void x_request_close(GtkWidget* toplevel);

}  // namespace zuv::testing
