// url!: a URL held as decoded text. Percent escapes are decoded when a URL is loaded and
// written again when it is molded; URLs are built from blocks and joined by paths. file!
// inherits making and joining from here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "memory/cell.h"

namespace zuv::url {

// Encoding classes: the URL class keeps ! # $ & ' ( ) * + , - . / 0-9 : = ? @ A-Z _ a-z ~
// as they are; the strict class (mode 254) only - . 0-9 A-Z _ a-z ~. Every other byte is
// written as "%" and two uppercase hexadecimal digits.
constexpr int32_t mode_url = 0;
constexpr int32_t mode_strict = 254;

Cell* push(const Cell* u);
// Pushes a new url! whose text is the UTF-8 bytes with their escapes decoded.
Cell* load(const uint8_t* bytes, size_t count);
// True, with the byte, when p holds "%" and two hexadecimal digits before end.
bool decode_escape(const uint8_t* p, const uint8_t* end, uint8_t& byte);
// Appends the decoded text of a string to the target string.
void decode(Cell* s, Cell* target);
// Writes the byte itself or its escape at out; gives 1 or 3.
int encode_byte(int32_t mode, uint8_t byte, char* out);
// Appends the encoded UTF-8 bytes of a string.
void encode(Cell* s, std::string& target, int32_t mode);

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);
Cell* eval_path(Cell* value, Cell* element, Cell* set_value, bool case_, Cell* parent, Cell* previous,
                int32_t position, bool last, bool notify);

void init();

}  // namespace zuv::url
