// The clipboard's language side: values to and from the plain content that a backend stores.
#include "io/clipboard.h"

#include <algorithm>

#include "datatypes/binary-base.h"
#include "datatypes/block.h"
#include "datatypes/image-codec.h"
#include "datatypes/image.h"
#include "datatypes/file.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "memory/stack.h"
#include "io/file-io.h"

namespace zuv::clipboard {

namespace {

InProcess in_process;
Backend* current = &in_process;

// An image goes to the clipboard as PNG bytes and comes back decoded from them.
std::string image_to_png(Cell* image) {
    Cell bytes;
    image::encode_value(image, &bytes, image_codec::format::png);
    std::span<const uint8_t> b = binary::bytes_of(&bytes);
    return {b.begin(), b.end()};
}

Cell* image_from_png(const std::string& png) {
    return image::decode_binary({reinterpret_cast<const uint8_t*>(png.data()), png.size()});
}

}  // namespace

Backend& backend() { return *current; }

void set_backend(Backend* b) { current = b ? b : &in_process; }

Cell* read() {
    std::optional<Content> c = current->get();
    if (!c) return stack::push(&logic::shared_false);
    switch (c->kind) {
        case Content::Kind::empty:
            break;
        case Content::Kind::text: {
            std::string text = c->text;
            std::erase(text, '\r');
            Cell* s = string::push_new(static_cast<int32_t>(text.size()));
            string::append_utf8(s, text);
            return s;
        }
        case Content::Kind::files: {
            Cell* list = block::push_new(static_cast<int32_t>(c->files.size()));
            for (const std::string& path : c->files) {
                Cell* f = file::load(reinterpret_cast<const uint8_t*>(path.data()), path.size());
                file::from_local(f);
                block::append(list, f);
                stack::pop(1);
            }
            return list;
        }
        case Content::Kind::image:
            return image_from_png(c->png);
    }
    return stack::push(&none::shared);
}

Cell* write(Cell* value) {
    Content c;
    switch (value->type()) {
        case Type::none:
            break;
        case Type::string:
            c.kind = Content::Kind::text;
            c.text = file_io::utf8_of_string(value, -1, true);
            break;
        case Type::block:
            c.kind = Content::Kind::files;
            for (int32_t i = 0, n = block::length(value); i < n; ++i) {
                Cell e = *(block::head(value) + i);
                if (e.is(Type::file)) {
                    c.files.push_back(file::to_os_path(&e));
                } else if (e.is(Type::string)) {
                    c.files.push_back(string::to_utf8(&e));
                } else {
                    error::raise(error::id::script_invalid_arg, &e);
                }
            }
            break;
        case Type::image:
            c.kind = Content::Kind::image;
            c.png = image_to_png(value);
            break;
        default:
            error::raise(error::id::script_invalid_arg, value);
    }
    return stack::push(current->set(c) ? &logic::shared_true : &logic::shared_false);
}

}  // namespace zuv::clipboard
