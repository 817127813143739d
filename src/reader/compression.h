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
// a stream cut short is not reported here (the framings' checksums catch it). Bytes past
// `out` are counted, not written: call with an empty `out` to learn the size.
Result inflate(std::span<uint8_t> out, std::span<const uint8_t> in);

// zlib: 78 01, deflate stream, Adler-32 of the data (big-endian).
Result zlib_compress(std::span<uint8_t> out, std::span<const uint8_t> in);
Result zlib_decompress(std::span<uint8_t> out, std::span<const uint8_t> in);

// gzip: a fixed 10-byte header, deflate stream, CRC-32 and length (little-endian). Data that
// already starts a gzip member is copied unchanged. Decompression answers output_too_small
// with the length stored in the trailer when `out` is smaller than that.
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
