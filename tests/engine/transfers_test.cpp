#include "platform/transfers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/http_server.h"
#include "tests/support/test_support.h"

namespace tandril {
namespace {

using test::Behaviour;
using test::CHttpServer;
using test::Route;

class Transfers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pool.Open()); }
    // Fetches `url` in slot 0 to its end; the body is what reached the file.
    TransferOutcome Fetch(CTransferPool& p, const std::string& url, std::string* body = nullptr) {
        const int slot = p.FreeSlot();
        EXPECT_GE(slot, 0);
        const std::string path = tmp.Path() + "t" + std::to_string(slot);
        p.Start(slot, url, path);
        p.WaitForHeaders(slot);
        while (!p.WaitForEnd(slot, 200) && !p.IsInterrupted()) {
        }
        TransferOutcome out = p.Outcome(slot);
        p.Release(slot);
        if (body != nullptr)
            *body = test::ReadFile(path);
        return out;
    }
    CHttpServer server;
    test::CTempDir tmp;
    CTransferPool pool{CInternetOptions{}, 1};
};

TEST_F(Transfers, WholeBodiesOverOneReusedConnection) {
    std::string big(300000, 'b');
    for (std::size_t i = 0; i < big.size(); i += 7)
        big[i] = static_cast<char>('a' + i % 26);
    server.SetFile("/big.bin", big, "application/octet-stream");
    server.SetPage("/empty", "");
    for (int round = 0; round < 3; ++round) {
        std::string body;
        TransferOutcome out = Fetch(pool, server.Root() + "/big.bin", &body);
        EXPECT_TRUE(out.complete);
        EXPECT_EQ(out.bytes, big.size());
        EXPECT_EQ(body, big);
        EXPECT_EQ(out.contentType, "application/octet-stream");
    }
    std::string body = "stale";
    EXPECT_TRUE(Fetch(pool, server.Root() + "/empty", &body).complete);
    EXPECT_EQ(body, "");
    EXPECT_EQ(server.Connections(), 1);
}

TEST_F(Transfers, RequestIdentifiesTheProgramAndAsksForCompression) {
    server.SetPage("/a%20b.html", "ok");
    std::string body;
    EXPECT_TRUE(Fetch(pool, server.Root() + "/a b.html", &body).complete);
    EXPECT_EQ(body, "ok");
    std::string headers = server.LastHeaders();
    EXPECT_NE(headers.find("GET /a%20b.html HTTP/1.1\r\n"), std::string::npos);
    EXPECT_NE(headers.find("User-Agent: Tandril/" TANDRIL_VERSION "\r\n"), std::string::npos);
    EXPECT_NE(headers.find("Accept-Encoding: "), std::string::npos);
    EXPECT_EQ(headers.find("Cookie"), std::string::npos);
}

TEST_F(Transfers, ErrorPagesAndRedirects) {
    server.SetPage("/dir/target.html", "arrived");
    Route hop;
    hop.status = 302;
    hop.location = "dir/target.html";  // relative to the answer's own URL
    server.Set("/hop", hop);
    std::string body;
    TransferOutcome out = Fetch(pool, server.Root() + "/hop", &body);
    EXPECT_TRUE(out.complete);
    EXPECT_EQ(out.status, 200);
    EXPECT_EQ(body, "arrived");
    EXPECT_EQ(out.finalUrl, server.Root() + "/dir/target.html");

    out = Fetch(pool, server.Root() + "/missing.html", &body);
    EXPECT_TRUE(out.complete);
    EXPECT_EQ(out.status, 404);
    EXPECT_NE(body.find("Not found"), std::string::npos);

    Route loop;
    loop.status = 301;
    loop.location = "/loop";
    server.Set("/loop", loop);
    out = Fetch(pool, server.Root() + "/loop");
    EXPECT_FALSE(out.opened);
    EXPECT_EQ(out.error, "too many redirects");
}

