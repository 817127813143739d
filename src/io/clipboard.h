// The clipboard behind the read-clipboard and write-clipboard routines: text, lists of files
// and images. The store itself is a backend: an in-process clipboard by default (no display
// needed), which the GUI backend replaces with the desktop's.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "memory/cell.h"

namespace zuv::clipboard {

// What a clipboard holds, in plain form.
struct Content {
    enum class Kind { empty, text, files, image };
    Kind kind = Kind::empty;
    std::string text;                // UTF-8, lines ended by LF
    std::vector<std::string> files;  // system paths, UTF-8
    std::string png;                 // an image, as PNG bytes
};

class Backend {
public:
    virtual ~Backend() = default;
    // What the clipboard holds; nothing when it cannot be opened.
    virtual std::optional<Content> get() = 0;
    // Replaces what it holds; false when it cannot be opened.
    virtual bool set(const Content& content) = 0;
};

// A clipboard private to the program: always open, holding what was last set.
class InProcess final : public Backend {
public:
    std::optional<Content> get() override { return held_; }
    bool set(const Content& content) override {
        held_ = content;
        return true;
    }

private:
    Content held_;
};

// The backend in use. set_backend installs another (the caller keeps it alive); null puts the
// in-process one back.
Backend& backend();
void set_backend(Backend* b);

// Pushes what the clipboard holds: a string! (every CR dropped), a block! of file! values, an
// image!, none when it holds nothing usable, or logic false when it cannot be opened.
Cell* read();
// Puts a value on the clipboard: none! empties it, a string! is text, a block! of file! and
// string! values a list of files (in their system form), an image! an image. Pushes logic
// true, or false when the clipboard cannot be opened. Any other value (or a block holding
// another value) raises script/invalid-arg with it.
Cell* write(Cell* value);

}  // namespace zuv::clipboard
