// What a run sends and accepts on the wire: cookies a site sets and a cookies.txt,
// compressed answers, the environment's proxy and the User-Agent.
#include <brotli/encode.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "engine/mirror_job.h"
#include "platform/cookies.h"
#include "tests/engine/run_helper.h"
#include "tests/support/http_server.h"
#include "tests/support/test_support.h"

namespace tandril {
namespace {

using test::CHttpServer;
using test::CTempDir;
using test::ReadFile;
using test::Route;

std::string Gzip(const std::string& text) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, text.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string Brotli(const std::string& text) {
    std::size_t size = BrotliEncoderMaxCompressedSize(text.size());
    std::string out(size, '\0');
    EXPECT_TRUE(BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW,
                                      BROTLI_DEFAULT_MODE, text.size(),
                                      reinterpret_cast<const std::uint8_t*>(text.data()), &size,
                                      reinterpret_cast<std::uint8_t*>(out.data())));
    out.resize(size);
    return out;
}

Route Encoded(const std::string& body, const std::string& encoding, const char* type) {
    Route r;
    r.body = body;
    r.contentType = type;
    r.headers = "Content-Encoding: " + encoding + "\r\n";
    return r;
}

TEST(Network, CompressedAnswersAreSavedAndReadDecoded) {
    CHttpServer server;
    const std::string page = "<a href=\"b.html\">b</a><link rel=stylesheet href=\"s.css\">" +
                             std::string(5000, ' ') + "<img src=\"i.png\">";
    const std::string css = "body{background:url(bg.png)}" + std::string(3000, ' ');
    server.Set("/a.html", Encoded(Gzip(page), "gzip", "text/html"));
    server.Set("/b.html", Encoded(Brotli("<p>brotli page</p>"), "br", "text/html"));
    server.Set("/s.css", Encoded(Brotli(css), "br", "text/css"));
    server.SetFile("/i.png", "png", "image/png");
    server.SetFile("/bg.png", "bg", "image/png");
    CTempDir dir;
    CMirrorJob job;
    job.m_limits.m_nMaxLevels = 1;
    job.m_limits.m_bModifyLinks = false;
    ASSERT_EQ(test::MirrorSite(job, server.Root() + "/a.html", dir.Path()).end, RunEnd::Done);
    EXPECT_EQ(ReadFile(dir.Path() + "a.html"), page);
    EXPECT_EQ(ReadFile(dir.Path() + "b.html"), "<p>brotli page</p>");
    EXPECT_EQ(ReadFile(dir.Path() + "s.css"), css);
    EXPECT_EQ(ReadFile(dir.Path() + "bg.png"), "bg");  // found in the decoded stylesheet
    EXPECT_NE(server.LastHeaders().find("Accept-Encoding: "), std::string::npos);
    for (const char* encoding : {"gzip", "br"}) {
        EXPECT_NE(server.LastHeaders().find(encoding), std::string::npos) << encoding;
    }
    // The megabyte limit counts what is saved.
    EXPECT_EQ(job.m_limits.m_nKiloRest * 1024 + job.m_limits.m_nByteRest,
              page.size() + 18 + css.size() + 3 + 2);
}

TEST(Network, CookiesTheSiteSetsAreSentBack) {
    CHttpServer server;
    Route start;
    start.body = "<a href=\"inside.html\">in</a>";
    start.headers = "Set-Cookie: visit=42; Path=/\r\n";
    server.Set("/index.html", start);
    Route inside;
    inside.body = "<p>inside</p>";
    inside.needs = "Cookie: visit=42";
    server.Set("/inside.html", inside);
    CTempDir dir;
    CMirrorJob job;
    job.m_limits.m_nMaxLevels = 1;
    ASSERT_EQ(test::MirrorSite(job, server.Root() + "/index.html", dir.Path()).end, RunEnd::Done);
    EXPECT_EQ(ReadFile(dir.Path() + "inside.html"), "<p>inside</p>");
    // Kept in memory only.
    EXPECT_EQ(test::ReadCopy(dir.Path()).size(), 2u);
}

TEST(Network, ACookiesFileOpensPagesBehindALogin) {
    CHttpServer server;
    Route secret;
    secret.body = "<p>members only</p>";
    secret.needs = "Cookie: session=s3cr3t";
    server.Set("/members.html", secret);
    CTempDir dir;
    const std::string cookies = dir.Path() + "cookies.txt";
    const std::string text =
        "# Netscape HTTP Cookie File\n\n#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\t"
        "s3cr3t\r\n";
    test::WriteFile(cookies, text);
    CMirrorJob job;
    job.m_limits.m_strCookiesFile = cookies;
    ASSERT_TRUE(job.LoadCookies());
    ASSERT_EQ(test::MirrorSite(job, server.Root() + "/members.html", dir.Path() + "copy/").end,
              RunEnd::Done);
    EXPECT_EQ(ReadFile(dir.Path() + "copy/members.html"), "<p>members only</p>");
    EXPECT_EQ(ReadFile(cookies), text);  // read, never written
}

TEST(Network, ACookiesFileThatCannotBeUsedStopsTheRunBeforeItStarts) {
    CTempDir dir;
    test::WriteFile(dir.Path() + "bad.txt", "127.0.0.1\tFALSE\t/\tFALSE\t0\tname\tvalue\nhello\n");
    struct Case {
        std::string path;
        std::string message;
    } cases[] = {
        {dir.Path() + "missing.txt", "Cannot read the cookies file " + dir.Path() + "missing.txt!"},
        {dir.Path(), "Cannot read the cookies file " + dir.Path() + "!"},
        {dir.Path() + "bad.txt", dir.Path() +
                                     "bad.txt (line 2) is not a cookies file. Please choose a "
                                     "cookies.txt in the Netscape format, as browser extensions "
                                     "export it."},
    };
    for (const auto& c : cases) {
        test::CMessageRecorder boxes;
        CMirrorJob job;
        job.m_limits.m_strCookiesFile = c.path;
        EXPECT_FALSE(job.LoadCookies());
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{c.message});
    }
}

