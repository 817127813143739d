// The door to Ridi's native half: the GTK backend and the drawing engine over Cairo and Pango
// live in a shared object of our own, opened at the first window, drawing, text measure or
// console window. Most scripts never need them, and the toolkit's libraries would otherwise
// be mapped and started by every start-up.
#pragma once
#include <cstdint>

#include "ridi/platform.h"

namespace zuv::ridi {

// What the native half hands the program once it is opened.
struct NativeGui {
    // The GTK backend: its init opens the display, or steps aside for the one without.
    Backend* backend = nullptr;
    // The drawing engine's entries (every one set).
    DrawEngine draw;
    // The system's caret blink time in milliseconds (-1: no blinking); with a display open.
    int32_t (*caret_blink_time)() = nullptr;
    // A modal box telling a fatal error; with a display open.
    void (*message_box)(const char* text, const char* caption) = nullptr;
};

// The native half's name, and the entry it exports: called once, after it is opened, it sets
// the half up and gives its table.
inline constexpr const char* native_library = "libzuv-gui.so";
inline constexpr const char* native_entry = "zuv_native_gui";
using NativeEntry = const NativeGui* (*)();

// Opens the native half on the first call; null when it cannot be opened (then
// native_error() says why, and no later call tries again).
const NativeGui* native_gui();
const char* native_error();
// True once the native half is open: what it made (views, layouts, surfaces) may exist.
bool native_open();

// The GTK backend for gui/init, offered once: null when the environment names no display or
// the native half cannot be opened (said on one line).
Backend* native_backend();

// Adds the binder that puts the native half's lazy doors in place: the drawing engine's
// entries, the rich-text section's routine and the backend's loader. Called by the
// program's main, after ridi::link.
void link_native();

}  // namespace zuv::ridi
