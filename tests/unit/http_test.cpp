// HTTP requests against a small server that the test runs on 127.0.0.1: the request line,
// default and given headers, bodies sent and received, redirects, the /info block, header
// parsing, and unreachable hosts. Nothing leaves the machine.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "datatypes/url.h"
#include "memory/error.h"
#include "memory/symbol.h"
#include "memory/action-types.h"
#include "memory/datatype.h"
#include "io/file-io.h"
#include "io/http.h"
#include "io_fixture.h"
#include "string_fixture.h"

using namespace zuv;
using namespace zuv::testing;
using namespace std::string_literals;

namespace {

// One request as the server received it.
struct Received {
    std::string line;                         // "GET /path HTTP/1.1"
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

// Answers each connection with the canned response for its path, then closes it.
class TestServer {
public:
    explicit TestServer(std::map<std::string, std::string> responses) : responses_(std::move(responses)) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0) return;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 8) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
            ::close(listener_);
            listener_ = -1;
            return;
        }
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~TestServer() {
        if (listener_ < 0) return;
        shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }
    bool up() const { return listener_ >= 0; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    std::vector<Received> received() {
        std::lock_guard<std::mutex> g(mutex_);
        return received_;
    }

private:
    void serve() {
        for (;;) {
            int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) return;
            answer(c);
            ::close(c);
        }
    }
    void answer(int c) {
        std::string data;
        char buf[4096];
        size_t head_end;
        while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
            ssize_t n = recv(c, buf, sizeof buf, 0);
            if (n <= 0) return;
            data.append(buf, static_cast<size_t>(n));
        }
        Received r;
        std::string head = data.substr(0, head_end);
        size_t eol = head.find("\r\n");
        r.line = head.substr(0, eol);
        for (size_t at = eol; at != std::string::npos && at < head.size();) {
            size_t next = head.find("\r\n", at + 2);
            std::string h = head.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
            size_t colon = h.find(':');
            std::string name = h.substr(0, colon);
            for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            std::string value = colon == std::string::npos ? "" : h.substr(colon + 1);
            r.headers[name] = value.substr(std::min(value.find_first_not_of(' '), value.size()));
            at = next;
        }
        size_t length = r.headers.count("content-length") ? std::stoul(r.headers["content-length"]) : 0;
        r.body = data.substr(head_end + 4);
        while (r.body.size() < length) {
            ssize_t n = recv(c, buf, sizeof buf, 0);
            if (n <= 0) break;
            r.body.append(buf, static_cast<size_t>(n));
        }
        std::string path = r.line.substr(r.line.find(' ') + 1);
        path = path.substr(0, path.find(' '));
        {
            std::lock_guard<std::mutex> g(mutex_);
            received_.push_back(r);
        }
        auto found = responses_.find(path);
        std::string response = found != responses_.end() ? found->second
                                                           : "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nnope";
        send(c, response.data(), response.size(), MSG_NOSIGNAL);
    }

    std::map<std::string, std::string> responses_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<Received> received_;
};

std::string ok(const std::string& body, const std::string& extra = "") {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

Cell word(const char* name, Type t = Type::word) {
    Cell w;
    cell::make(&w, t, 0, static_cast<uint32_t>(symbol::make(name)), static_cast<uint32_t>(-1));
    return w;
}

class HttpTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        // A proxy set in the environment must not see these requests.
        setenv("no_proxy", "*", 1);
        setenv("NO_PROXY", "*", 1);
        get = word("get");
    }
    Cell get;
};

}  // namespace

TEST_F(HttpTest, ReadSendsTheDefaultHeadersAndDecodesTheBody) {
    TestServer server({{"/text", ok("h\xC3\xA9llo\r\nworld\rend")}});
    if (!server.up()) GTEST_SKIP() << "no loopback socket";
    Cell u = str(server.url("/text"), Type::url);
    Cell* r = http::request(&get, &u, nullptr, nullptr, false, false, false);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(describe(*r), "\"h\xC3\xA9llo\nworld\nend\"");
    auto got = server.received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].line, "GET /text HTTP/1.1");
    EXPECT_EQ(got[0].headers["content-type"], "application/x-www-form-urlencoded");
    EXPECT_EQ(got[0].headers["accept-charset"], "UTF-8");
    EXPECT_EQ(got[0].headers["user-agent"], http::default_user_agent);
    EXPECT_EQ(got[0].body, "");
    EXPECT_EQ(describe(*http::request(&get, &u, nullptr, nullptr, true, false, false)),
              "[\"h\xC3\xA9llo\" \"world\rend\"]");
    EXPECT_EQ(describe(*http::request(&get, &u, nullptr, nullptr, false, true, false)),
              "#{68C3A96C6C6F0D0A776F726C640D656E64}");
}

