// A shared library opened when it is first needed rather than when the program starts: HTTP
// and digests pull in dozens of libraries that most scripts never use, and mapping them
// would be paid by every start-up.
#pragma once
#include <initializer_list>
#include <string>

namespace zuv::runtime {

class SharedLibrary {
public:
    // names: the sonames to try, in order (the first that opens is kept).
    SharedLibrary(std::initializer_list<const char*> names);
    // Opens the library on the first call; false (with error() saying why) when none opens.
    bool open();
    // The address of a function or object of the opened library; null when it has none.
    void* symbol(const char* name);
    // Fills `out` with the named function's address, keeping its type; false when missing.
    template <class F>
    bool bind(F*& out, const char* name) {
        out = reinterpret_cast<F*>(symbol(name));
        return out != nullptr;
    }
    const std::string& error() const { return error_; }
    // The file the loader could not open (the library or one it needs) when that is why,
    // else the whole error: short enough for an error's one line.
    std::string missing() const;

private:
    const char* names_[4] = {};
    void* handle_ = nullptr;
    bool tried_ = false;
    std::string error_;
};

}  // namespace zuv::runtime
