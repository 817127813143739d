// Platform layer: the runtime's thin set of procedures over POSIX for memory pages, the
// current directory, the environment, the clock, sleeping and the system's description.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zuv::platform {

void init();

// Address-space reservation for the managed arena: reserve without backing, then commit
// and decommit pages inside it. Each returns false on refusal.
void* reserve(size_t size);
bool commit(void* address, size_t size);
bool decommit(void* address, size_t size);

// UTF-8 throughout; the empty string when the directory cannot be read.
std::string get_current_dir();
int32_t set_current_dir(const char* path);  // non-zero on success

std::optional<std::string> get_env(const char* name);
int32_t set_env(const char* name, const char* value);  // null value removes; non-zero on success
// Every entry of the environment split at its first "=" that is not its first character.
std::vector<std::pair<std::string, std::string>> list_env_pairs();
std::pair<std::string, std::string> split_env_entry(const std::string& entry);

// Sleeps seconds x 1000 milliseconds, at least 1; wait_milliseconds gives that count.
void wait(double seconds);
int64_t wait_milliseconds(double seconds);

// Seconds since midnight UTC; with precise, with the fraction of the second.
double get_time(bool precise);
// The packed date word: year << 17 | month << 12 | day << 7 | zone.
int32_t get_date(bool utc);
int32_t pack_date(int32_t year, int32_t month, int32_t day, int32_t zone);
// Zone bits from an offset east of UTC in minutes: sign 0x10 and hours in bits 2-6,
// quarter hours in bits 0-1.
int32_t zone_from_offset(int32_t minutes);

// The process's whole command line, rebuilt from its arguments with quotes that the boot
// argument splitter takes off again.
std::string command_line();
std::string quote_argument(const std::string& argument);

struct OsInfo {
    std::string name;      // "Linux <release>"
    std::string arch;      // "x86-64", "ARM64", ...
    uint8_t version[3];    // kernel major.minor.patch
    int32_t build;         // the kernel's build number, when its release names one
};
OsInfo os_info();
OsInfo os_info_from(const char* sysname, const char* release, const char* machine);

}  // namespace zuv::platform

namespace zuv::runtime {

// Folds an angle in degrees for the trigonometric natives; kind 0 tangent, 1 cosine, 2 sine.
double degrees_to_radians(double degrees, int32_t kind);

inline constexpr size_t round_up(size_t size, size_t alignment) {
    return (size + alignment - 1) & ~(alignment - 1);
}

}  // namespace zuv::runtime
