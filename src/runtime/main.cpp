// The zuv executable.
#include "ridi/draw/draw.h"
#include "ridi/platform.h"
#include "runtime/entry.h"

int main(int argc, char** argv) {
    zuv::draw::link();
    zuv::ridi::link();
    zuv::runtime::entry(argc, argv);
}
