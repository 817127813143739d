// Registers every datatype, parents before children, in the order the start-up sequence
// fixes; event! registers later, with the GUI.
#include "runtime/init.h"

namespace zuv {
namespace datatype { void init(); }
namespace unset { void init(); }
namespace none { void init(); }
namespace logic { void init(); }
namespace series { void init(); }
namespace block { void init(); }
namespace string { void init(); }
namespace binary { void init(); }
namespace integer { void init(); }
namespace symbol { void init(); }
namespace context { void init(); }
namespace word { void init(); }
namespace lit_word { void init(); }
namespace set_word { void init(); }
namespace get_word { void init(); }
namespace refinement { void init(); }
namespace char_ { void init(); }
namespace native { void init(); }
namespace action { void init(); }
namespace op { void init(); }
namespace path { void init(); }
namespace lit_path { void init(); }
namespace set_path { void init(); }
namespace get_path { void init(); }
namespace function { void init(); }
namespace routine { void init(); }
namespace paren { void init(); }
namespace issue { void init(); }
namespace url { void init(); }
namespace file { void init(); }
namespace object { void init(); }
namespace bitset { void init(); }
namespace triple { void init(); }
namespace float_ { void init(); }
namespace typeset { void init(); }
namespace error { void init(); }
namespace vector { void init(); }
namespace map { void init(); }
namespace hash { void init(); }
namespace pair { void init(); }
namespace percent { void init(); }
namespace tuple { void init(); }
namespace time { void init(); }
namespace tag { void init(); }
namespace email { void init(); }
namespace handle { void init(); }
namespace date { void init(); }
namespace port { void init(); }
namespace money { void init(); }
namespace ref { void init(); }
namespace point2D { void init(); }
namespace point3D { void init(); }
namespace image_codec { void init(); }
namespace image { void init(); }

void datatype::register_all() {
    datatype::init();
    unset::init();
    none::init();
    logic::init();
    series::init();
    block::init();
    string::init();
    binary::init();
    integer::init();
    symbol::init();
    context::init();
    word::init();
    lit_word::init();
    set_word::init();
    get_word::init();
    refinement::init();
    char_::init();
    native::init();
    action::init();
    op::init();
    path::init();
    lit_path::init();
    set_path::init();
    get_path::init();
    function::init();
    routine::init();
    paren::init();
    issue::init();
    url::init();
    file::init();
    object::init();
    bitset::init();
    triple::init();
    float_::init();
    typeset::init();
    error::init();
    vector::init();
    map::init();
    hash::init();
    pair::init();
    percent::init();
    tuple::init();
    time::init();
    tag::init();
    email::init();
    handle::init();
    date::init();
    port::init();
    money::init();
    ref::init();
    point2D::init();
    point3D::init();
    image_codec::init();
    image::init();
}

}  // namespace zuv
