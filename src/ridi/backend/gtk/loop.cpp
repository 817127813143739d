// The event loop: blocking loops nest, each ends on its own quit request. Closing the window
// a blocking loop waits for condemns exactly one loop; a quit request that comes while no
// loop runs waits for the next one, as a queued quit message would.
#include "ridi/backend/gtk/backend.h"
#include "ridi/backend/gtk/gui.h"

namespace zuv::gui {

int32_t loop_depth = 0;     // blocking loops running
int32_t pending_quits = 0;  // loops whose window was closed and which have not ended yet
int32_t quit_requests = 0;  // quit requests not yet taken by a loop
int32_t closed_loops = 0;   // windows closed with their loop in the running handlers, not yet announced

void post_quit() {
    ++quit_requests;
    g_main_context_wakeup(nullptr);
}

void exit_event_loop() { post_quit(); }

bool do_events(bool no_wait) {
    if (!available()) return false;
    int32_t saved_forced = forced_flags;
    forced_flags = -1;
    bool result = false;
    if (no_wait) {
        if (quit_requests > 0) {
            --quit_requests;  // taken as a message, as a queued quit is
            result = true;
        } else if (gtk_events_pending()) {
            gtk_main_iteration_do(FALSE);
            result = true;
        }
        forced_flags = saved_forced;
        return result;
    }
    ++loop_depth;
    for (;;) {
        if (quit_requests > 0) {
            --quit_requests;
            break;
        }
        gtk_main_iteration_do(TRUE);
        result = true;
    }
    --loop_depth;
    if (pending_quits > 0) {
        // This loop was one of those condemned; the next one out ends too when more are.
        if (--pending_quits > 0) post_quit();
    }
    forced_flags = saved_forced;
    return result;
}

}  // namespace zuv::gui