TEST_F(Transfers, BrokenTransfersFailInsteadOfEnding) {
    for (Behaviour b : {Behaviour::Reset, Behaviour::Short}) {
        Route r;
        r.body = std::string(50000, 'r');
        r.behaviour = b;
        server.Set("/broken", r);
        TransferOutcome out = Fetch(pool, server.Root() + "/broken");
        EXPECT_TRUE(out.opened);
        EXPECT_FALSE(out.complete);
        EXPECT_LT(out.bytes, 50000u);
    }
    Route closed;
    closed.behaviour = Behaviour::CloseOnly;
    server.Set("/closed", closed);
    TransferOutcome out = Fetch(pool, server.Root() + "/closed");
    EXPECT_FALSE(out.opened);
    EXPECT_EQ(out.error, "closed without an answer");
}

TEST_F(Transfers, UnreachableServersAndBadFiles) {
    CHttpServer gone;
    std::string root = gone.Root();
    gone.Stop();
    TransferOutcome out = Fetch(pool, root + "/x.html");
    EXPECT_FALSE(out.opened);
    EXPECT_EQ(out.error, "connection refused");
    EXPECT_FALSE(Fetch(pool, "http://").opened);
    // A file that cannot be created ends the transfer at the first byte of its body.
    pool.Start(0, server.Root() + "/x", tmp.Path() + "no/such/dir/file");
    while (!pool.WaitForEnd(0, 200)) {
    }
    EXPECT_TRUE(pool.Outcome(0).fileRefused);
    EXPECT_FALSE(pool.Outcome(0).complete);
    pool.Release(0);
}

TEST_F(Transfers, IdleTransferTimesOut) {
    CInternetOptions options;
    options.idleTimeoutSeconds = 1;
    CTransferPool quick(options, 1);
    ASSERT_TRUE(quick.Open());
    Route r;
    r.body = std::string(20000, 's');
    r.behaviour = Behaviour::Stall;
    server.Set("/stall", r);
    TransferOutcome out = Fetch(quick, server.Root() + "/stall");
    EXPECT_TRUE(out.opened);
    EXPECT_FALSE(out.complete);
    EXPECT_EQ(out.bytes, 10000u);
}

TEST_F(Transfers, InterruptReleasesEveryWait) {
    Route r;
    r.body = std::string(20000, 's');
    r.behaviour = Behaviour::Stall;
    server.Set("/stall", r);
    std::thread canceller([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        pool.Interrupt();
    });
    auto before = std::chrono::steady_clock::now();
    TransferOutcome out = Fetch(pool, server.Root() + "/stall");
    auto waited = std::chrono::steady_clock::now() - before;
    canceller.join();
    EXPECT_FALSE(out.complete);
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_FALSE(Fetch(pool, server.Root() + "/stall").opened);  // and every later one
}

// Several at once: never more connections than transfers allowed.
TEST_F(Transfers, SeveralAtOnceWithinTheConnectionLimit) {
    CTransferPool four(CInternetOptions{}, 4);
    ASSERT_TRUE(four.Open());
    for (int i = 0; i < 12; ++i)
        server.SetPage("/p" + std::to_string(i), std::string(30000 + i, 'p'));
    int next = 0, done = 0;
    int slots[4] = {-1, -1, -1, -1};
    while (done < 12) {
        for (int s = four.FreeSlot(); s >= 0 && next < 12; s = four.FreeSlot()) {
            four.Start(s, server.Root() + "/p" + std::to_string(next),
                       tmp.Path() + "s" + std::to_string(s));
            slots[s] = next++;
        }
        EXPECT_LE(four.Busy(), 4);
        for (int s = 0; s < 4; ++s) {
            if (slots[s] >= 0 && four.WaitForEnd(s, 20)) {
                EXPECT_TRUE(four.Outcome(s).complete);
                EXPECT_EQ(four.Outcome(s).bytes, 30000u + slots[s]);
                four.Release(s);
                slots[s] = -1;
                ++done;
            }
        }
    }
    EXPECT_LE(server.Connections(), 4);
}

