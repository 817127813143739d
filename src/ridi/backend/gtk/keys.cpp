// Keys: GDK key values to the special-key codes behind the key words (page-up, F1,
// left-shift ...), the character a key-down or key-up reports, and event flags of a GDK
// modifier state.
#include <gdk/gdkkeysyms.h>

#include "ridi/backend/gtk/backend.h"

namespace zuv::gui {

namespace {

struct Special {
    uint32_t keyval;
    int32_t code;
};

// The codes are the virtual-key numbers that the key words are listed by; keypad keys that
// move (with Num Lock off) report as the keys they stand for.
constexpr Special specials[] = {
    {GDK_KEY_Page_Up, 0x21},     {GDK_KEY_KP_Page_Up, 0x21},    {GDK_KEY_Page_Down, 0x22},
    {GDK_KEY_KP_Page_Down, 0x22}, {GDK_KEY_End, 0x23},           {GDK_KEY_KP_End, 0x23},
    {GDK_KEY_Home, 0x24},        {GDK_KEY_KP_Home, 0x24},       {GDK_KEY_Left, 0x25},
    {GDK_KEY_KP_Left, 0x25},     {GDK_KEY_Up, 0x26},            {GDK_KEY_KP_Up, 0x26},
    {GDK_KEY_Right, 0x27},       {GDK_KEY_KP_Right, 0x27},      {GDK_KEY_Down, 0x28},
    {GDK_KEY_KP_Down, 0x28},     {GDK_KEY_Insert, 0x2D},        {GDK_KEY_KP_Insert, 0x2D},
    {GDK_KEY_Delete, 0x2E},      {GDK_KEY_KP_Delete, 0x2E},     {GDK_KEY_Pause, 0x13},
    {GDK_KEY_Scroll_Lock, 0x91}, {GDK_KEY_Shift_L, 0xA0},       {GDK_KEY_Shift_R, 0xA1},
    {GDK_KEY_Control_L, 0xA2},   {GDK_KEY_Control_R, 0xA3},     {GDK_KEY_Caps_Lock, 0x14},
    {GDK_KEY_Num_Lock, 0x90},    {GDK_KEY_Alt_L, 0xA4},         {GDK_KEY_Alt_R, 0xA5},
    {GDK_KEY_ISO_Level3_Shift, 0xA5}, {GDK_KEY_Meta_L, 0xA4},   {GDK_KEY_Meta_R, 0xA5},
    {GDK_KEY_Super_L, 0x5B},     {GDK_KEY_Super_R, 0x5C},       {GDK_KEY_Menu, 0x5D},
};

struct Word {
    int32_t code;
    const char* name;
};
constexpr Word words[] = {
    {0x21, "page-up"},     {0x22, "page-down"},    {0x23, "end"},           {0x24, "home"},
    {0x25, "left"},        {0x26, "up"},           {0x27, "right"},         {0x28, "down"},
    {0x2D, "insert"},      {0x2E, "delete"},       {0x13, "pause"},         {0x91, "scroll-lock"},
    {0xA0, "left-shift"},  {0xA1, "right-shift"},  {0xA2, "left-control"},  {0xA3, "right-control"},
    {0x14, "caps-lock"},   {0x90, "num-lock"},     {0xA4, "left-alt"},      {0xA5, "right-alt"},
    {0x5B, "left-command"}, {0x5C, "right-command"},
};

constexpr const char* function_keys[] = {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12"};

}  // namespace

int32_t special_key(uint32_t keyval) {
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12) return 0x70 + static_cast<int32_t>(keyval - GDK_KEY_F1);
    for (const Special& s : specials)
        if (s.keyval == keyval) return s.code;
    return -1;
}

bool modifier_key(int32_t code) { return code == 0x10 || code == 0x11 || (code >= 0xA0 && code <= 0xA5); }

const char* key_word(int32_t code) {
    if (code >= 0x70 && code <= 0x7B) return function_keys[code - 0x70];
    for (const Word& w : words)
        if (w.code == code) return w.name;
    return nullptr;
}

uint32_t key_char(uint32_t keyval, uint16_t keycode) {
    // The key's own character: the level-0 symbol of the key in the first group, so that
    // Shift+1 reports 1, as the key is marked.
    GdkKeymap* map = gdk_keymap_get_for_display(gdk_display_get_default());
    guint base = keyval;
    if (map && keycode) {
        guint found = 0;
        if (gdk_keymap_translate_keyboard_state(map, keycode, GdkModifierType(0), 0, &found, nullptr, nullptr,
                                                nullptr) && found)
            base = found;
    }
    uint32_t c = gdk_keyval_to_unicode(gdk_keyval_to_upper(base));
    if (!c) c = gdk_keyval_to_unicode(keyval);
    switch (keyval) {  // keys whose character GDK leaves out
        case GDK_KEY_BackSpace: return 8;
        case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: return 9;
        case GDK_KEY_Return: case GDK_KEY_KP_Enter: return 13;
        case GDK_KEY_Escape: return 27;
        default: break;
    }
    return c;
}

uint32_t state_flags(uint32_t s, bool modifiers_only) {
    uint32_t f = 0;
    if (s & GDK_CONTROL_MASK) f |= ev::control;
    if (s & GDK_SHIFT_MASK) f |= ev::shift;
    if (s & GDK_MOD1_MASK) f |= ev::alt;
    if (!modifiers_only) {
        if (s & GDK_BUTTON1_MASK) f |= ev::down;
        if (s & GDK_BUTTON3_MASK) f |= ev::alt_down;
        if (s & GDK_BUTTON2_MASK) f |= ev::mid_down;
    }
    return f;
}

}  // namespace zuv::gui
