// Platform layer over POSIX.
#include "runtime/platform.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/mman.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "runtime/stdio.h"
#include "runtime/system.h"
#include "runtime/throw.h"

extern char** environ;

namespace zuv::platform {

void init() {
    // Nothing to start on this system but the output writer; secure random numbers come
    // from getrandom(2) on demand and need no provider handle.
    stdio::init();
}

namespace {
constexpr size_t populated_commit = size_t(2) << 20;
}

void* reserve(size_t size) {
    void* p = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool commit(void* address, size_t size) {
    if (::mprotect(address, size, PROT_READ | PROT_WRITE) != 0) return false;
#ifdef MADV_POPULATE_WRITE
    // A frame of the memory manager is filled from its start soon after it is made: its pages
    // are mapped in one call rather than one fault each (a good part of start-up). Only blocks
    // of frame size: a large buffer may never touch most of its capacity. Where the system
    // cannot do it, the pages come at first touch as before.
    if (size <= populated_commit) ::madvise(address, size, MADV_POPULATE_WRITE);
#endif
    return true;
}

bool decommit(void* address, size_t size) {
    // Dropping the pages first gives the memory back; the protection keeps stray
    // references from touching what is no longer ours.
    if (::madvise(address, size, MADV_DONTNEED) != 0) return false;
    return ::mprotect(address, size, PROT_NONE) == 0;
}

std::string get_current_dir() {
    std::string dir(256, '\0');
    for (;;) {
        if (::getcwd(dir.data(), dir.size())) {
            dir.resize(std::strlen(dir.c_str()));
            return dir;
        }
        if (errno != ERANGE) return {};
        dir.resize(dir.size() * 2);
    }
}

int32_t set_current_dir(const char* path) { return ::chdir(path) == 0 ? 1 : 0; }

std::optional<std::string> get_env(const char* name) {
    const char* v = std::getenv(name);
    if (!v) return std::nullopt;
    return std::string(v);
}

int32_t set_env(const char* name, const char* value) {
    if (!name || !*name || std::strchr(name, '=')) return 0;
    int r = value ? ::setenv(name, value, 1) : ::unsetenv(name);
    return r == 0 ? 1 : 0;
}

std::pair<std::string, std::string> split_env_entry(const std::string& entry) {
    // A name may itself begin with "=": the split is at the next one.
    size_t eq = entry.find('=', 1);
    if (eq == std::string::npos) return {entry, std::string()};
    return {entry.substr(0, eq), entry.substr(eq + 1)};
}

std::vector<std::pair<std::string, std::string>> list_env_pairs() {
    std::vector<std::pair<std::string, std::string>> pairs;
    if (!environ) return pairs;
    for (char** e = environ; *e; ++e) pairs.push_back(split_env_entry(*e));
    return pairs;
}

int64_t wait_milliseconds(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1;  // below one millisecond, negative or NaN
    if (ms >= static_cast<double>(INT64_MAX / 2)) return INT64_MAX / 2;
    return static_cast<int64_t>(ms);
}

void wait(double seconds) {
    int64_t ms = wait_milliseconds(seconds);
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

double get_time(bool precise) {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    double seconds = static_cast<double>(ts.tv_sec % 86400);
    if (precise) seconds += static_cast<double>(ts.tv_nsec) / 1e9;
    return seconds;
}

int32_t zone_from_offset(int32_t minutes) {
    // Worked on the magnitude, so that -3:15 keeps its quarter hour and -0:30 its sign.
    bool negative = minutes < 0;
    int32_t a = negative ? -minutes : minutes;
    int32_t hours = (a / 60) & 0x0F;
    int32_t quarters = (a % 60) / 15;
    return ((hours | (negative ? 0x10 : 0)) << 2) | quarters;
}

int32_t pack_date(int32_t year, int32_t month, int32_t day, int32_t zone) {
    return static_cast<int32_t>((static_cast<uint32_t>(year) << 17) | (static_cast<uint32_t>(month) << 12) |
                                (static_cast<uint32_t>(day) << 7) | static_cast<uint32_t>(zone & 0x7F));
}

int32_t get_date(bool utc) {
    time_t now = ::time(nullptr);
    tm t{};
    if (utc) ::gmtime_r(&now, &t);
    else ::localtime_r(&now, &t);
    int32_t zone = utc ? 0 : zone_from_offset(static_cast<int32_t>(t.tm_gmtoff / 60));
    return pack_date(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, zone);
}

std::string quote_argument(const std::string& argument) {
    // The splitter toggles its split mode at each double quote and drops a quote that
    // opens or closes an argument, so blanks, emptiness and outer quotes need the argument
    // wrapped. An argument with an odd number of quotes cannot be told apart from the
    // ones after it in that scheme, except when it is the last.
    bool blank = argument.find_first_of(" \t") != std::string::npos;
    bool wrap = argument.empty() || blank || argument.front() == '"' || argument.back() == '"';
    if (!wrap) return argument;
    return "\"" + argument + "\"";
}

std::string command_line() {
    if (runtime::system_record && runtime::system_record->command_line) return runtime::system_record->command_line;
    return {};
}

OsInfo os_info_from(const char* sysname, const char* release, const char* machine) {
    OsInfo info{};
    info.name = std::string(sysname) + " " + release;
    std::string m = machine;
    if (m == "x86_64" || m == "amd64") info.arch = "x86-64";
    else if (m == "aarch64" || m == "arm64") info.arch = "ARM64";
    else if (m == "i386" || m == "i486" || m == "i586" || m == "i686") info.arch = "x86-32";
    else if (m.rfind("arm", 0) == 0) info.arch = "ARM";
    else if (m == "ia64") info.arch = "IA-64";
    else info.arch = "Unknown";
    // "6.1.0-18-amd64": three numbers, then the distribution's build number.
    const char* p = release;
    for (int i = 0; i < 3; ++i) {
        long v = 0;
        while (*p >= '0' && *p <= '9') {
            if (v < 1000) v = v * 10 + (*p - '0');
            ++p;
        }
        info.version[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
        if (*p == '.') ++p;
        else {
            for (int j = i + 1; j < 3; ++j) info.version[j] = 0;
            break;
        }
    }
    info.build = 0;
    if (*p == '-') {
        ++p;
        long b = 0;
        bool digits = false;
        while (*p >= '0' && *p <= '9') {
            if (b < INT32_MAX / 10) b = b * 10 + (*p - '0');
            ++p;
            digits = true;
        }
        if (digits) info.build = static_cast<int32_t>(b);
    }
    return info;
}

OsInfo os_info() {
    utsname u{};
    if (::uname(&u) != 0) return os_info_from("Linux", "", "");
    return os_info_from(u.sysname, u.release, u.machine);
}

}  // namespace zuv::platform

namespace zuv::runtime {

double degrees_to_radians(double degrees, int32_t kind) {
    double a = std::fmod(degrees, 360.0);
    if (a > 180.0 || a < -180.0) a = a >= 0 ? a - 360.0 : a + 360.0;
    if (a > 90.0 || a < -90.0) {
        if (kind == 0) a = a >= 0 ? a - 180.0 : a + 180.0;
        else if (kind == 2) a = a >= 0 ? 180.0 - a : -180.0 - a;
    }
    return a * 3.141592653589793 / 180.0;
}

}  // namespace zuv::runtime
