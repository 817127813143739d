// File and folder input and output over POSIX descriptors. Whole files go through plain
// C++ buffers; cells are made only once the bytes are in hand, so no pointer into a series
// buffer is ever held across a system call.
#include "io/file-io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/string-convert.h"
#include "datatypes/string.h"
#include "datatypes/form.h"
#include "memory/upcalls.h"
#include "memory/actions.h"
#include "memory/datatype.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/stack.h"
#include "memory/unicode.h"

namespace zuv::file_io {

// ---------------------------------------------------------------------------------------------
// Low-level calls

int open(const std::string& os_path, int32_t m) {
    int flags = O_CLOEXEC;
    if (m & mode::read) {
        flags |= O_RDONLY;
    } else {
        flags |= O_WRONLY | O_CREAT;
        if (!(m & (mode::append | mode::seek))) flags |= O_TRUNC;
    }
    int fd;
    do fd = ::open(os_path.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    // A folder opens for reading here; it is no file to read.
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return -1;
    }
    return fd;
}

int64_t get_size(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    return S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
}

bool seek(int fd, int64_t offset) { return lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0; }

int64_t read_bytes(int fd, uint8_t* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd, buffer + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t write_bytes(int fd, const uint8_t* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd, buffer + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

void close(int fd) { ::close(fd); }

bool get_attributes(const std::string& os_path) {
    struct stat st;
    return stat(os_path.c_str(), &st) == 0;
}

bool create_dir(const std::string& os_path) { return mkdir(os_path.c_str(), 0777) == 0; }

bool dir_path_q(std::u32string_view p) {
    auto slash = [](char32_t c) { return c == U'/' || c == U'\\'; };
    if (p == U"." || p == U"..") return true;
    size_t n = p.size();
    if (n >= 1 && slash(p[n - 1])) return true;
    if (n >= 2 && p[n - 1] == U'.' && slash(p[n - 2])) return true;
    return n >= 3 && p[n - 1] == U'.' && p[n - 2] == U'.' && slash(p[n - 3]);
}

bool dir_path_q(Cell* file) { return dir_path_q(string::code_points(file)); }

// ---------------------------------------------------------------------------------------------
// Whole files

namespace {

struct Descriptor {
    int fd;
    explicit Descriptor(int d) : fd(d) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

constexpr size_t chunk = 65536;
// The most a value read from a stream can hold.
constexpr uint64_t largest_read = 0x7FFFFFF0;

}  // namespace

std::optional<std::string> read_file(const std::string& os_path, int64_t part, int64_t seek_to) {
    Descriptor f(open(os_path, mode::read));
    if (f.fd < 0) return std::nullopt;
    int64_t size = get_size(f.fd);
    if (size < 0) return std::nullopt;
    std::string data;
    if (size == 0) {
        // A stream tells no size and may not seek back: read it to its end, or as far as the
        // part asks (a device may never end), then cut.
        uint64_t wanted = part >= 0 ? uint64_t(std::max<int64_t>(seek_to, 0)) + uint64_t(part) : UINT64_MAX;
        while (data.size() < wanted) {
            if (data.size() >= largest_read) error::raise(error::id::internal_no_memory);
            size_t had = data.size();
            size_t ask = static_cast<size_t>(std::min<uint64_t>(chunk, wanted - had));
            data.resize(had + ask);
            int64_t n = read_bytes(f.fd, reinterpret_cast<uint8_t*>(data.data() + had), ask);
            if (n < 0) return std::nullopt;
            data.resize(had + static_cast<size_t>(n));
            if (static_cast<size_t>(n) < ask) break;
        }
        if (seek_to > 0) data.erase(0, std::min(data.size(), static_cast<size_t>(seek_to)));
        if (part >= 0 && static_cast<uint64_t>(part) < data.size()) data.resize(static_cast<size_t>(part));
        return data;
    }
    if (seek_to > 0) {
        if (seek_to >= size) return data;
        if (!seek(f.fd, seek_to)) return std::nullopt;
        size -= seek_to;
    }
    if (part >= 0 && part < size) size = part;
    data.resize(static_cast<size_t>(size));
    int64_t n = read_bytes(f.fd, reinterpret_cast<uint8_t*>(data.data()), data.size());
    if (n < 0) return std::nullopt;
    data.resize(static_cast<size_t>(n));  // the file may have shrunk meanwhile
    return data;
}

int64_t write_file(const std::string* os_path, std::string_view data, int64_t seek_to, bool append, bool lines) {
    int fd = 1;
    if (os_path) {
        fd = open(*os_path, mode::write | (append ? mode::append : 0) | (seek_to >= 0 ? mode::seek : 0));
        if (fd < 0) return -1;
    }
    Descriptor owned(os_path ? fd : -1);
    if (seek_to > 0) {
        seek(fd, seek_to);
    } else if (append) {
        lseek(fd, 0, SEEK_END);
    }
    int64_t n = write_bytes(fd, reinterpret_cast<const uint8_t*>(data.data()), data.size());
    if (n < 0) return -1;
    if (lines) {
        int64_t e = write_bytes(fd, reinterpret_cast<const uint8_t*>(line_end.data()), line_end.size());
        if (e < 0) return -1;
        n += e;
    }
    return n;
}

std::optional<int64_t> size_q(Cell* file) {
    if (dir_path_q(file)) return std::nullopt;
    Descriptor f(open(file::to_os_path(file), mode::read));
    if (f.fd < 0) return std::nullopt;
    int64_t size = get_size(f.fd);
    if (size < 0) return std::nullopt;
    return size;
}

bool exists_q(Cell* file) { return get_attributes(file::to_os_path(file)); }

bool create_dir(Cell* file) { return create_dir(file::to_os_path(file)); }

// ---------------------------------------------------------------------------------------------
// Values from bytes

Cell* string_from_utf8(std::string_view bytes) {
    Ref node = unicode::load_utf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0, true, nullptr);
    Cell* c = stack::push_slot();
    series::make_at(c, Type::string, node);
    return c;
}

Cell* split_lines(std::string_view bytes) {
    Cell* result = block::push_new(static_cast<int32_t>(std::count(bytes.begin(), bytes.end(), '\n') + 1));
    auto add = [&](std::string_view line) {
        Cell s;
        string::load_at(&s, reinterpret_cast<const uint8_t*>(line.data()), line.size(), 0);
        block::append(result, &s);
    };
    size_t start = 0;
    for (size_t lf = bytes.find('\n'); lf != std::string_view::npos; lf = bytes.find('\n', start)) {
        size_t end = lf > start && bytes[lf - 1] == '\r' ? lf - 1 : lf;
        add(bytes.substr(start, end - start));
        start = lf + 1;
    }
    if (start < bytes.size()) add(bytes.substr(start));
    return result;
}

Cell* binary_from_bytes(std::string_view bytes) {
    Ref node = memory::alloc_bytes(static_cast<int64_t>(bytes.size()));
    memory::SeriesBuffer* b = memory::buffer_of(node);
    if (!bytes.empty()) std::memcpy(b->head_ptr(), bytes.data(), bytes.size());
    b->tail = b->head + static_cast<uint32_t>(bytes.size());
    Cell* c = stack::push_slot();
    series::make_at(c, Type::binary, node);
    return c;
}

std::string bytes_of_binary(const Cell* binary, int64_t part) {
    Cell c = *binary;
    int64_t n = series::length(&c);
    if (part >= 0 && part < n) n = part;
    return std::string(reinterpret_cast<const char*>(series::head_address(&c)), static_cast<size_t>(n));
}

std::string utf8_of_string(const Cell* s, int64_t part, bool crlf) {
    Cell c = *s;  // the conversion buffer goes to the copy, not to the caller's cell
    int32_t count = part < 0 || part > INT32_MAX ? -1 : static_cast<int32_t>(part);
    const char* text = unicode::to_utf8_cstring(&c, count);
    std::string out(text, static_cast<size_t>(count));
    if (crlf && line_end != "\n") {
        std::string ended;
        for (char ch : out) ch == '\n' ? ended += line_end : ended += ch;
        out = std::move(ended);
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// The file! actions

namespace {

// A /part count or a /seek to read from; not given is -1, as is a negative one.
int64_t count_of(Cell* n) {
    if (!n) return -1;
    int32_t v = integer::from_number(n);
    return v < 0 ? -1 : v;
}

// A /seek position to write at; not given is -1. A file has no place before its first
// byte, and writing at the start instead would overwrite what the caller did not name.
int64_t position_of(Cell* n) {
    if (!n) return -1;
    int32_t v = integer::from_number(n);
    if (v < 0) error::raise(error::id::script_out_of_range, n);
    return v;
}

// The bytes a value is written as: a binary! as it stands, text as UTF-8 with the line end
// for LF (unless binary), anything else formed first.
std::string bytes_to_write(Cell* value, int64_t part, bool binary) {
    if (value->is(Type::binary)) return bytes_of_binary(value, part);
    if (string::family_q(value->type())) return utf8_of_string(value, part, !binary);
    Cell v = *value, text;
    actions::form_to(&v, &text);
    return utf8_of_string(&text, part, !binary);
}

[[noreturn]] void cannot_open(Cell* file) { error::raise(error::id::access_cannot_open, file); }

}  // namespace

Cell* read(Cell* file, Cell* part, Cell* seek_cell, bool binary, bool lines, bool /*info*/) {
    if (dir_path_q(file)) return read_dir(file);
    std::optional<std::string> data = read_file(file::to_os_path(file), count_of(part), count_of(seek_cell));
    if (!data) cannot_open(file);
    if (binary) return binary_from_bytes(*data);
    // An empty file read as lines is an empty block like any other: no lines.
    if (lines) return split_lines(*data);
    return string_from_utf8(*data);
}

Cell* read_dir(Cell* dir) {
    std::string path = file::to_os_path(dir);
    DIR* d = opendir(path.empty() ? "." : path.c_str());
    if (!d) cannot_open(dir);
    std::vector<std::pair<std::string, bool>> entries;
    while (dirent* e = readdir(d)) {
        std::string_view name = e->d_name;
        if (name == "." || name == "..") continue;
        bool folder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            // A link to a folder lists as a folder.
            struct stat st;
            folder = fstatat(dirfd(d), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        entries.emplace_back(std::string(name), folder);
    }
    closedir(d);
    std::sort(entries.begin(), entries.end());
    Cell* result = block::push_new(static_cast<int32_t>(entries.size()));
    for (auto& [name, folder] : entries) {
        Cell f;
        string::make_at(&f, static_cast<int32_t>(name.size() + 1), Type::file);
        // Names are bytes on this system; one that is not UTF-8 keeps U+FFFD in its place.
        string::append_utf8(&f, name);
        if (folder) string::append_char(&f, '/');
        block::append(result, &f);
    }
    return result;
}

Cell* write(Cell* file, Cell* data, bool binary, bool lines, bool /*info*/, bool append, Cell* part, Cell* seek_cell) {
    int64_t limit = -1;
    if (part) {
        if (!part->is(Type::integer)) {
            Cell w;
            cell::make(&w, Type::word, 0, static_cast<uint32_t>(symbol::make("part")), static_cast<uint32_t>(-1));
            error::raise(error::id::script_invalid_refine_arg, &w, part);
        }
        if (part->int2() < 0) return integer::push(-1);
        limit = part->int2();
    }
    // A seek given at all keeps what the file holds; a positive one also moves there.
    int64_t at = position_of(seek_cell);
    std::string bytes;
    bool line_after = lines;
    if (lines && data->is(Type::block)) {
        for (int32_t i = 0, n = block::length(data); i < n; ++i) {
            Cell v = *(block::head(data) + i);
            bytes += bytes_to_write(&v, -1, binary);
            bytes += line_end;
        }
        line_after = false;
    } else {
        bytes = bytes_to_write(data, limit, binary);
    }
    std::string path;
    bool to_stdout = file->is(Type::none);
    if (!to_stdout) path = file::to_os_path(file);
    int64_t n = write_file(to_stdout ? nullptr : &path, bytes, at, append, line_after);
    if (n < 0) cannot_open(file);
    return integer::push(static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX)));
}

bool delete_(Cell* file) {
    std::string path = file::to_os_path(file);
    return (dir_path_q(file) ? rmdir(path.c_str()) : unlink(path.c_str())) == 0;
}

int32_t rename(Cell* from, Cell* to) {
    std::string a = file::to_os_path(from), b = file::to_os_path(to);
    if (renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // A file system that cannot refuse to replace: check first (not atomic, but never
    // replacing what was there before the call).
    struct stat st;
    if (lstat(b.c_str(), &st) == 0) return -1;
    return ::rename(a.c_str(), b.c_str()) == 0 ? 0 : -1;
}

Cell* query(Cell* file) {
    struct stat st;
    std::u32string text = string::code_points(file);
    bool folder_path = !text.empty() && (text.back() == U'/' || text.back() == U'\\');
    if (stat(file::to_os_path(file).c_str(), &st) != 0 || (folder_path && !S_ISDIR(st.st_mode))) {
        return stack::push(&none::shared);
    }
    std::tm t{};
    time_t seconds = st.st_mtim.tv_sec;
    Cell d;
    int32_t nanoseconds = static_cast<int32_t>(st.st_mtim.tv_nsec / 1000000 * 1000000);
    if (!gmtime_r(&seconds, &t) ||
        !date::from_parts(&d, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, nanoseconds)) {
        return stack::push(&none::shared);
    }
    return stack::push(&d);
}

}  // namespace zuv::file_io

namespace zuv::file {

namespace {

Cell* delete_(Cell* f) { return stack::push(file_io::delete_(f) ? &logic::shared_true : &logic::shared_false); }
Cell* query(Cell* f) { return file_io::query(f); }
Cell* rename(Cell* from, Cell* to) {
    return stack::push(file_io::rename(from, to) == 0 ? &logic::shared_true : &logic::shared_false);
}

Cell* read(Cell* f, const slotfn::ReadOptions& o) {
    if (o.as) error::raise(error::id::internal_not_done);
    return file_io::read(f, o.part, o.seek, o.binary, o.lines, o.info);
}

Cell* write(Cell* f, Cell* data, const slotfn::WriteOptions& o) {
    if (o.allow || o.as) error::raise(error::id::internal_not_done);
    return file_io::write(f, data, o.binary, o.lines, o.info, o.append, o.part, o.seek);
}

}  // namespace

void init_io() {
    upcall::calls.read_file = [](const std::string& os_path) { return file_io::read_file(os_path, -1, -1); };
    datatype::fill(Type::file, {.delete_ = delete_, .query = query, .read = read, .rename = rename, .write = write});
}

}  // namespace zuv::file
