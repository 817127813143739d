// Platform layer: time and zones, sleeping, the environment, the current directory,
// command-line quoting, the system description and angle folding.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "runtime/platform.h"

using namespace zuv;

namespace {

// The boot argument splitter's rules: a double quote toggles split mode and stays in the
// text; in split mode a run of blanks ends an argument; a quote that opens an argument is
// dropped, and one that closes it unless it is the same quote.
std::vector<std::string> split_like_boot(const std::string& line) {
    std::vector<std::string> out;
    bool split = true;
    size_t start = 0, i = 0;
    auto take = [&](size_t end) {
        if (end <= start) return;
        std::string s = line.substr(start, end - start);
        bool first = s.front() == '"';
        if (first) s.erase(0, 1);
        if (!s.empty() && s.back() == '"' && !(first && s.size() == 0)) s.pop_back();
        out.push_back(s);
    };
    while (i < line.size()) {
        char c = line[i];
        if (c == '"') split = !split;
        if (split && (c == ' ' || c == '\t')) {
            take(i);
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
            start = i;
            continue;
        }
        ++i;
    }
    take(i);
    return out;
}

}  // namespace

TEST(Platform, WaitMilliseconds) {
    struct Case {
        double seconds;
        int64_t ms;
    } cases[] = {{0.0004, 1}, {2.5, 2500}, {0.0, 1}, {-3.0, 1}, {NAN, 1}, {0.0019, 1}, {1e300, INT64_MAX / 2}};
    for (const Case& c : cases) EXPECT_EQ(platform::wait_milliseconds(c.seconds), c.ms) << c.seconds;
}

TEST(Platform, ZoneBits) {
    struct Case {
        int32_t minutes;
        int32_t zone;
    } cases[] = {
        {330, (5 << 2) | 2},             // UTC+5:30
        {-210, ((3 | 0x10) << 2) | 2},   // UTC-3:30
        {0, 0},
        {-195, ((3 | 0x10) << 2) | 1},   // UTC-3:15 keeps its quarter
        {-30, (0x10 << 2) | 2},          // UTC-0:30 keeps its sign
        {345, (5 << 2) | 3},             // UTC+5:45
        {14 * 60, 14 << 2},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::zone_from_offset(c.minutes), c.zone) << c.minutes;
}

TEST(Platform, DateAndTime) {
    int32_t d = platform::get_date(true);
    EXPECT_GE(d >> 17, 2026);
    int32_t month = (d >> 12) & 0xF, day = (d >> 7) & 0x1F;
    EXPECT_TRUE(month >= 1 && month <= 12);
    EXPECT_TRUE(day >= 1 && day <= 31);
    EXPECT_EQ(d & 0x7F, 0);
    EXPECT_EQ(platform::pack_date(2027, 1, 1, 0), (2027 << 17) | (1 << 12) | (1 << 7));
    double t = platform::get_time(false);
    EXPECT_TRUE(t >= 0 && t < 86400 && t == std::floor(t));
    double p = platform::get_time(true);
    EXPECT_TRUE(p >= 0 && p < 86400);
}

TEST(Platform, Environment) {
    EXPECT_FALSE(platform::get_env("ZUV_TEST_SURELY_UNSET").has_value());
    EXPECT_NE(platform::set_env("ZUV_TEST_VAR", "a=b ü"), 0);
    EXPECT_EQ(platform::get_env("ZUV_TEST_VAR").value_or(""), "a=b ü");
    bool listed = false;
    for (auto& [name, value] : platform::list_env_pairs())
        if (name == "ZUV_TEST_VAR") listed = value == "a=b ü";
    EXPECT_TRUE(listed);
    EXPECT_NE(platform::set_env("ZUV_TEST_VAR", nullptr), 0);
    EXPECT_FALSE(platform::get_env("ZUV_TEST_VAR").has_value());
    EXPECT_EQ(platform::set_env("BAD=NAME", "x"), 0);
    EXPECT_EQ(platform::set_env("", "x"), 0);

    using P = std::pair<std::string, std::string>;
    EXPECT_EQ(platform::split_env_entry("=C:=C:\\dir"), (P{"=C:", "C:\\dir"}));
    EXPECT_EQ(platform::split_env_entry("A=1=2"), (P{"A", "1=2"}));
    EXPECT_EQ(platform::split_env_entry("NOVALUE"), (P{"NOVALUE", ""}));
}

