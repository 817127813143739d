// The zuv executable.
#include "ridi/draw/draw.h"
#include "runtime/entry.h"

int main(int argc, char** argv) {
    zuv::draw::link();
    zuv::runtime::entry(argc, argv);
}
