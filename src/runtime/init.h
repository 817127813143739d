// The initialisers that the runtime initialisation calls, in the order it calls them.
#pragma once

namespace zuv::random { void init(); }
namespace zuv::memory {
void init();
void init_first_frames();
}
namespace zuv::external { void init(); }
namespace zuv::datatype {
void init_registry();
void register_all();
}
namespace zuv::file { void init_io(); }
namespace zuv::url { void init_io(); }
namespace zuv::actions { void init(); }
namespace zuv::block { void make_root(); }
namespace zuv::stack { void make_series(); }
namespace zuv::symbol { void make_table(); }
namespace zuv::context { void make_global(); }
namespace zuv::case_folding { void init(); }
namespace zuv::symbol { void init_table_index(); }
namespace zuv::words {
void init_type_words();
void init_builtins();
}
namespace zuv::natives { void init(); }
namespace zuv::parse { void init(); }
namespace zuv::ownership { void init(); }
namespace zuv::process { void init(); }
namespace zuv::stack { void init(); }
namespace zuv::lexer { void init(); }
namespace zuv::interpreter { void init(); }
namespace zuv::slots { void init(); }
namespace zuv::collector { void init_state(); }
namespace zuv::boot {
void load_sections();
void link();
void run_script();
void launch_console();
}
namespace zuv::memory { void free_all(); }
