// What a run keeps out of the copy and how politely it asks: robots.txt and its
// answers, the robots meta tag and rel=nofollow, the user's patterns, the start folder
// and the pause between requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "engine/mirror_job.h"
#include "tests/engine/run_helper.h"
#include "tests/support/http_server.h"
#include "tests/support/test_support.h"

namespace tandril {
namespace {

using test::CHttpServer;
using test::CTempDir;
using test::ReadFile;
using test::Route;

bool HasLine(const test::RunResult& r, const std::string& line) {
    return std::find(r.lines.begin(), r.lines.end(), line) != r.lines.end();
}

bool Asked(CHttpServer& server, const std::string& target) {
    const auto requests = server.Requests();
    return std::find(requests.begin(), requests.end(), target) != requests.end();
}

// A wiki that marks its action pages in robots.txt, with a meta tag and with rel.
class Wiki : public ::testing::Test {
protected:
    void SetUp() override {
        server.SetFile("/robots.txt",
                       "User-agent: *\nDisallow: /*do=\nDisallow: /private/\n\n"
                       "User-agent: otherbot\nDisallow: /\n",
                       "text/plain");
        server.SetPage("/doku.php?id=start",
                       "<a href=\"doku.php?id=a\">a</a> <a href=\"doku.php?id=a&amp;do=edit\">edit"
                       "</a> <a href=\"doku.php?id=start&amp;do=revisions\">old</a> "
                       "<a href=\"/private/x.html\">private</a> <a rel=\"nofollow noopener\" "
                       "href=\"doku.php?id=login\">login</a> <a href=\"doku.php?id=b\">b</a> "
                       "<img src=\"/lib/logo.png\"><img src=\"/private/p.png\">");
        server.SetPage(
            "/doku.php?id=a",
            "<meta name=\"ROBOTS\" content=\"noindex, NoFollow\"><a href=\"doku.php?id=c\">"
            "c</a><img src=\"/lib/a.png\"><a href=\"doku.php?id=b\">b</a>");
        server.SetPage("/doku.php?id=b", "<a href=\"doku.php?id=start\">start</a>");
        for (const char* page : {"/doku.php?id=c", "/doku.php?id=login", "/private/x.html",
                                 "/doku.php?id=a&do=edit", "/doku.php?id=start&do=revisions"})
            server.SetPage(page, "<p>should not be fetched</p>");
        server.SetFile("/lib/logo.png", "logo", "image/png");
        server.SetFile("/lib/a.png", "a", "image/png");
        server.SetFile("/private/p.png", "p", "image/png");
        job.m_limits.m_nMaxLevels = 3;
    }

    CHttpServer server;
    CTempDir dir;
    CMirrorJob job;
    test::CMessageRecorder boxes;
};

TEST_F(Wiki, RobotsTxtTheMetaTagAndNofollowAreObeyed) {
    const test::RunResult r =
        test::MirrorSite(job, server.Root() + "/doku.php?id=start", dir.Path());
    ASSERT_EQ(r.end, RunEnd::Done);
    EXPECT_EQ(server.Requests().front(), "/robots.txt");
    for (const char* fetched :
         {"/doku.php?id=start", "/doku.php?id=a", "/doku.php?id=b", "/lib/logo.png", "/lib/a.png"})
        EXPECT_TRUE(Asked(server, fetched)) << fetched;
    for (const char* kept :
         {"/doku.php?id=a&do=edit", "/doku.php?id=start&do=revisions", "/private/x.html",
          "/private/p.png", "/doku.php?id=login", "/doku.php?id=c"})
        EXPECT_FALSE(Asked(server, kept)) << kept;
    // One line for each URL robots.txt refuses; the pages that ask not to be followed
    // are told of once, and how many links they left at the end.
    const std::string root = server.Root();
    for (const char* refused : {"/doku.php?id=a&do=edit", "/doku.php?id=start&do=revisions",
                                "/private/x.html", "/private/p.png"}) {
        const std::string line = "Not fetched, refused by robots.txt: " + root + refused;
        EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(), line), 1) << line;
    }
    EXPECT_TRUE(HasLine(
        r, "Pages ask that their links not be followed (robots meta tag or rel=nofollow)."));
    ASSERT_GE(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[r.lines.size() - 2],
              "2 links were not followed because their pages asked so. To follow them, turn off "
              "\"Obey robots.txt\" in Options.");
    EXPECT_EQ(r.lines.back(), "Done!");
    // What was left stays on the live site.
    const std::string start = ReadFile(dir.Path() + "doku.php@id=start.html");
    EXPECT_NE(start.find("href=\"" + root + "/doku.php?id=a&amp;do=edit\""), std::string::npos)
        << start;
    EXPECT_NE(start.find("href=\"" + root + "/doku.php?id=login\""), std::string::npos);
    EXPECT_NE(start.find("src=\"" + root + "/private/p.png\""), std::string::npos);
    EXPECT_NE(start.find("src=\"file://"), std::string::npos);  // the logo is local
}