// Answers that cannot be followed are final answers; none of them holds a wait.
TEST(TransfersHostile, UnfollowableAnswersAreFinal) {
    struct Case {
        const char* name;
        const char* answer;
        long status;
        const char* body;  // null: it cannot be opened
        const char* error;
    } cases[] = {
        // A redirect that cannot be followed is a failure, and nothing is kept of it.
        {"empty Location",
         "HTTP/1.1 302 Found\r\nLocation: \r\nContent-Length: 11\r\n\r\nhello world", 0, nullptr,
         "redirect without a target"},
        {"blank Location", "HTTP/1.1 302 Found\r\nLocation:    \r\nContent-Length: 4\r\n\r\nbody",
         0, nullptr, "redirect without a target"},
        {"no Location", "HTTP/1.1 307 Moved\r\nContent-Length: 4\r\n\r\nbody", 0, nullptr,
         "redirect without a target"},
        {"ftp Location",
         "HTTP/1.1 301 Moved\r\nLocation: ftp://h/x\r\nContent-Length: 4\r\n\r\nbody", 0, nullptr,
         "redirect to a URL that is not http or https"},
        {"file Location",
         "HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: 0\r\n\r\n", 0,
         nullptr, "redirect to a URL that is not http or https"},
        {"dict Location", "HTTP/1.1 303 See\r\nLocation: dict://h/d\r\nContent-Length: 0\r\n\r\n",
         0, nullptr, "redirect to a URL that is not http or https"},
        {"unrequested 1xx and a body", "HTTP/1.1 100 Continue\r\n\r\n<html>body</html>", 0, nullptr,
         nullptr},
    };
    test::CTempDir tmp;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CHttpServer server;
        Route raw;
        raw.behaviour = Behaviour::Raw;
        raw.body = c.answer;
        server.Set("/x", raw);
        CInternetOptions options;
        options.idleTimeoutSeconds = 2;
        CTransferPool pool(options, 1);
        ASSERT_TRUE(pool.Open());
        const auto start = std::chrono::steady_clock::now();
        pool.Start(0, server.Root() + "/x", tmp.Path() + "x");
        const bool opened = pool.WaitForHeaders(0);
        while (!pool.WaitForEnd(0, 200)) {
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 15.0);
        if (c.body != nullptr) {
            EXPECT_TRUE(opened);
            EXPECT_TRUE(pool.Outcome(0).complete);
            EXPECT_EQ(pool.Outcome(0).status, c.status);
            EXPECT_EQ(test::ReadFile(tmp.Path() + "x"), c.body);
        } else {
            EXPECT_FALSE(opened);
            EXPECT_FALSE(pool.Outcome(0).complete);
            EXPECT_EQ(pool.Outcome(0).bytes, 0u);
            if (c.error != nullptr) {
                EXPECT_EQ(pool.Outcome(0).error, c.error);
            }
        }
        pool.Release(0);
    }
}

}  // namespace
}  // namespace tandril

namespace tandril {
namespace {

TEST_F(Transfers, AnAnswerWithoutABodyMakesNoFile) {
    test::Route unchanged{200, "<p>page</p>"};
    unchanged.etag = "\"v1\"";
    server.Set("/page.html", unchanged);
    server.Set("/empty.html", test::Route{200, ""});
    // A 304: no file.
    pool.Start(0, server.Root() + "/page.html", tmp.Path() + "slot",
               RequestConditions{"\"v1\"", ""});
    while (!pool.WaitForEnd(0, 200)) {
    }
    EXPECT_EQ(pool.Outcome(0).status, 304);
    EXPECT_TRUE(pool.Outcome(0).complete);
    EXPECT_FALSE(test::FileExists(tmp.Path() + "slot"));
    pool.Release(0);
    // An empty 200: an empty file, made afresh over what stood there.
    test::WriteFile(tmp.Path() + "slot", "old");
    pool.Start(0, server.Root() + "/empty.html", tmp.Path() + "slot");
    while (!pool.WaitForEnd(0, 200)) {
    }
    EXPECT_TRUE(pool.Outcome(0).complete);
    EXPECT_EQ(test::ReadFile(tmp.Path() + "slot"), "");
    pool.Release(0);
}

}  // namespace
}  // namespace tandril
