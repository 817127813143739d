// The cycle stack: nodes of the blocks and objects being walked by molding, copying,
// comparing and ownership marking, so that a series that contains itself is met once.
#pragma once
#include <cstdint>

#include "memory/arena.h"
#include "memory/cell.h"

namespace zuv::cycle_stack {

constexpr int capacity = 1000;

extern Ref entries[capacity];
extern int depth;

// Raises internal/too-deep, with the stack emptied, when it is full.
void push(Ref node);
inline void pop() {
    if (depth > 0) --depth;
}
inline void drop(int n) { depth = n > depth ? 0 : depth - n; }
inline void reset() { depth = 0; }
bool find(Ref node);
// Rewrites the entries whose nodes the running collection moved.
void update_moved();

// Puts the depth back to what a walk found when the walk ends, also when an error leaves
// it, so that a failed molding or copying does not leave its nodes behind.
class Scope {
public:
    Scope() : depth_(depth) {}
    ~Scope() {
        if (depth > depth_) depth = depth_;
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    int depth_;
};

}  // namespace zuv::cycle_stack
