// The runtime printer, the output writer and the hook lists.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "runtime/print.h"
#include "runtime/stdio.h"

using namespace zuv;
using namespace zuv::runtime;

namespace {

// Redirects the writer to a pipe for the life of the fixture and reads back what it wrote.
class Captured : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe(fds_), 0);
        saved_ = stdio::output_fd;
        stdio::output_fd = fds_[1];
        stdio::init();
        init_output_hooks();
    }
    void TearDown() override {
        stdio::flush_pending();
        stdio::output_fd = saved_;
        close(fds_[0]);
        close(fds_[1]);
    }
    std::string output() {
        stdio::flush_pending();
        std::string s;
        char buf[8192];
        for (;;) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(fds_[0], &set);
            timeval tv{0, 0};
            if (select(fds_[0] + 1, &set, nullptr, nullptr, &tv) <= 0) break;
            ssize_t n = read(fds_[0], buf, sizeof buf);
            if (n <= 0) break;
            s.append(buf, static_cast<size_t>(n));
        }
        return s;
    }
    int fds_[2] = {-1, -1};
    int saved_ = 1;
};

std::vector<std::string> runtime_seen;
std::vector<int> order_seen;

void runtime_hook(const char* text, size_t length, int32_t) { runtime_seen.emplace_back(text, length); }
template <int N>
void numbered_print_hook(Cell*, int32_t) { order_seen.push_back(N); }
template <int N>
void numbered_runtime_hook(const char*, size_t, int32_t) { order_seen.push_back(N); }

}  // namespace

TEST_F(Captured, TypedArgumentsPrintByKind) {
    print_line({true, false, int32_t(-42), 'x', 1.5f, 0.1, "text", hex(0xAB), uint32_t(0xDEADBEEF)});
    EXPECT_EQ(output(), "truefalse-42x1.50.1text000000ABDEADBEEF\n");
    prin({int32_t(7)});
    prin({" and "});
    EXPECT_EQ(output(), "7 and ");
}

TEST_F(Captured, NumberFormats) {
    struct Case {
        double value;
        int precision;
        const char* text;
    } cases[] = {
        {0.1, 16, "0.1"},
        {1.0 / 3.0, 16, "0.3333333333333333"},
        {1e21, 16, "1e+21"},
        {123456789.0, 7, "1.234568e+08"},
        {-0.0, 16, "-0"},
        {std::numeric_limits<double>::infinity(), 16, "inf"},
        {2.5, 7, "2.5"},
    };
    char b[64];
    for (const Case& c : cases)
        EXPECT_EQ(std::string(b, format_float(b, c.value, c.precision)), c.text) << c.value;
    EXPECT_EQ(std::string(b, format_hex2(b, 0x5)), "05");
    EXPECT_EQ(std::string(b, format_hex8(b, 0)), "00000000");
    EXPECT_EQ(std::string(b, format_int(b, INT32_MIN)), "-2147483648");
    print_float64(1e100);
    print_hex2(0x1FF);
    EXPECT_EQ(output(), "1e+100FF");
}

TEST_F(Captured, WriterEncodesEveryUnitSizeAsUtf8) {
    const uint8_t latin1[] = {'a', 0xE9};
    stdio::write(latin1, 2, 1, false);
    const uint16_t utf16[] = {0x0416, 0xD83D, 0xDE00, 0xD800, 'z'};  // the lone surrogate becomes U+FFFD
    stdio::write(utf16, sizeof utf16, 2, false);
    const uint32_t ucs4[] = {0x1F600, 0x110000, 'q'};
    stdio::write(ucs4, sizeof ucs4, 4, true);
    EXPECT_EQ(output(), "a\xC3\xA9\xD0\x96\xF0\x9F\x98\x80\xEF\xBF\xBDz\xF0\x9F\x98\x80\xEF\xBF\xBDq\n");
}

TEST_F(Captured, EscapeSequencesPassThroughAndLongRunsArriveWhole) {
    print_cstring("\x1b[31mred\x1b[0m");
    std::string big(5000, 'k');
    stdio::write(big.data(), big.size(), 1, true);
    std::string out = output();
    EXPECT_EQ(out, "\x1b[31mred\x1b[0m" + big + "\n");
}

TEST_F(Captured, RuntimeHooksSeeWhatWasPrinted) {
    runtime_seen.clear();
    add_output_hooks(nullptr, runtime_hook);
    print_line({"n=", int32_t(12)});
    EXPECT_EQ(runtime_seen, (std::vector<std::string>{"n=", "12", "\n"}));
    EXPECT_EQ(output(), "n=12\n");
}

TEST_F(Captured, HookListsGrowByFiveAndKeepRegistrationOrder) {
    order_seen.clear();
    add_output_hooks(numbered_print_hook<1>, numbered_runtime_hook<10>);
    add_output_hooks(numbered_print_hook<2>, nullptr);
    add_output_hooks(numbered_print_hook<3>, nullptr);
    add_output_hooks(numbered_print_hook<4>, nullptr);
    add_output_hooks(numbered_print_hook<5>, nullptr);
    EXPECT_EQ(print_hooks.capacity, 5);
    add_output_hooks(numbered_print_hook<6>, numbered_runtime_hook<20>);
    EXPECT_EQ(print_hooks.capacity, 10);
    EXPECT_EQ(print_hooks.count, 6);
    EXPECT_EQ(runtime_hooks.capacity, 5);
    call_print_hooks(nullptr, 1);
    EXPECT_EQ(order_seen, (std::vector<int>{1, 2, 3, 4, 5, 6}));

    order_seen.clear();
    remove_output_hooks(numbered_print_hook<3>, numbered_runtime_hook<10>);
    call_print_hooks(nullptr, 0);
    call_runtime_hooks("x", 1, 0);
    EXPECT_EQ(order_seen, (std::vector<int>{1, 2, 4, 5, 6, 20}));
    output();
}
