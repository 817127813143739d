// Start-up shared by the fuzz targets that run the language: the runtime (and, on request, the
// whole boot library) on a worker thread with the interpreter's large stack, as the program
// runs, so deep nesting ends in the language's own stack error instead of a crash of the
// fuzzer's small main stack. Each input is handed to that thread and waited for.
#pragma once
#include <pthread.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "library/boot.h"
#include "memory/stack.h"
#include "runtime/entry.h"
#include "runtime/system.h"
#include "runtime/throw.h"

namespace zuv::fuzz {

class Worker {
public:
    // Starts the thread and waits until it has booted. With `library`, the boot sections run
    // too (the target links the boot data), then `prelude` is evaluated once and the global
    // word `check` is kept for call_check.
    void start(bool library, std::string prelude = {}, std::string check = {}) {
        library_ = library;
        prelude_ = std::move(prelude);
        check_name_ = std::move(check);
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setstacksize(&attr, runtime::machine_stack_size);
        pthread_t thread;
        if (pthread_create(&thread, &attr, &Worker::main, this) != 0) {
            std::fprintf(stderr, "fuzz: no worker thread\n");
            std::abort();
        }
        pthread_attr_destroy(&attr);
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return booted_; });
    }

    // Runs one piece of work on the worker. A language error it raises is a valid outcome;
    // the stacks are put back either way.
    void run(std::function<void()> work) {
        std::unique_lock lock(mutex_);
        work_ = std::move(work);
        done_ = false;
        changed_.notify_all();
        changed_.wait(lock, [&] { return done_; });
    }

private:
    static void* main(void* self) {
        static_cast<Worker*>(self)->serve();
        return nullptr;
    }

    void serve() {
        runtime::start_here(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
        if (library_) {
            try {
                boot::run_script();
                if (!prelude_.empty()) boot::run_text(prelude_, nullptr, nullptr);
                if (!check_name_.empty()) {
                    Cell words;
                    boot::run_text("[" + check_name_ + "]", nullptr, &words);
                    check_word_ = *block::head(&words);
                }
            } catch (const runtime::Throw&) {
                std::fprintf(stderr, "fuzz: boot failed\n");
                std::abort();
            }
        }
        std::unique_lock lock(mutex_);
        booted_ = true;
        changed_.notify_all();
        for (;;) {
            changed_.wait(lock, [&] { return static_cast<bool>(work_); });
            guarded(work_);
            work_ = nullptr;
            done_ = true;
            changed_.notify_all();
        }
    }

    static void guarded(const std::function<void()>& work) {
        Cell* mark = stack::arguments_top;
        stack::CallFrame* calls = stack::calls_top;
        try {
            work();
        } catch (const runtime::Throw&) {
        }
        interpreter::pending = 0;
        stack::calls_top = calls;
        stack::arguments_top = mark;
        stack::arguments_base = stack::calls_top > stack::calls_bottom ? stack::arguments_base : stack::arguments_bottom;
    }

public:
    // Calls the check function with the text as a string!. A string! result is a broken
    // property: it is printed and the target stops, so the fuzzer keeps the input.
    void call_check(std::string_view text) {
        Cell* code = block::push_new(2);
        block::append(code, &check_word_);
        Cell* s = string::push_new(static_cast<int32_t>(text.size()));
        string::append_utf8(s, text);
        block::append(code, s);
        Cell c = *code;
        stack::mark_native(&interpreter::body_word);
        interpreter::eval_block(&c, true);
        Cell result = *stack::arguments_base;
        stack::unwind();
        if (result.is(Type::string)) {
            std::fprintf(stderr, "fuzz: %s broke its property: %s\n", check_name_.c_str(),
                         string::to_utf8(&result).c_str());
            std::abort();
        }
    }

private:
    bool library_ = false;
    std::string prelude_, check_name_;
    Cell check_word_{};
    std::mutex mutex_;
    std::condition_variable changed_;
    bool booted_ = false;
    bool done_ = false;
    std::function<void()> work_;
};

// The one worker of a target. It is never destroyed: at exit its thread still waits on the
// condition variable, whose destruction would wait for it in turn.
inline Worker& worker() {
    static Worker* w = new Worker;
    return *w;
}

}  // namespace zuv::fuzz