TEST(Platform, CurrentDirectory) {
    std::string here = platform::get_current_dir();
    ASSERT_FALSE(here.empty());
    EXPECT_NE(platform::set_current_dir("/"), 0);
    EXPECT_EQ(platform::get_current_dir(), "/");
    EXPECT_EQ(platform::set_current_dir("/surely/not/a/folder"), 0);
    EXPECT_NE(platform::set_current_dir(here.c_str()), 0);
}

TEST(Platform, QuotedArgumentsSplitBack) {
    std::vector<std::vector<std::string>> cases = {
        {"/usr/bin/zuv", "a", "b c"},
        {"zuv", "", "x"},
        {"zuv", "tab\there", "--catch", "script.zuv"},
        {"zuv", "\"x\"", "y\"z"},
        {"zuv", "ünï", "\"\"", "last\"odd"},
    };
    for (const auto& args : cases) {
        std::string line;
        for (const auto& a : args) line += (line.empty() ? "" : " ") + platform::quote_argument(a);
        EXPECT_EQ(split_like_boot(line), args) << line;
    }
    EXPECT_EQ(platform::quote_argument("plain"), "plain");
    EXPECT_EQ(platform::quote_argument("b c"), "\"b c\"");
}

TEST(Platform, SystemDescription) {
    struct Case {
        const char *sys, *release, *machine, *name, *arch;
        uint8_t v0, v1, v2;
        int32_t build;
    } cases[] = {
        {"Linux", "6.1.0-18-amd64", "x86_64", "Linux 6.1.0-18-amd64", "x86-64", 6, 1, 0, 18},
        {"Linux", "5.15.90.1-microsoft", "aarch64", "Linux 5.15.90.1-microsoft", "ARM64", 5, 15, 90, 0},
        {"Linux", "6.8", "riscv64", "Linux 6.8", "Unknown", 6, 8, 0, 0},
        {"Linux", "", "", "Linux ", "Unknown", 0, 0, 0, 0},
        {"Linux", "999.1000.7-x", "i686", "Linux 999.1000.7-x", "x86-32", 255, 255, 7, 0},
    };
    for (const Case& c : cases) {
        platform::OsInfo i = platform::os_info_from(c.sys, c.release, c.machine);
        EXPECT_EQ(i.name, c.name);
        EXPECT_EQ(i.arch, c.arch);
        EXPECT_EQ(i.version[0], c.v0) << c.release;
        EXPECT_EQ(i.version[1], c.v1) << c.release;
        EXPECT_EQ(i.version[2], c.v2) << c.release;
        EXPECT_EQ(i.build, c.build) << c.release;
    }
    platform::OsInfo here = platform::os_info();
    EXPECT_EQ(here.name.rfind("Linux ", 0), 0u);
}

TEST(Platform, DegreesFoldBeforeConversion) {
    const double r = 3.141592653589793 / 180.0;
    struct Case {
        double degrees;
        int32_t kind;
        double folded;
    } cases[] = {
        {270, 0, -90}, {270, 1, -90}, {270, 2, -90},   {120, 2, 60},  {120, 0, -60},
        {120, 1, 120}, {-450, 1, -90}, {-120, 2, -60}, {-120, 0, 60}, {45, 0, 45},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(runtime::degrees_to_radians(c.degrees, c.kind), c.folded * r) << c.degrees << "/" << c.kind;
    EXPECT_EQ(runtime::round_up(17, 16), 32u);
    EXPECT_EQ(runtime::round_up(4096, 4096), 4096u);
}
