// The zuv executable.
#include "ridi/platform.h"
#include "runtime/entry.h"

int main(int argc, char** argv) {
    zuv::ridi::link();
    zuv::runtime::entry(argc, argv);
}
