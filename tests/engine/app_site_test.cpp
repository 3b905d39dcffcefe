// Whole runs over a site that behaves like a PHP application: pages at
// index.php?page=..., /?p=N and ?page=2, an extensionless page beside a folder of the
// same name, .asp pages, a stylesheet at style.php?v=2 that loads a font, a PDF behind
// download.php?id=5, and a stylesheet, script and font on a second host. Mirrored
// linked, portable and copy-only; the copy is opened from disk link by link.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "engine/mirror_job.h"
#include "tests/engine/run_helper.h"
#include "tests/support/copy_check.h"
#include "tests/support/http_server.h"
#include "tests/support/test_support.h"

namespace tandril {
namespace {

using test::CHttpServer;
using test::CTempDir;
using test::ReadFile;

const std::string kPdf = "%PDF-1.4\n" + std::string(100, 'd');
const std::string kFont = "wOF2" + std::string(40, 'f');

class AppSite : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string cdn = cdnServer.Root();
        cdnHost = "127.0.0.1%3A" + std::to_string(cdnServer.Port());
        Page("/index.php?page=home",
             "<html><head><link rel=\"stylesheet\" href=\"/style.php?v=2\">"
             "<link rel=\"stylesheet\" href=\"" +
                 cdn +
                 "/cdn/theme.css\">"
                 "<script src=\"" +
                 cdn + "/cdn/lib.js\"></script><script src=\"" + cdn +
                 "/cdn/missing.js\"></script></head><body>"
                 "<img src=\"http://127.0.0.1:1/dead.png\">"
                 "<img src=\"/img/logo.png\">"
                 "<a href=\"index.php?page=about\">About us</a> "
                 "<a href=\"index.php?page=news&amp;sort=new\">News</a> "
                 "<a href=\"/?p=1\">Post 1</a> <a href=\"/?p=2#comments\">Post 2</a> "
                 "<a href=\"?page=2\">Next</a> <a href=\"/about\">Team</a> "
                 "<a href=\"/legacy/default.asp\">Old site</a> "
                 "<a href=\"download.php?id=5\">Report (PDF)</a> "
                 "<a href=\"" +
                 cdn + "/elsewhere.html\">elsewhere</a></body></html>");
        Page("/index.php?page=about",
             "<a href=\"index.php?page=home\">home</a> About<script src=\"" + cdn +
                 "/cdn/missing.js\"></script>");
        Page("/index.php?page=news&sort=new",
             "<a href=\"/index.php?page=home\">home</a><img src=\"img/logo.png\">");
        Page("/index.php?page=2", "<a href=\"?page=home\">first</a> page two");
        Page("/?p=1", "<a href=\"/index.php?page=home\">home</a> <a href=\"?p=2\">next</a>");
        Page("/?p=2", "<a href=\"index.php?page=home\">home</a> post two");
        // A browser resolves this page's relative links against /, not /about/.
        Page("/about", "<a href=\"about/team.html\">team</a> <img src=\"img/logo.png\">");
        Page("/about/team.html",
             "<a href=\"../about\">back</a> <a href=\"../index.php?page=home\">"
             "home</a>");
        Page("/legacy/default.asp", "<a href=\"news.asp?id=3\">news</a>");
        Page("/legacy/news.asp?id=3", "<a href=\"default.asp\">back</a>");
        server.SetFile("/style.php?v=2", "@font-face{src:url(fonts/site.woff2)}body{color:red}",
                       "text/css; charset=utf-8");
        server.SetFile("/fonts/site.woff2", kFont, "font/woff2");
        server.SetFile("/download.php?id=5", kPdf, "application/pdf");
        server.SetFile("/img/logo.png", "\x89PNG logo", "image/png");
        cdnServer.SetFile("/cdn/theme.css", "@font-face{src:url('font.woff')}", "text/css");
        cdnServer.SetFile("/cdn/font.woff", kFont, "font/woff");
        cdnServer.SetFile("/cdn/lib.js", "var x = 1;", "application/javascript");
        cdnServer.SetPage("/elsewhere.html", "<p>another site</p>");
    }

    void Page(const std::string& target, const std::string& html) {
        server.SetPage(target, html);
        served[target] = html;
    }

