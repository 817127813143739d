// The requesters: the file, folder and font dialogs behind request-file, request-dir and
// request-font. Each runs modally on a loop of its own, which leaves the counters of the Ridi
// event loops alone; the results go into `out` (none when the user cancels).
#pragma once
#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

#include "memory/cell.h"

namespace zuv::gui {

// gui/OS-request-file: title (a string, else the system's), the initial file or folder (file!
// or string), a filter block (pairs of a name and patterns; any other value gives the default
// list), save and multi flags. A file!, a block of file! with multi, or none.
void request_file(Cell* title, Cell* name, Cell* filter, bool save, bool multi, Cell* out);
// gui/OS-request-dir: a file! ending in "/", or none. With keep it reopens on the last folder
// chosen with keep. The filter and multi flag are accepted and ignored.
void request_dir(Cell* title, Cell* dir, Cell* filter, bool keep, bool multi, Cell* out);
// gui/OS-request-font: fills `font` (name, size in points, style) from the dialog and gives it,
// or none. `selected`, when a font! object, is preselected; mono lists fixed-pitch fonts only.
void request_font(Cell* font, Cell* selected, bool mono, Cell* out);

// The texts of a filter block from its position, in pairs: description, patterns. Raises
// invalid-arg for a value that is neither string! nor file!.
std::vector<std::string> request_file_filter(const Cell* block);
// The list used when no filter block is given.
const std::vector<std::string>& default_file_filter();

// For tests: runs with each dialog once it is on screen, inside its modal loop.
void set_dialog_hook(std::function<void(GtkWidget*)> hook);

}  // namespace zuv::gui