TEST_F(HttpTest, BodiesAndHeadersAreSentAsGiven) {
    TestServer server({{"/put", ok("done")}, {"/p%20q", ok("escaped")}});
    if (!server.up()) GTEST_SKIP() << "no loopback socket";
    Cell u = str(server.url("/put"), Type::url);
    Cell put = word("put");
    Cell headers = block_of({word("Content-Type", Type::set_word), str("application/octet-stream"),
                             str("X-Count"), integer(3), word("X-Empty"), str("")});
    Cell body = *file_io::binary_from_bytes("\0\x01\xFF rest"s);
    Cell* r = http::request(&put, &u, &headers, &body, false, false, false);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(utf8(*r), "done");
    Cell text = str("caf\xC3\xA9");
    Cell post = word("post");
    http::request(&post, &u, &headers, &text, false, false, false);
    Cell head = word("head");
    http::request(&head, &u, &headers, &text, false, false, false);
    // The url! holds decoded text; it goes out escaped again.
    Cell spaced = str(server.url("/p q"), Type::url);
    EXPECT_EQ(utf8(*http::request(&get, &spaced, nullptr, nullptr, false, false, false)), "escaped");

    auto got = server.received();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].line, "PUT /put HTTP/1.1");
    EXPECT_EQ(got[0].body, "\0\x01\xFF rest"s);
    EXPECT_EQ(got[0].headers["content-type"], "application/octet-stream");
    EXPECT_EQ(got[0].headers["x-count"], "3");
    EXPECT_EQ(got[0].headers.count("x-empty"), 1u);
    EXPECT_EQ(got[0].headers.count("user-agent") + got[0].headers.count("accept-charset"), 0u);
    EXPECT_EQ(got[1].line, "POST /put HTTP/1.1");
    EXPECT_EQ(got[1].body, "caf\xC3\xA9");
    EXPECT_EQ(got[2].line, "HEAD /put HTTP/1.1");
    EXPECT_EQ(got[2].body, "");
    EXPECT_EQ(got[3].line, "GET /p%20q HTTP/1.1");
}

TEST_F(HttpTest, InfoGivesStatusHeadersAndBody) {
    TestServer server({{"/old", "HTTP/1.1 302 Found\r\nLocation: /new\r\nContent-Length: 0\r\nX-Old: 1\r\n\r\n"},
                       {"/new", "HTTP/1.1 201 Created\r\nContent-Length: 2\r\nSet-Cookie: a=1\r\n"
                                "set-cookie: b=2\r\nX-Note:  spaced \r\n\r\nok"}});
    if (!server.up()) GTEST_SKIP() << "no loopback socket";
    Cell u = str(server.url("/old"), Type::url);
    Cell* r = http::request(&get, &u, nullptr, nullptr, false, false, true);
    ASSERT_NE(r, nullptr);
    // The redirect is followed; the headers are those of the final answer.
    EXPECT_EQ(describe(*r),
              "[201 #[Content-Length: \"2\" Set-Cookie: [\"a=1\" \"b=2\"] X-Note: \"spaced \"] \"ok\"]");
    Cell missing = str(server.url("/missing"), Type::url);
    EXPECT_EQ(describe(*http::request(&get, &missing, nullptr, nullptr, false, false, true)),
              "[404 #[Content-Length: \"4\"] \"nope\"]");
}

TEST_F(HttpTest, ParseHeaders) {
    struct Case {
        const char* text;
        const char* map;
    } cases[] = {
        {"A: 1\r\nB: x y\r\na: 2\r\nA: 3\r\n", "#[A: [\"1\" \"2\" \"3\"] B: \"x y\"]"},
        {"", "#[]"},
        {"no colon\r\n: empty name\r\nbad name: v\r\nK:v\r\nL:\r\n", "#[K: \"v\" L: \"\"]"},
    };
    for (const Case& c : cases) EXPECT_EQ(describe(*http::parse_headers(c.text)), c.map) << c.text;
}

TEST_F(HttpTest, UnreachableHostsGiveNothing) {
    // A port that was just free: nothing listens there.
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) GTEST_SKIP() << "no loopback socket";
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&a), &size), 0);
    ::close(s);
    std::string url = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/";
    EXPECT_EQ(http::perform({"GET", url, {}, std::nullopt}), std::nullopt);
    // Only http and https are spoken.
    EXPECT_EQ(http::perform({"GET", "file:///etc/hostname", {}, std::nullopt}), std::nullopt);
    auto read = reinterpret_cast<slotfn::Read>(datatype::action_of(Type::url, datatype::slot::read));
    Cell u = str(url, Type::url);
    EXPECT_EQ(raised([&] { read(&u, {}); }), error::id::access_no_connect);
    EXPECT_EQ(utf8(error::last.args[0]), url);
}
