// The zuv executable.
#include "runtime/entry.h"

int main(int argc, char** argv) { zuv::runtime::entry(argc, argv); }