TEST(Network, CookiesFileLines) {
    struct Case {
        const char* text;
        int cookies;
        int badLine;
    } cases[] = {
        {"", 0, 0},
        {"# comment\n\n   \n", 0, 0},
        {"\xEF\xBB\xBFh\tTRUE\t/\tFALSE\t1700000000\tn\tv\n", 1, 0},
        {"h\tFALSE\t/\tTRUE\t0\tn\t\r\nh\tFALSE\t/\tTRUE\t0\tm\n", 2, 0},
        {"#HttpOnly_.example.com\tTRUE\t/\tFALSE\t0\tn\tv", 1, 0},
        {"h\tyes\t/\tFALSE\t0\tn\tv\n", 0, 1},
        {"h\tTRUE\t/\tFALSE\tsoon\tn\tv\n", 0, 1},
        {"# ok\nh TRUE / FALSE 0 n v\n", 0, 2},
        {"h\tTRUE\t/\tFALSE\t0\t\tv\n", 0, 1},
        {"#HttpOnly_\tTRUE\t/\tFALSE\t0\tn\tv\n", 0, 1},
        {"Set-Cookie: a=b\n", 0, 1},
    };
    for (const auto& c : cases) {
        const CookiesText parsed = ParseCookies(c.text);
        EXPECT_EQ(static_cast<int>(parsed.cookies.size()), c.cookies) << c.text;
        EXPECT_EQ(parsed.badLine, c.badLine) << c.text;
    }
}

