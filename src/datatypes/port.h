// port!: an object (spec, scheme, actor, awake, state, data, extra) whose series and I/O
// actions are sent to its scheme's actor: an object of functions named after the actions,
// or a handle! of a native actor table.
#pragma once
#include <array>
#include <cstdint>

#include "memory/action-types.h"
#include "memory/cell.h"

namespace zuv::port {

// The value of the port's actor field; the shared none cell when the port has none.
Cell* get_actor(const Cell* port);
// Calls the function of the actor object named by the word `action` with the arguments, in
// a call frame named by `frame` (the action word when null); pushes the result and gives
// it. An actor that is not an object raises access/invalid-port; a name without a
// function! behind it access/no-port-action.
Cell* call_actor(const Cell* actor, const Cell* action, const Cell* args, int count, const Cell* frame = nullptr);

// make port!: a port! spec gives a copy; any other spec sets the URL parts (a block is
// evaluated in them, an object extends them) and the scheme named by their first field is
// looked up in system/schemes.
Cell* make(Cell* proto, Cell* spec, int32_t type);
// The open, read and write actions of port!, for the url! datatype's I/O. read is open,
// copy and close; write is open for writing, insert, copy and close; both give what copy
// gave.
Cell* open(Cell* port, const slotfn::OpenOptions& options);
Cell* read(Cell* port, const slotfn::ReadOptions& options);
Cell* write(Cell* port, Cell* data, const slotfn::WriteOptions& options);

// A native actor: the implementations of the actions from append to write (entry i is the
// action of slot 25 + i), with the plain-argument signatures of the datatypes' actions;
// null for an action the actor lacks. A registered table lives as long as the process and
// is named by the handle! value written to out.
constexpr int first_port_action = 25;
using NativeActor = std::array<void*, 38>;
void register_native_actor(const NativeActor* table, Cell* out);

void init();

}  // namespace zuv::port
