// Opening Ridi's native half (libzuv-gui.so) at its first use, and the doors that stand in
// for it until then: the drawing engine's entries open it and then step aside for its own,
// and gui/init opens it only when the environment names a display.
#include "ridi/native.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "library/boot.h"
#include "library/sections.h"
#include "memory/error.h"
#include "memory/stack.h"
#include "memory/symbol.h"
#include "runtime/print.h"
#include "runtime/shared-library.h"

namespace zuv::ridi {

namespace {

std::string error_text, missing_text;
bool opened = false;

// The folder of the running program: the native half is built and installed beside it (or
// in ../lib/zuv when installed), so that the program finds its own, not another build's.
std::string program_folder() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string p(path, static_cast<size_t>(n));
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

const NativeGui* open_native() {
    static const std::string folder = program_folder();
    static const std::string beside = folder + native_library;
    static const std::string installed = folder + "../lib/zuv/" + native_library;
    // The bare name last: the half a test program links directly, already loaded, or the
    // one in the build folder, which the build tree's programs name in their run path.
    static runtime::SharedLibrary library{beside.c_str(), installed.c_str(), native_library};
    NativeEntry entry = nullptr;
    if (!library.bind(entry, native_entry)) {
        error_text = library.error();
        missing_text = library.missing();
        return nullptr;
    }
    const NativeGui* gui = entry();
    // From now on the engine's own entries are called, not the doors below.
    draw_engine = gui->draw;
    opened = true;
    return gui;
}

[[noreturn]] void raise_cannot_open() {
    Cell* text = string::push_new(64);
    string::append_utf8(text, missing_text);
    error::raise(error::id::access_cannot_open, text);
}

void require_native() {
    if (!native_gui()) raise_cannot_open();
}

// The environment names a display GTK could open. Without one, opening the toolkit only to
// hear that there is none would cost every start-up its libraries.
bool display_named() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "GDK_BACKEND"}) {
        const char* v = std::getenv(name);
        if (v && *v) return true;
    }
    return false;
}

// ---- the drawing engine's doors ----------------------------------------------------------------

void door_do_draw(Cell* image, Cell* commands) {
    require_native();
    draw_engine.do_draw(image, commands);
}

// A face is painted only by the native half's backend: before it is open there is no paint
// to draw into.
void door_draw_face(Cell* face, Cell* commands) {
    if (opened) draw_engine.draw_face(face, commands);
}

void door_layout(Cell* box, Cell* target, int32_t flags, bool catch_) {
    require_native();
    draw_engine.text_box_layout(box, target, flags, catch_);
}

void door_metrics(Cell* box, Cell* argument, int32_t kind, Cell* out) {
    require_native();
    draw_engine.text_box_metrics(box, argument, kind, out);
}

bool door_size_text(Cell* face, Cell* text, Cell* size) {
    require_native();
    return draw_engine.size_text(face, text, size);
}

Cell* text_box_metrics_routine(Cell** a) {
    require_native();
    Cell* out = stack::push_slot();
    *out = none::shared;
    draw_engine.text_box_metrics(a[0], a[1], a[2]->int2(), out);
    return out;
}

Ref rich_text_context() {
    library::PrivateContext p(2);
    p.add_routines({
        {"text-box-metrics", text_box_metrics_routine, "box [object!] arg [any-type!] type [integer!]",
         "gui/OS-text-box-metrics box :arg type"},
    });
    return p.context();
}

// Every name the drawing engine looks up, interned at start-up: looking a name up later then
// never allocates, so no lookup can move a buffer whose cells the engine is reading.
void intern_names() {
    static const char* const names[] = {
        "pen", "fill-pen", "line-width", "line-join", "line-cap", "line-pattern", "box", "line", "triangle",
        "polygon", "circle", "ellipse", "anti-alias", "font", "text", "arc", "curve", "spline", "image", "shadow",
        "clip", "shape", "rotate", "scale", "translate", "skew", "transform", "push", "matrix", "reset-matrix",
        "invert-matrix", "move", "hline", "vline", "curv", "qcurve", "qcurv", "close", "sweep", "large", "off",
        "linear", "radial", "diamond", "pattern", "bitmap", "pad", "repeat", "reflect", "tile", "flip-x",
        "flip-y", "flip-xy", "clamp", "miter", "bevel", "round", "miter-bevel", "flat", "square", "closed",
        "border", "crop", "inset", "replace", "intersect", "union", "xor", "exclude", "bold", "italic",
        "underline", "strike", "backdrop", "color", "window", "type", "offset", "size", "data", "para", "tabs",
        "line-spacing", "handles", "name", "style", "angle", "align", "v-align", "wrap?", "rich-text", "center",
        "right", "left", "middle", "bottom", "top", "system", "ridi", "fonts", "silent?", "poke",
    };
    for (const char* n : names) symbol::make(n);
}

void bind_native() {
    intern_names();
    draw_engine.do_draw = door_do_draw;
    draw_engine.draw_face = door_draw_face;
    draw_engine.text_box_layout = door_layout;
    draw_engine.text_box_metrics = door_metrics;
    draw_engine.size_text = door_size_text;
    library::add_section_context("51-rich-text", rich_text_context);
}

}  // namespace

const NativeGui* native_gui() {
    static const NativeGui* gui = open_native();
    return gui;
}

const char* native_error() { return error_text.c_str(); }

bool native_open() { return opened; }

Backend* native_backend() {
    static bool offered = false;
    if (offered) return nullptr;
    offered = true;
    if (!display_named()) return nullptr;
    const NativeGui* gui = native_gui();
    if (!gui) {
        std::string line = std::string("*** Ridi Error: cannot open ") + native_library + " (" + error_text + ")";
        runtime::print_line({line.c_str()});
        return nullptr;
    }
    return gui->backend;
}

void link_native() { boot::add_binder(bind_native); }

}  // namespace zuv::ridi