TEST_F(Wiki, WithoutRobotsEverythingIsFollowed) {
    job.m_limits.m_bObeyRobots = false;
    const test::RunResult r =
        test::MirrorSite(job, server.Root() + "/doku.php?id=start", dir.Path());
    ASSERT_EQ(r.end, RunEnd::Done);
    EXPECT_FALSE(Asked(server, "/robots.txt"));
    for (const char* page : {"/doku.php?id=a&do=edit", "/private/x.html", "/doku.php?id=login",
                             "/doku.php?id=c", "/private/p.png"})
        EXPECT_TRUE(Asked(server, page)) << page;
    EXPECT_FALSE(HasLine(
        r, "Pages ask that their links not be followed (robots meta tag or rel=nofollow)."));
}

TEST(Robots, HowEachAnswerForRobotsTxtIsTaken) {
    struct Case {
        const char* name;
        Route robots;
        bool othersFetched;
    } cases[] = {
        {"404: no rules", Route{404, "<p>none</p>"}, true},
        {"410: no rules", Route{410, "gone"}, true},
        {"500: nothing allowed", Route{500, "oops"}, false},
        {"503: nothing allowed", Route{503, "busy"}, false},
        {"429: nothing allowed", Route{429, "slow down"}, false},
        {"redirected to a file that allows", Route{301, "", "text/html", "/real-robots.txt"}, true},
        {"closed without an answer", Route{200, "", "text/plain", "", test::Behaviour::CloseOnly},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CHttpServer server;
        server.Set("/robots.txt", c.robots);
        server.SetFile("/real-robots.txt", "User-agent: *\nDisallow: /no\n", "text/plain");
        server.SetPage("/index.html", "<a href=\"a.html\">a</a><img src=\"i.png\">");
        server.SetPage("/a.html", "a");
        server.SetFile("/i.png", "i", "image/png");
        CTempDir dir;
        CMirrorJob job;
        job.m_limits.m_nMaxLevels = 1;
        const test::RunResult r = test::MirrorSite(job, server.Root() + "/index.html", dir.Path());
        EXPECT_EQ(r.end, RunEnd::Done);
        EXPECT_TRUE(test::FileExists(dir.Path() + "index.html"));
        EXPECT_EQ(test::FileExists(dir.Path() + "a.html"), c.othersFetched);
        EXPECT_EQ(test::FileExists(dir.Path() + "i.png"), c.othersFetched);
        EXPECT_EQ(
            HasLine(r, "Fetching " + server.Root() +
                           "/index.html although robots.txt refuses it: it is the start URL."),
            !c.othersFetched);
    }
}

TEST(Scope, PatternsAndTheStartFolder) {
    CHttpServer server, other;
    server.SetPage("/docs/guide/index.html",
                   "<a href=\"page.html\">p</a> <a href=\"../other.html\">o</a> "
                   "<a href=\"/forum/t1.html\">forum</a> <a href=\"edit.php?do=edit\">edit</a> "
                   "<img src=\"../img/x.png\"> <a href=\"" +
                       other.Root() + "/extra/more.html\">more</a>");
    server.SetPage("/docs/guide/page.html", "<p>page</p>");
    server.SetPage("/docs/other.html", "<p>other</p>");
    server.SetPage("/forum/t1.html", "<p>forum</p>");
    server.SetPage("/docs/guide/edit.php?do=edit", "<p>edit</p>");
    server.SetFile("/docs/img/x.png", "x", "image/png");
    other.SetPage("/extra/more.html", "<p>more</p>");
    CTempDir dir;
    CMirrorJob job;
    job.m_limits.m_nMaxLevels = 1;
    job.m_limits.m_bNoParent = true;
    job.m_limits.m_skipPatterns = {"*/forum/*", "*do=edit*"};
    job.m_limits.m_followPatterns = {"127.0.0.1:" + std::to_string(other.Port()) + "/extra/*"};
    ASSERT_TRUE(job.CheckPatterns());
    const test::RunResult r =
        test::MirrorSite(job, server.Root() + "/docs/guide/index.html", dir.Path());
    ASSERT_EQ(r.end, RunEnd::Done);
    EXPECT_TRUE(test::FileExists(dir.Path() + "docs/guide/page.html"));
    EXPECT_TRUE(test::FileExists(dir.Path() + "docs/img/x.png"));  // embedded: fetched
    EXPECT_FALSE(Asked(server, "/docs/other.html"));               // above the start folder
    EXPECT_FALSE(Asked(server, "/forum/t1.html"));
    EXPECT_FALSE(Asked(server, "/docs/guide/edit.php?do=edit"));
    // A host brought in by a pattern is followed, in its own folder.
    EXPECT_EQ(ReadFile(dir.Path() + "%offsite/127.0.0.1%3A" + std::to_string(other.Port()) +
                       "/extra/more.html"),
              "<p>more</p>");
    const std::string index = ReadFile(dir.Path() + "docs/guide/index.html");
    EXPECT_NE(index.find("href=\"" + server.Root() + "/forum/t1.html\""), std::string::npos);
    EXPECT_NE(index.find("href=\"" + server.Root() + "/docs/other.html\""), std::string::npos);
}

TEST(Scope, PatternsThatCannotBeUsedAreToldBeforeTheRun) {
    struct Case {
        const char* pattern;
        const char* message;
    } cases[] = {
        {"", "The pattern \"\" (it is empty) cannot be used. Please correct it in Options."},
        {"***",
         "The pattern \"***\" (it matches every URL) cannot be used. Please correct it in "
         "Options."},
        {"a b",
         "The pattern \"a b\" (it holds a space (write %20)) cannot be used. Please "
         "correct it in Options."},
    };
    for (const auto& c : cases) {
        test::CMessageRecorder boxes;
        CMirrorJob job;
        job.m_limits.m_followPatterns = {"fine/*", c.pattern};
        EXPECT_FALSE(job.CheckPatterns());
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{c.message});
    }
}

