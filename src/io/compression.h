// The compression module: the deflate compressor, inflate with the zlib and gzip framings,
// and the runtime's own LZ codec for embedded data. Pure byte work over caller-owned buffers:
// nothing here allocates managed memory, so the natives wrap it and raise the errors.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zuv::compression {

// Every codec routine answers one of these; the natives map them to results and errors:
// output_too_small -> grow the output to Result::size and call again; anything above it ->
// script error invalid-data.
enum class Status : int {
    ok = 0,                // Result::size is the output length
    output_too_small = 1,  // Result::size is the length needed
    bad_data = 2,          // malformed header, checksum mismatch, undecodable Huffman data
    stored_overrun = 3,    // inflate: a stored block runs past the input end
    bad_block_type = 4,    // inflate: block type 3
    distance_too_far = 5,  // inflate: a match reaches before the output start
};

struct Result {
    Status status;
    size_t size;
};

// Raw deflate (one final fixed-Huffman block). No allocation; bytes are written only inside
// `out`, and on output_too_small the size is exactly what the stream needs.
Result deflate(std::span<uint8_t> out, std::span<const uint8_t> in);

// Raw deflate decoder. Decoding stops after the final block or when the input runs out, so
// a raw stream cut short is not reported here (the framings refuse one). Bytes past `out`
// are counted, not written: call with an empty `out` to learn the size. The count is what
// the input really produces, so it never exceeds inflate_bound of the input's length.
Result inflate(std::span<uint8_t> out, std::span<const uint8_t> in);

// The most any deflate stream of n bytes can expand to: a match of 258 bytes costs at least
// two bits (a one-bit length code and a one-bit distance code). An output size claimed or
// asked for beyond this can never be reached, so no buffer need be larger.
inline constexpr size_t max_expansion = 258 * 4;
constexpr size_t inflate_bound(size_t n) { return n * max_expansion; }

// zlib: 78 01, deflate stream, Adler-32 of the data (big-endian). Decompression refuses a
// stream that does not end its final block right before the checksum.
Result zlib_compress(std::span<uint8_t> out, std::span<const uint8_t> in);
Result zlib_decompress(std::span<uint8_t> out, std::span<const uint8_t> in);

// gzip: a fixed 10-byte header, deflate stream, CRC-32 and length (little-endian). Every
// input is compressed, whatever its first bytes. Decompression reads every member in turn
// (zero bytes after the last are padding) and answers output_too_small with the length the
// members' streams produce; the stored lengths only check it.
Result gzip_compress(std::span<uint8_t> out, std::span<const uint8_t> in);
Result gzip_decompress(std::span<uint8_t> out, std::span<const uint8_t> in);

// The runtime's own compressed record: two 32-bit little-endian words (compressed size,
// uncompressed size), then blocks of a 32-bit output length and a bit-coded LZ77 stream.
// The result holds exactly the bytes the blocks produced; nullopt on any corruption (the
// ZUVBIN decoder then reports "Error: Zuvbin compressed data corrupted!").
inline constexpr uint32_t lz_max_block = 1u << 20;
std::optional<std::vector<uint8_t>> lz_decompress(std::span<const uint8_t> record);

// Writes a record that lz_decompress reads back. The program itself never compresses in
// this format; this is for the tools that build the boot data.
std::vector<uint8_t> lz_compress(std::span<const uint8_t> data);

}  // namespace zuv::compression