// Answers that ask to come back later, and connections that break, are tried again;
// the copy is the one an untroubled server gives.
TEST(Network, BusyServersAndBrokenConnectionsAreTriedAgain) {
    CHttpServer server;
    server.SetPage("/index.html",
                   "<img src=\"busy.png\"><img src=\"reset.png\">"
                   "<img src=\"gateway.png\"><img src=\"down.png\">");
    Route busy{429, "slow down", "text/plain"};
    busy.headers = "Retry-After: 1\r\n";
    server.SetFirstAnswers("/busy.png", {busy});
    server.SetFile("/busy.png", "busy", "image/png");
    Route closed;
    closed.behaviour = test::Behaviour::CloseOnly;
    Route reset;
    reset.body = std::string(20000, 'r');
    reset.behaviour = test::Behaviour::Reset;
    server.SetFirstAnswers("/reset.png", {closed, reset});
    server.SetFile("/reset.png", "whole", "image/png");
    server.SetFirstAnswers("/gateway.png", {Route{502, "bad gateway"}, Route{504, "timeout"}});
    server.SetFile("/gateway.png", "gateway", "image/png");
    server.Set("/down.png", Route{503, "down for good"});
    CTempDir dir;
    CMirrorJob job;
    job.m_netOptions.retryWaitMs = 50;
    const auto start = std::chrono::steady_clock::now();
    const test::RunResult r = test::MirrorSite(job, server.Root() + "/index.html", dir.Path());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(r.end, RunEnd::Done);
    EXPECT_EQ(ReadFile(dir.Path() + "busy.png"), "busy");
    EXPECT_EQ(ReadFile(dir.Path() + "reset.png"), "whole");
    EXPECT_EQ(ReadFile(dir.Path() + "gateway.png"), "gateway");
    EXPECT_GE(seconds, 1.0);  // Retry-After was waited for
    // Three more tries, then the answer counts.
    EXPECT_FALSE(test::FileExists(dir.Path() + "down.png"));
    const auto requests = server.Requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "/down.png"), 4);
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "/busy.png"), 2);
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "/gateway.png"), 3);
    const std::string failed = "Cannot download " + server.Root() + "/down.png (HTTP 503)!";
    EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), failed), r.lines.end());
    EXPECT_EQ(job.m_limits.m_nFiles, 5u);
}

TEST(Network, CancelEndsARunThatWaitsForRetryAfter) {
    CHttpServer server;
    Route busy{503, "later", "text/plain"};
    busy.headers = "Retry-After: 300\r\n";
    server.Set("/index.html", busy);
    CTempDir dir;
    CMirrorJob job;
    test::CancelAMidRunWait(job, server.Root() + "/index.html", dir.Path());
}

// A redirect that cannot be followed is a failure with its reason; nothing is saved.
TEST(Network, ARedirectThatCannotBeFollowedSavesNothing) {
    CHttpServer server;
    server.SetPage("/index.html", "<img src=\"r.png\"><img src=\"ok.png\">");
    Route away;
    away.status = 302;
    away.location = "file:///etc/passwd";
    server.Set("/r.png", away);
    server.SetFile("/ok.png", "png", "image/png");
    CTempDir dir;
    CMirrorJob job;
    const test::RunResult r = test::MirrorSite(job, server.Root() + "/index.html", dir.Path());
    ASSERT_EQ(r.end, RunEnd::Done);
    EXPECT_FALSE(test::FileExists(dir.Path() + "r.png"));
    EXPECT_EQ(ReadFile(dir.Path() + "ok.png"), "png");
    const std::string line = "Cannot connect to " + server.Root() +
                             "/r.png! (redirect to a URL that is not http or https)";
    EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), line), r.lines.end());
}

// The environment's proxy carries every request (the origin here does not exist).
TEST(Network, TheEnvironmentsProxyIsUsed) {
    CHttpServer proxy;
    const std::string origin = "http://127.0.0.1:9";
    proxy.SetPage(origin + "/index.html", "<a href=\"next.html\">next</a>");
    proxy.SetPage(origin + "/next.html", "<p>via the proxy</p>");
    for (const char* name : {"no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(name);
    setenv("http_proxy", proxy.Root().c_str(), 1);
    CTempDir dir;
    CMirrorJob job;
    job.m_limits.m_nMaxLevels = 1;
    const test::RunResult r = test::MirrorSite(job, origin + "/index.html", dir.Path());
    unsetenv("http_proxy");
    ASSERT_EQ(r.end, RunEnd::Done);
    EXPECT_EQ(ReadFile(dir.Path() + "next.html"), "<p>via the proxy</p>");
    EXPECT_NE(proxy.LastHeaders().find("User-Agent: Tandril/" TANDRIL_VERSION "\r\n"),
              std::string::npos)
        << proxy.LastHeaders();
}

}  // namespace
}  // namespace tandril
