// Front ends of the process, file and compression services: call, size?, browse, compress
// and decompress decide their arguments, result and errors; the services do the work.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "datatypes/binary-base.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "memory/error.h"
#include "evaluator/natives-list.h"
#include "evaluator/refinements.h"
#include "memory/stack.h"
#include "io/compression.h"
#include "io/process.h"

extern char** environ;

namespace zuv::natives {

namespace {

Cell* arg(int n) { return stack::arguments_base + n; }

// A file! in its local form as a new string!, pushed; a string! as it is.
Cell* local_form(Cell* value) {
    if (!value->is(Type::file)) return stack::push(value);
    Cell* s = string::push_new(series::length(value));
    file::to_local(value, s, false);
    return s;
}

enum class Codec { zlib, deflate, gzip };

Codec codec_of(Cell* method) {
    if (scalar::word_is(method, "zlib")) return Codec::zlib;
    if (scalar::word_is(method, "deflate")) return Codec::deflate;
    if (scalar::word_is(method, "gzip")) return Codec::gzip;
    error::raise(error::id::script_invalid_arg, method);
}

// Runs a codec into a buffer that grows to the size the codec asks for; any other failure
// raises script/invalid-data. first_size is the first estimate of the output.
std::vector<uint8_t> run_codec(compression::Result (*codec)(std::span<uint8_t>, std::span<const uint8_t>),
                               std::span<const uint8_t> in, size_t first_size) {
    std::vector<uint8_t> out(first_size);
    for (int attempt = 0;; ++attempt) {
        compression::Result r = codec(out, in);
        if (r.status == compression::Status::ok) {
            out.resize(r.size);
            return out;
        }
        // A codec asks once for the exact room it needs; asking again is corrupt data.
        if (r.status != compression::Status::output_too_small || attempt > 0 || r.size <= out.size())
            error::raise(error::id::script_invalid_data, arg(0));
        out.assign(r.size, 0);
    }
}

void box_binary(const std::vector<uint8_t>& bytes) { stack::keep_last(binary::load(bytes)); }

}  // namespace

// refs: /wait /show /console /shell, then /input, /output and /error with their positions.
void call(bool, const int32_t* refs) {
    Cell* command = arg(0);
    if (series::length(command) <= 0) {
        integer::box(0);
        stack::keep();
        return;
    }
    Cell* text = local_form(command);
    auto redirect = [&](int32_t r) { return r >= 0 ? arg(r) : nullptr; };
    namespace rf = refine::call;
    int32_t result = process::call(text, refs[rf::wait] >= 0, refs[rf::show] >= 0, refs[rf::console] >= 0,
                                   refs[rf::shell] >= 0, redirect(refs[rf::input]), redirect(refs[rf::output]),
                                   redirect(refs[rf::error]));
    integer::box(result);
    stack::keep();
}

void size_q(bool, const int32_t*) {
    std::string path = file::to_os_path(arg(0));
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    bool known = fd >= 0 && ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    if (fd >= 0) ::close(fd);
    if (!known) {
        none::box();
    } else if (st.st_size > INT32_MAX) {
        // A size past the integers would wrap; it is given as a float! as stats does.
        float_::box(static_cast<double>(st.st_size));
    } else {
        integer::box(static_cast<int32_t>(st.st_size));
    }
    stack::keep();
}

// The desktop's opener runs in the background of a shell that ends at once, so nothing
// waits for the browser and no child is left to reap; failures are not reported.
void browse(bool, const int32_t*) {
    std::string target = string::to_utf8(local_form(arg(0)));
    const char* argv[] = {"/bin/sh", "-c", "xdg-open \"$1\" >/dev/null 2>&1 &", "sh", target.c_str(), nullptr};
    pid_t pid;
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) == 0) {
        int status;
        ::waitpid(pid, &status, 0);
    }
    unset::box();
    stack::keep();
}

void compress(bool, const int32_t*) {
    Codec codec = codec_of(arg(1));
    std::vector<uint8_t> in = *binary::data_bytes(arg(0));
    // Fixed-code deflate grows incompressible data by at most a ninth, plus the framing.
    size_t estimate = in.size() + in.size() / 8 + 64;
    auto fn = codec == Codec::zlib ? compression::zlib_compress
            : codec == Codec::gzip ? compression::gzip_compress : compression::deflate;
    box_binary(run_codec(fn, in, estimate));
}

// refs: /size and the position of its size.
void decompress(bool, const int32_t* refs) {
    Codec codec = codec_of(arg(1));
    std::vector<uint8_t> in = *binary::data_bytes(arg(0));
    // The size given is a hint: the data cannot produce more than the bound, so no larger
    // buffer is made before the data is read. Without a hint, room for a common ratio.
    size_t first = in.size() * 4;
    const int32_t hint = refs[refine::decompress::size];
    if (hint >= 0) first = static_cast<size_t>(std::max(arg(hint)->int2(), 0));
    first = std::min(first, compression::inflate_bound(in.size()));
    auto fn = codec == Codec::zlib ? compression::zlib_decompress
            : codec == Codec::gzip ? compression::gzip_decompress : compression::inflate;
    box_binary(run_codec(fn, in, first));
}

}  // namespace zuv::natives
