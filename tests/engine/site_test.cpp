// Whole runs over a small site laid out like generated documentation: pages in nested
// folders that load ../_static/ stylesheets (which import others, fonts and images),
// ../images/, absolute-path and absolute http links of the site, a 404 and a page
// whose older copy must survive a 500. Each copy is checked file by file and link by
// link, as it opens from disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

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

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(64, 'p');

class DocSite : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string root = server.Root();
        const std::string index =
            "<html><head><link rel=\"stylesheet\" href=\"_static/style.css?v=3\">"
            "<link rel=\"shortcut icon\" href=\"/favicon.ico\"></head><body>"
            "<a href=\"guide/intro.html\">Guide</a> <a href=\"api/\">API</a> "
            "<a href=\"/about.html\">About</a> <a href=\"" +
            root +
            "/docs/guide/faq.html#q1\">FAQ</a> "
            "<img src=\"images/logo.png\" srcset=\"images/logo.png 1x, "
            "images/logo@2x.png 2x\"></body></html>";
        server.SetPage("/docs/index.html", index);
        server.SetPage("/docs/", index);
        server.SetPage("/docs/guide/intro.html",
                       "<link rel=\"stylesheet\" href=\"../_static/style.css\">"
                       "<img src=\"../images/logo.png\"><a href=\"../index.html\">home</a> "
                       "<a href=\"../api/index.html\">api</a> <a href=\"missing.html\">gone</a> "
                       "<a href=\"old.html\">old</a> <a href=\"/about.html\">about</a> "
                       "<a href=\"deeper/more.html\">more</a> "
                       "<a href=\"http://other.example/x\">out</a>");
        server.SetPage("/docs/guide/faq.html",
                       "<a href=\"intro.html#top\">intro</a><picture><source "
                       "srcset=\"../images/wide.webp 2x\"><img src=\"../images/faq.png\">"
                       "</picture><object data=\"/docs/images/diagram.svg\"></object>"
                       "<video poster=\"../images/poster.jpg\" src=\"../media/clip.mp4\">");
        const std::string api =
            "<p style=\"background:url('../images/bg.png')\">"
            "<a href=\"../guide/intro.html\">g</a>"
            "<link href=\"../_static/api.css\" rel=\"stylesheet\">";
        server.SetPage("/docs/api/", api);
        server.SetPage("/docs/api/index.html", api);
        server.SetPage("/docs/guide/deeper/more.html",
                       "<a href=\"../../index.html\">top</a> <a href=\"evenmore.html\">on</a>"
                       "<style>h1{background:url(/docs/images/h1.png)}</style>");
        server.SetPage(
            "/about.html",
            "<link rel=stylesheet href=\"/docs/_static/style.css\"><a href=\"docs/\">d</a>");
        for (const char* css : {"/docs/_static/style.css", "/docs/_static/style.css?v=3"})
            server.SetFile(css,
                           "@import url(\"base.css\");\nbody{background:url(../images/bg.png)}",
                           "text/css");
        server.SetFile("/docs/_static/base.css",
                       "@font-face{src:url('fonts/f.woff2') format(\"woff2\")}\n"
                       "h1{background-image:url(data:image/png;base64,AA==)}\n"
                       "h2{background:url(/docs/images/abs.png)}",
                       "text/css");
        server.SetFile("/docs/_static/api.css", "p{}", "text/css");
        server.SetFile("/docs/_static/fonts/f.woff2", "wOF2", "font/woff2");
        for (const char* png :
             {"/docs/images/logo.png", "/docs/images/logo@2x.png", "/docs/images/bg.png",
              "/docs/images/faq.png", "/docs/images/h1.png", "/favicon.ico",
              "/docs/images/wide.webp", "/docs/images/diagram.svg", "/docs/images/poster.jpg",
              "/docs/media/clip.mp4", "/docs/images/abs.png"})
            server.SetFile(png, kPng, "image/png");
        test::Route broken;
        broken.status = 500;
        broken.body = "<p>Internal error</p>";
        server.Set("/docs/guide/old.html", broken);
    }

    test::RunResult Mirror(const std::string& dir, bool modify, bool relative) {
        std::filesystem::create_directories(dir + "docs/guide");
        test::WriteFile(dir + "docs/guide/old.html", "older copy");
        job.m_limits.m_nMaxLevels = 2;
        job.m_limits.m_bModifyLinks = modify;
        job.m_limits.m_bRelativeLinks = relative;
        return test::MirrorSite(job, server.Root() + "/docs/index.html", dir);
    }

    CHttpServer server;
    CTempDir tmp;
    CMirrorJob job;
    test::CMessageRecorder boxes;
};

const char* const kSaved[] = {
    "docs/index.html",
    "docs/_static/style.css",
    "favicon.ico",
    "docs/guide/intro.html",
    "docs/api/index.htm",
    "about.html",
    "docs/guide/faq.html",
    "docs/images/logo.png",
    "docs/images/logo%402x.png",
    "docs/_static/base.css",
    "docs/images/bg.png",
    "docs/_static/fonts/f.woff2",
    "docs/images/faq.png",
    "docs/api/index.html",
    "docs/guide/deeper/more.html",
    "docs/_static/api.css",
    "docs/images/h1.png",
    "docs/index.htm",
    "docs/images/wide.webp",
    "docs/images/diagram.svg",
    "docs/images/poster.jpg",
    "docs/media/clip.mp4",
    "docs/images/abs.png",
    // A query names a file of its own; a stylesheet's name says what it is.
    "docs/_static/style.css@v=3.css",
};

