// ZUVBIN: the binary serialisation of values, in a plain form (32-bit words) and a compact
// form (tag bytes and varints). Sharing of series, contexts and functions survives a round
// trip: a later occurrence is written as a path of positions to the first one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "memory/cell.h"

namespace zuv::zuvbin {

// Encoders. Each gives the whole blob: header, one root value, the symbol table when a word
// or issue was written, the records. A routine!, triple!, handle!, port!, event! or image!
// anywhere in the value raises access/no-codec with that value; nothing is left over from
// a failed encode. encode and encode_compact push a new binary! holding the blob.
std::vector<uint8_t> encode_bytes(const Cell* value, bool compact);
Cell* encode(const Cell* value);
Cell* encode_compact(const Cell* value);

// Decodes a blob, appending its root values to the target block. run_time false reads the
// boot forms of word records (literal numbers, definitions). A wrong magic or corrupted
// compressed data raise script/invalid-data with `data` (none when null); any malformed
// record raises script/zb-invalid-record with the 1-based offset of the failing byte; a
// record of a kind that has no encoding raises access/no-codec with its datatype. The bytes
// must not lie in managed memory (buffers move on allocation).
void decode(std::span<const uint8_t> blob, Cell* target, bool run_time, const Cell* data = nullptr);

// The codec's decode: a binary! (more than 10 bytes, else script/invalid-data) decoded into
// a new block; pushes the single root value, or the block when it holds another count.
Cell* decode(const Cell* binary);

// Start-up: decodes one embedded blob into the root block with the collector off and gives
// the root index of its first value (where the literal numbers of its boot word records
// count from). A bad magic or corrupted compressed data print their message and end the
// program (status 0).
int32_t boot_load(std::span<const uint8_t> blob);

}  // namespace zuv::zuvbin