    test::RunResult Mirror(const std::string& dir, bool modify, bool relative,
                           std::uint32_t connections = 6) {
        job.m_limits.m_nMaxLevels = 2;
        job.m_limits.m_bModifyLinks = modify;
        job.m_limits.m_bRelativeLinks = relative;
        job.m_limits.m_nMaxConnections = connections;
        job.m_netOptions.retryWaitMs = 20;  // the dead host is tried again, in vain
        return test::MirrorSite(job, server.Root() + "/index.php?page=home", dir);
    }

    std::vector<std::string> Saved() const {
        return {"index.php@page=home.html",
                "index.php@page=about.html",
                "index.php@page=news&sort=new.html",
                "index.htm@p=1.html",
                "index.htm@p=2.html",
                "index.php@page=2.html",
                "about/index.htm",
                "about/team.html",
                "legacy/default.asp.html",
                "legacy/news.asp@id=3.html",
                "style.php@v=2.css",
                "fonts/site.woff2",
                "download.php@id=5",
                "img/logo.png",
                "%offsite/" + cdnHost + "/cdn/theme.css",
                "%offsite/" + cdnHost + "/cdn/font.woff",
                "%offsite/" + cdnHost + "/cdn/lib.js"};
    }

    CHttpServer server;
    CHttpServer cdnServer;
    std::string cdnHost;
    std::map<std::string, std::string> served;
    CTempDir tmp;
    CMirrorJob job;
    test::CMessageRecorder boxes;
};

TEST_F(AppSite, EveryModeSavesEveryPageUnderItsOwnName) {
    const struct {
        const char* name;
        bool modify, relative;
    } modes[] = {{"links modified", true, false},
                 {"portable links", true, true},
                 {"copy only", false, false}};
    for (const auto& mode : modes) {
        SCOPED_TRACE(mode.name);
        CTempDir dir;
        job.~CMirrorJob();
        new (&job) CMirrorJob();
        test::RunResult r = Mirror(dir.Path(), mode.modify, mode.relative);
        EXPECT_EQ(r.end, RunEnd::Done);
        const auto copy = test::ReadCopy(dir.Path());
        std::vector<std::string> files;
        for (const auto& [path, content] : copy)
            files.push_back(path);
        std::vector<std::string> expected = Saved();
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(files, expected);
        EXPECT_EQ(ReadFile(dir.Path() + "download.php@id=5"), kPdf);
        EXPECT_EQ(ReadFile(dir.Path() + "%offsite/" + cdnHost + "/cdn/font.woff"), kFont);
        // The other host's page was never asked for.
        for (const std::string& request : cdnServer.Requests())
            EXPECT_NE(request, "/elsewhere.html");
        EXPECT_TRUE(boxes.Texts().empty());
    }
}

TEST_F(AppSite, CopyOnlyKeepsEveryByteAsServed) {
    ASSERT_EQ(Mirror(tmp.Path(), false, false).end, RunEnd::Done);
    const std::map<std::string, std::string> pages = {
        {"index.php@page=home.html", "/index.php?page=home"},
        {"index.htm@p=1.html", "/?p=1"},
        {"about/index.htm", "/about"},
        {"legacy/default.asp.html", "/legacy/default.asp"},
    };
    for (const auto& [file, target] : pages)
        EXPECT_EQ(ReadFile(tmp.Path() + file), served[target]) << file;
    EXPECT_EQ(ReadFile(tmp.Path() + "style.php@v=2.css"),
              "@font-face{src:url(fonts/site.woff2)}body{color:red}");
}