TEST_F(DocSite, EveryModeSavesTheSameFiles) {
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
        for (const char* file : kSaved)
            EXPECT_TRUE(test::FileExists(dir.Path() + file)) << file;
        EXPECT_FALSE(test::FileExists(dir.Path() + "docs/guide/missing.html"));
        EXPECT_FALSE(test::FileExists(dir.Path() + "docs/guide/deeper/evenmore.html"));
        EXPECT_EQ(ReadFile(dir.Path() + "docs/guide/old.html"), "older copy");
        EXPECT_EQ(ReadFile(dir.Path() + "docs/_static/fonts/f.woff2"), "wOF2");
        EXPECT_EQ(ReadFile(dir.Path() + "docs/images/h1.png"), kPng);
        // Each file fetched once: those above and the 404 and 500 answers.
        EXPECT_EQ(job.m_limits.m_nFiles, std::size(kSaved) + 2);
        EXPECT_TRUE(boxes.Texts().empty());
    }
}

TEST_F(DocSite, LinkedCopyWorksFromDisk) {
    test::RunResult r = Mirror(tmp.Path(), true, false);
    ASSERT_EQ(r.end, RunEnd::Done);
    test::CopyReport report = test::CheckCopy(tmp.Path(), server.Root());
    // Only what the server lacks too, and the one page beyond the level limit.
    EXPECT_EQ(report.missing, std::vector<std::string>{"docs/guide/intro.html: missing.html"});
    EXPECT_EQ(report.live,
              std::vector<std::string>{"docs/guide/deeper/more.html: " + server.Root() +
                                       "/docs/guide/deeper/evenmore.html"});
    EXPECT_GT(report.references, 25);

    const std::string index = ReadFile(tmp.Path() + "docs/index.html");
    EXPECT_NE(index.find("href=\"file://" + tmp.Path() + "docs/_static/style.css@v=3.css\""),
              std::string::npos)
        << index;
    EXPECT_NE(index.find("href=\"api/index.htm\""), std::string::npos) << index;
    EXPECT_NE(index.find("href=\"file://" + tmp.Path() + "about.html\""), std::string::npos);
    EXPECT_NE(index.find("href=\"file://" + tmp.Path() + "docs/guide/faq.html#q1\""),
              std::string::npos);
    // "@" is escaped in file names: it stands before the query of a URL that has one.
    EXPECT_NE(index.find("srcset=\"images/logo.png 1x, file://" + tmp.Path() +
                         "docs/images/logo%25402x.png 2x\""),
              std::string::npos);
    const std::string intro = ReadFile(tmp.Path() + "docs/guide/intro.html");
    EXPECT_NE(intro.find("href=\"../_static/style.css\""), std::string::npos) << intro;
    EXPECT_NE(intro.find("href=\"http://other.example/x\""), std::string::npos);
    EXPECT_EQ(ReadFile(tmp.Path() + "docs/_static/style.css"),
              "@import url(\"base.css\");\nbody{background:url(../images/bg.png)}");
    const std::string base = ReadFile(tmp.Path() + "docs/_static/base.css");
    EXPECT_NE(base.find("h2{background:url(file://" + tmp.Path() + "docs/images/abs.png)}"),
              std::string::npos)
        << base;
    EXPECT_EQ(ReadFile(tmp.Path() + "docs/guide/deeper/more.html"),
              "<a href=\"../../index.html\">top</a> <a href=\"" + server.Root() +
                  "/docs/guide/deeper/evenmore.html\">on</a>"
                  "<style>h1{background:url(file://" +
                  tmp.Path() + "docs/images/h1.png)}</style>");
}

TEST_F(DocSite, PortableCopyWorksAfterItsFolderMoves) {
    const std::string first = tmp.Path() + "first/";
    test::RunResult r = Mirror(first, true, true);
    ASSERT_EQ(r.end, RunEnd::Done);
    const std::string moved = tmp.Path() + "elsewhere/moved/";
    std::filesystem::create_directories(tmp.Path() + "elsewhere");
    std::filesystem::rename(tmp.Path() + "first", tmp.Path() + "elsewhere/moved");
    test::CopyReport report = test::CheckCopy(moved, server.Root());
    EXPECT_EQ(report.missing, std::vector<std::string>{"docs/guide/intro.html: missing.html"});
    EXPECT_EQ(report.live.size(), 1u);
    EXPECT_GT(report.references, 25);
    EXPECT_EQ(
        ReadFile(moved + "about.html"),
        "<link rel=stylesheet href=\"docs/_static/style.css\"><a href=\"docs/index.htm\">d</a>");
    EXPECT_EQ(ReadFile(moved + "docs/guide/deeper/more.html").find("file:"), std::string::npos);
    EXPECT_NE(ReadFile(moved + "docs/_static/base.css").find("url(../images/abs.png)"),
              std::string::npos);
    EXPECT_NE(ReadFile(moved + "docs/guide/faq.html").find("data=\"../images/diagram.svg\""),
              std::string::npos);
}

TEST_F(DocSite, CopyOnlySavesEveryFileAsSent) {
    test::RunResult r = Mirror(tmp.Path(), false, false);
    ASSERT_EQ(r.end, RunEnd::Done);
    EXPECT_EQ(ReadFile(tmp.Path() + "docs/guide/intro.html").substr(0, 51),
              "<link rel=\"stylesheet\" href=\"../_static/style.css\">");
    EXPECT_EQ(ReadFile(tmp.Path() + "docs/_static/style.css"),
              "@import url(\"base.css\");\nbody{background:url(../images/bg.png)}");
    EXPECT_NE(ReadFile(tmp.Path() + "docs/guide/deeper/more.html").find("url(/docs/images/h1.png)"),
              std::string::npos);
    EXPECT_NE(ReadFile(tmp.Path() + "docs/_static/base.css").find("url(/docs/images/abs.png)"),
              std::string::npos);
}

}  // namespace
}  // namespace tandril