// Crawl-delay and the pause space the requests to a host; Cancel still ends a run at
// once, in the middle of a wait.
TEST(Scope, RequestsArePacedAndCancelStillEndsTheRunAtOnce) {
    CHttpServer server;
    server.SetFile("/robots.txt", "User-agent: *\nCrawl-delay: 0.2\n", "text/plain");
    server.SetPage("/index.html", "<img src=\"1.png\"><img src=\"2.png\"><img src=\"3.png\">");
    for (const char* png : {"/1.png", "/2.png", "/3.png"})
        server.SetFile(png, "png", "image/png");
    CTempDir dir;
    CMirrorJob job;
    const auto start = std::chrono::steady_clock::now();
    const test::RunResult r = test::MirrorSite(job, server.Root() + "/index.html", dir.Path());
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    ASSERT_EQ(r.end, RunEnd::Done);
    // Four requests after robots.txt, each at least 200 ms after the one before.
    EXPECT_GE(ms, 3 * 200);
    EXPECT_TRUE(HasLine(r, "Waiting 0.2 s at " + CSiteScope::Origin(ParseUriRef(server.Root())) +
                               " between requests, as robots.txt asks."));

    server.SetFile("/robots.txt", "User-agent: *\nCrawl-delay: 60\n", "text/plain");
    CTempDir again;
    CMirrorJob slow;
    const std::vector<std::string> lines =
        test::CancelAMidRunWait(slow, server.Root() + "/index.html", again.Path());
    EXPECT_TRUE(HasLine(test::RunResult{RunEnd::Running, lines, "", false},
                        "Waiting 30 s at " + CSiteScope::Origin(ParseUriRef(server.Root())) +
                            " between requests, as robots.txt asks."));
}

}  // namespace
}  // namespace tandril

