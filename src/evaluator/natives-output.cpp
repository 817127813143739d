// The print engine: print and prin form their argument (reducing a block first) and hand
// the text to the print hooks.
#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/form.h"
#include "memory/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives-list.h"
#include "evaluator/natives.h"
#include "memory/stack.h"
#include "runtime/print.h"
#include "runtime/throw.h"

namespace zuv::natives {

extern Cell work_block;
int32_t last_print_newline = 0;

namespace {

void print_value(bool line_feed) {
    Cell value = *stack::arguments_base;
    Cell text;
    if (value.is(Type::block)) {
        Cell work = work_block;
        int32_t saved = series::buffer_length(&work);
        series::set_head(&work, saved);
        // Reduce into the work block from its tail, then form what was added.
        Cell* w = stack::push(&work);
        int32_t pos = value.int1();
        int32_t tail = series::buffer_length(&value);
        try {
            while (pos < tail) {
                Cell* mark = stack::arguments_top;
                pos = interpreter::eval_next(&value, pos, tail, true);
                if (interpreter::pending) {
                    series::buffer(&work_block)->tail = series::buffer(&work_block)->head + saved * sizeof(Cell);
                    return;
                }
                Cell v = *stack::top();
                stack::arguments_top = mark;
                v.header &= ~header::new_line;
                block::append(w, &v);
            }
        } catch (...) {
            series::buffer(&work_block)->tail = series::buffer(&work_block)->head + saved * sizeof(Cell);
            throw;
        }
        Cell reduced = *w;
        actions::form_to(&reduced, &text);
        series::buffer(&work_block)->tail = series::buffer(&work_block)->head + saved * sizeof(Cell);
    } else if (value.is(Type::string)) {
        series::length(&value);
        text = value;
    } else {
        actions::form_to(&value, &text);
    }
    Cell* held = stack::push(&text);
    runtime::call_print_hooks(held, line_feed ? 1 : 0);
    last_print_newline = line_feed ? 1 : 0;
    unset::box();
    stack::keep();
}

}  // namespace

void print(bool, const int32_t*) { print_value(true); }
void prin(bool, const int32_t*) { print_value(false); }

}  // namespace zuv::natives
