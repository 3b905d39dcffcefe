#include "platform/internet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/http_server.h"

namespace tandril {
namespace {

using test::Behaviour;
using test::CHttpServer;
using test::Route;

// Reads the whole body; returns -1 if a read failed.
long ReadAll(CInternetSession& session, std::string& body, std::size_t* largest = nullptr) {
    char buf[4096];
    for (;;) {
        long n = session.Read(buf, sizeof(buf));
        if (n <= 0)
            return n;
        if (largest != nullptr && static_cast<std::size_t>(n) > *largest)
            *largest = n;
        body.append(buf, static_cast<std::size_t>(n));
    }
}

class Internet : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(session.Open()); }
    CHttpServer server;
    CInternetSession session{CInternetOptions{}};
};

TEST_F(Internet, ReadsInChunksAndReusesOneConnection) {
    std::string big(100000, 'b');
    for (std::size_t i = 0; i < big.size(); i += 7)
        big[i] = static_cast<char>('a' + i % 26);
    server.SetFile("/big.bin", big, "application/octet-stream");
    server.SetPage("/exact", std::string(4096, 'e'));
    server.SetPage("/empty", "");
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(session.OpenUrl(server.Root() + "/big.bin"));
        std::string body;
        std::size_t largest = 0;
        EXPECT_EQ(ReadAll(session, body, &largest), 0);
        EXPECT_EQ(body, big);
        EXPECT_LE(largest, 4096u);
        session.CloseUrl();
    }
    ASSERT_TRUE(session.OpenUrl(server.Root() + "/exact"));
    char buf[4096];
    std::string body;
    EXPECT_EQ(ReadAll(session, body), 0);
    EXPECT_EQ(body.size(), 4096u);
    EXPECT_EQ(session.Read(buf, sizeof(buf)), 0);
    session.CloseUrl();
    ASSERT_TRUE(session.OpenUrl(server.Root() + "/empty"));
    EXPECT_EQ(session.Read(buf, sizeof(buf)), 0);
    session.CloseUrl();
    EXPECT_EQ(server.Connections(), 1);
}

TEST_F(Internet, RequestIdentifiesTheProgramAndAsksForNothingElse) {
    server.SetPage("/a%20b.html", "ok");
    ASSERT_TRUE(session.OpenUrl(server.Root() + "/a b.html"));
    std::string body;
    EXPECT_EQ(ReadAll(session, body), 0);
    EXPECT_EQ(body, "ok");
    std::string headers = server.LastHeaders();
    EXPECT_NE(headers.find("GET /a%20b.html HTTP/1.1\r\n"), std::string::npos);
    EXPECT_NE(headers.find("User-Agent: Tandril\r\n"), std::string::npos);
    EXPECT_EQ(headers.find("Accept-Encoding"), std::string::npos);
}

TEST_F(Internet, ErrorPagesAndRedirectsAreReadLikePages) {
    server.SetPage("/target.html", "arrived");
    Route hop;
    hop.status = 302;
    hop.location = "/target.html";
    server.Set("/hop", hop);
    ASSERT_TRUE(session.OpenUrl(server.Root() + "/hop"));
    std::string body;
    EXPECT_EQ(ReadAll(session, body), 0);
    EXPECT_EQ(body, "arrived");
    session.CloseUrl();

    ASSERT_TRUE(session.OpenUrl(server.Root() + "/missing.html"));
    body.clear();
    EXPECT_EQ(ReadAll(session, body), 0);
    EXPECT_NE(body.find("Not found"), std::string::npos);
    session.CloseUrl();

    Route loop;
    loop.status = 301;
    loop.location = "/loop";
    server.Set("/loop", loop);
    EXPECT_FALSE(session.OpenUrl(server.Root() + "/loop"));
}

TEST_F(Internet, BrokenTransfersFailInsteadOfEnding) {
    for (Behaviour b : {Behaviour::Reset, Behaviour::Short}) {
        Route r;
        r.body = std::string(50000, 'r');
        r.behaviour = b;
        server.Set("/broken", r);
        ASSERT_TRUE(session.OpenUrl(server.Root() + "/broken"));
        std::string body;
        EXPECT_EQ(ReadAll(session, body), -1);
        EXPECT_LT(body.size(), 50000u);
        session.CloseUrl();
    }
    Route closed;
    closed.behaviour = Behaviour::CloseOnly;
    server.Set("/closed", closed);
    EXPECT_FALSE(session.OpenUrl(server.Root() + "/closed"));
}

TEST_F(Internet, UnreachableServersFailToOpen) {
    CHttpServer gone;
    std::string root = gone.Root();
    gone.Stop();
    EXPECT_FALSE(session.OpenUrl(root + "/x.html"));
    EXPECT_FALSE(session.OpenUrl("http://"));
}

TEST_F(Internet, IdleTransferTimesOut) {
    CInternetOptions options;
    options.idleTimeoutSeconds = 1;
    CInternetSession quick(options);
    ASSERT_TRUE(quick.Open());
    Route r;
    r.body = std::string(20000, 's');
    r.behaviour = Behaviour::Stall;
    server.Set("/stall", r);
    ASSERT_TRUE(quick.OpenUrl(server.Root() + "/stall"));
    std::string body;
    EXPECT_EQ(ReadAll(quick, body), -1);
    EXPECT_EQ(body.size(), 10000u);
}

TEST_F(Internet, InterruptReleasesABlockedRead) {
    Route r;
    r.body = std::string(20000, 's');
    r.behaviour = Behaviour::Stall;
    server.Set("/stall", r);
    ASSERT_TRUE(session.OpenUrl(server.Root() + "/stall"));
    std::thread canceller([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        session.Interrupt();
    });
    std::string body;
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadAll(session, body), -1);
    auto waited = std::chrono::steady_clock::now() - before;
    canceller.join();
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_FALSE(session.OpenUrl(server.Root() + "/stall"));
}

}  // namespace
}  // namespace tandril

namespace tandril {
namespace {

// Answers that cannot be followed are final answers; none of them holds a read.
TEST(InternetHostile, UnfollowableAnswersAreFinal) {
    struct Case {
        const char* name;
        const char* answer;
        long status;
        const char* body;  // null: the open or the read fails
    } cases[] = {
        {"empty Location", "HTTP/1.1 302 Found\r\nLocation: \r\nContent-Length: 11\r\n\r\nhello world",
         302, "hello world"},
        {"blank Location", "HTTP/1.1 302 Found\r\nLocation:    \r\nContent-Length: 4\r\n\r\nbody",
         302, "body"},
        {"ftp Location", "HTTP/1.1 301 Moved\r\nLocation: ftp://h/x\r\nContent-Length: 4\r\n\r\nbody",
         301, "body"},
        {"unrequested 1xx and a body", "HTTP/1.1 100 Continue\r\n\r\n<html>body</html>", 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CHttpServer server;
        Route raw;
        raw.behaviour = Behaviour::Raw;
        raw.body = c.answer;
        server.Set("/x", raw);
        CInternetOptions options;
        options.idleTimeoutSeconds = 2;
        CInternetSession session(options);
        ASSERT_TRUE(session.Open());
        const auto start = std::chrono::steady_clock::now();
        bool opened = session.OpenUrl(server.Root() + "/x");
        std::string body;
        long end = opened ? ReadAll(session, body) : -1;
        const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 15.0);
        if (c.body != nullptr) {
            EXPECT_TRUE(opened);
            EXPECT_EQ(end, 0);
            EXPECT_EQ(body, c.body);
            EXPECT_EQ(session.ResponseCode(), c.status);
        }
        session.CloseUrl();
    }
}

}  // namespace
}  // namespace tandril