namespace tandril {
namespace {

// Icons as MediaWiki serves them: each names a PNG for old browsers, then the SVG behind
// a gradient that only newer browsers read. A browser of today loads the SVG only; so
// does a run, in each mode and when an unchanged copy is updated.
TEST(Stylesheets, ImagesThatALaterDeclarationReplacesAreNotFetched) {
    const std::string css =
        ".add{background-image:url(icons/add.png);background-image:linear-gradient("
        "transparent,transparent),url(icons/add.svg)}\n"
        ".old{background:url(icons/old.png);background:-webkit-image-set(url(icons/old.svg) "
        "1x)}\n"
        ".both{list-style:url(icons/both.png);list-style:url(icons/new.png)}\n"
        ".plain{cursor:url(icons/both.png),auto}\n";
    struct Mode {
        const char* name;
        bool modify;
        bool relative;
    } modes[] = {{"linked", true, false}, {"portable", true, true}, {"copy only", false, false}};
    for (const Mode& mode : modes) {
        SCOPED_TRACE(mode.name);
        CHttpServer server;
        Route sheet{200, css, "text/css"};
        sheet.etag = "\"s1\"";
        server.Set("/style.css", sheet);
        server.SetPage("/index.html", "<link rel=stylesheet href=style.css><p>icons</p>");
        for (const char* icon : {"/icons/add.png", "/icons/add.svg", "/icons/old.png",
                                 "/icons/old.svg", "/icons/both.png", "/icons/new.png"})
            server.SetFile(icon, icon, "image/png");
        CTempDir dir;
        CMirrorJob job;
        job.m_limits.m_bModifyLinks = mode.modify;
        job.m_limits.m_bRelativeLinks = mode.relative;
        ASSERT_EQ(test::MirrorSite(job, server.Root() + "/index.html", dir.Path()).end,
                  RunEnd::Done);
        // Replaced: add.png. Kept: what a browser may still use (old.png, as its
        // replacement is prefixed) and both.png, which another rule uses.
        for (const char* fetched : {"/icons/add.svg", "/icons/old.png", "/icons/old.svg",
                                    "/icons/both.png", "/icons/new.png"})
            EXPECT_TRUE(Asked(server, fetched)) << fetched;
        EXPECT_FALSE(Asked(server, "/icons/add.png"));
        const std::string saved = ReadFile(dir.Path() + "style.css");
        if (mode.modify) {
            // What was left leads to the live site.
            EXPECT_NE(saved.find("url(" + server.Root() + "/icons/add.png)"), std::string::npos)
                << saved;
            EXPECT_EQ(saved.find("url(icons/add.png)"), std::string::npos) << saved;
        } else {
            EXPECT_EQ(saved, css);
        }

        // An update: the stylesheet is unchanged (304) and its recorded links are met
        // again; the replaced icon is still not asked for.
        const std::size_t before = server.Requests().size();
        CMirrorJob again;
        again.m_limits = job.m_limits;
        ASSERT_EQ(test::MirrorSite(again, server.Root() + "/index.html", dir.Path()).end,
                  RunEnd::Done);
        const auto requests = server.Requests();
        EXPECT_GT(requests.size(), before);
        EXPECT_EQ(std::count(requests.begin() + static_cast<std::ptrdiff_t>(before), requests.end(),
                             "/icons/add.png"),
                  0);
        EXPECT_EQ(ReadFile(dir.Path() + "style.css"), saved);
    }
}

}  // namespace
}  // namespace tandril