TEST_F(AppSite, LinkedCopyWorksOfflineLinkByLink) {
    ASSERT_EQ(Mirror(tmp.Path(), true, false).end, RunEnd::Done);
    test::CopyReport report = test::CheckCopy(tmp.Path(), server.Root());
    EXPECT_EQ(report.missing, std::vector<std::string>{});
    EXPECT_EQ(report.live, std::vector<std::string>{});
    EXPECT_GT(report.references, 25);
    // Every page is reached from the start page on disk.
    const std::set<std::string> reached =
        test::ReachablePages(tmp.Path(), "index.php@page=home.html");
    for (const std::string& file : Saved()) {
        if (file.find(".htm") != std::string::npos) {
            EXPECT_EQ(reached.count(file), 1u) << file;
        }
    }
    const std::string home = ReadFile(tmp.Path() + "index.php@page=home.html");
    const std::string local = "file://" + tmp.Path();
    // Predicted as a page, served as a PDF: the start page was corrected.
    EXPECT_NE(home.find("href=\"" + local + "download.php@id=5\""), std::string::npos) << home;
    // Predicted as no stylesheet, served as one: corrected too.
    EXPECT_NE(home.find("href=\"" + local + "style.php@v=2.css\""), std::string::npos) << home;
    EXPECT_NE(home.find("href=\"" + local + "index.htm@p=2.html#comments\""), std::string::npos);
    EXPECT_NE(home.find("href=\"" + local + "%25offsite/127.0.0.1%253A" +
                        std::to_string(cdnServer.Port()) + "/cdn/theme.css\""),
              std::string::npos)
        << home;
    EXPECT_NE(home.find("href=\"" + cdnServer.Root() + "/elsewhere.html\""), std::string::npos);
    // Files of other hosts that could not be fetched are loaded from there, in pages
    // saved before the failure and after it.
    EXPECT_NE(home.find("src=\"" + cdnServer.Root() + "/cdn/missing.js\""), std::string::npos);
    EXPECT_NE(home.find("src=\"http://127.0.0.1:1/dead.png\""), std::string::npos);
    EXPECT_NE(ReadFile(tmp.Path() + "index.php@page=about.html")
                  .find("src=\"" + cdnServer.Root() + "/cdn/missing.js\""),
              std::string::npos);
    EXPECT_EQ(ReadFile(tmp.Path() + "%offsite/" + cdnHost + "/cdn/theme.css"),
              "@font-face{src:url('font.woff')}");
    EXPECT_EQ(ReadFile(tmp.Path() + "style.php@v=2.css"),
              "@font-face{src:url(fonts/site.woff2)}body{color:red}");
}

TEST_F(AppSite, PortableCopyWorksAfterItsFolderMoves) {
    const std::string first = tmp.Path() + "first/";
    ASSERT_EQ(Mirror(first, true, true).end, RunEnd::Done);
    std::filesystem::create_directories(tmp.Path() + "elsewhere");
    std::filesystem::rename(tmp.Path() + "first", tmp.Path() + "elsewhere/moved");
    const std::string moved = tmp.Path() + "elsewhere/moved/";
    test::CopyReport report = test::CheckCopy(moved, server.Root());
    EXPECT_EQ(report.missing, std::vector<std::string>{});
    EXPECT_GT(report.references, 25);
    const std::string home = ReadFile(moved + "index.php@page=home.html");
    EXPECT_EQ(home.find("file:"), std::string::npos) << home;
    EXPECT_NE(home.find("href=\"download.php@id=5\""), std::string::npos) << home;
    EXPECT_EQ(
        ReadFile(moved + "about/team.html"),
        "<a href=\"../about/index.htm\">back</a> <a href=\"../index.php@page=home.html\">home</a>");
    EXPECT_EQ(test::ReachablePages(moved, "index.php@page=home.html").size(), 10u);
}

TEST_F(AppSite, OneConnectionSavesTheSameCopy) {
    CTempDir one, six;
    ASSERT_EQ(Mirror(one.Path(), true, true, 1).end, RunEnd::Done);
    job.~CMirrorJob();
    new (&job) CMirrorJob();
    ASSERT_EQ(Mirror(six.Path(), true, true, 6).end, RunEnd::Done);
    EXPECT_EQ(test::ReadCopy(one.Path()), test::ReadCopy(six.Path()));
}

TEST_F(AppSite, WithoutOffsiteEmbeddedOtherHostsStayLive) {
    job.m_limits.m_bOffsiteEmbedded = false;
    ASSERT_EQ(Mirror(tmp.Path(), true, false).end, RunEnd::Done);
    EXPECT_FALSE(std::filesystem::exists(tmp.Path() + "%offsite"));
    EXPECT_TRUE(cdnServer.Requests().empty());
    const std::string home = ReadFile(tmp.Path() + "index.php@page=home.html");
    EXPECT_NE(home.find("href=\"" + cdnServer.Root() + "/cdn/theme.css\""), std::string::npos);
}

}  // namespace
}  // namespace tandril
