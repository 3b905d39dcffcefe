// https: servers on 127.0.0.1 speaking TLS with certificates from a test CA that the
// tests make (openssl); 127.0.0.1 and localhost serve as two names of one server.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/mirror_job.h"
#include "engine/worker.h"
#include "tests/engine/run_helper.h"
#include "tests/support/copy_check.h"
#include "tests/support/http_server.h"
#include "tests/support/recording_progress.h"
#include "tests/support/test_support.h"

namespace tandril {
namespace {

using test::CHttpServer;
using test::CTempDir;
using test::ReadFile;
using test::TestCa;

class Tls : public ::testing::Test {
protected:
    void SetUp() override { job.m_netOptions.caFile = TestCa().caFile; }
    CTempDir tmp;
    CMirrorJob job;
    test::CMessageRecorder boxes;
};

TEST_F(Tls, HttpsSiteWithAbsoluteAndRelativeLinks) {
    CHttpServer server(TestCa());
    const std::string root = server.Root();
    server.SetPage("/docs/index.html", "<a href=\"" + root +
                                           "/docs/a.html\">a</a>"
                                           "<a href=\"b.html\">b</a><img src=\"/img/i.png\">"
                                           "<a href=\"https://localhost:" +
                                           std::to_string(server.Port()) +
                                           "/x.html\">other name</a>");
    server.SetPage("/docs/a.html", "<p>a</p>");
    server.SetPage("/docs/b.html", "<p>b</p>");
    server.SetFile("/img/i.png", "PNG", "image/png");
    job.m_limits.m_nMaxLevels = 1;
    job.m_limits.m_nMaxConnections = 1;
    test::RunResult r = test::MirrorSite(job, root + "/docs/index.html", tmp.Path());
    EXPECT_EQ(r.end, RunEnd::Done);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(ReadFile(tmp.Path() + "docs/a.html"), "<p>a</p>");
    EXPECT_EQ(ReadFile(tmp.Path() + "docs/b.html"), "<p>b</p>");
    EXPECT_EQ(ReadFile(tmp.Path() + "img/i.png"), "PNG");
    EXPECT_FALSE(test::FileExists(tmp.Path() + "x.html"));  // another host name: not the site
    EXPECT_EQ(job.m_limits.m_nFiles, 4u);
    EXPECT_EQ(server.Connections(), 1);
    test::CopyReport report = test::CheckCopy(tmp.Path(), root);
    EXPECT_TRUE(report.missing.empty());
    EXPECT_TRUE(report.live.empty());
}

// http://127.0.0.1 redirects to https://localhost: the host it ends on joins the site,
// and a page moved to another folder keeps working offline.
TEST_F(Tls, HttpStartThatRedirectsToHttpsOnAnotherName) {
    CHttpServer secure(TestCa());
    const std::string port = std::to_string(secure.Port());
    const std::string there = "https://localhost:" + port;
    CHttpServer plain;
    test::Route hop;
    hop.status = 302;
    hop.location = there + "/start.html";
    plain.Set("/start.html", hop);
    secure.SetPage("/start.html",
                   "<a href=\"" + there + "/a.html\">a</a><a href=\"old/page.html\">p</a>");
    secure.SetPage("/a.html", "<p>a</p>");
    test::Route moved;
    moved.status = 301;
    moved.location = "/new/place/page.html";
    secure.Set("/old/page.html", moved);
    secure.SetPage("/new/place/page.html", "<a href=\"sibling.html\">s</a><img src=\"img/p.png\">");
    secure.SetPage("/new/place/sibling.html", "<p>sibling</p>");
    secure.SetFile("/new/place/img/p.png", "PNG", "image/png");
    job.m_limits.m_nMaxLevels = 2;
    test::RunResult r = test::MirrorSite(job, plain.Root() + "/start.html", tmp.Path());
    EXPECT_EQ(r.end, RunEnd::Done);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(ReadFile(tmp.Path() + "a.html"), "<p>a</p>");
    // Saved under the requested name; its links lead to their targets' local files.
    EXPECT_EQ(ReadFile(tmp.Path() + "old/page.html"),
              "<a href=\"file://" + tmp.Path() +
                  "new/place/sibling.html\">s</a><img src=\"file://" + tmp.Path() +
                  "new/place/img/p.png\">");
    EXPECT_EQ(ReadFile(tmp.Path() + "new/place/sibling.html"), "<p>sibling</p>");
    EXPECT_EQ(ReadFile(tmp.Path() + "new/place/img/p.png"), "PNG");
    test::CopyReport report = test::CheckCopy(tmp.Path(), there);
    EXPECT_TRUE(report.missing.empty());
    EXPECT_TRUE(report.live.empty());
}

TEST_F(Tls, CertificateFromAnUnknownCaIsRefusedClearly) {
    CHttpServer server(TestCa("unknown-ca"));
    server.SetPage("/x.html", "<p>x</p>");
    test::RunResult r = test::MirrorSite(job, server.Root() + "/x.html", tmp.Path());
    EXPECT_EQ(r.end, RunEnd::Failure);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0],
              "Cannot connect to " + server.Root() + "/x.html! (certificate not trusted)");
    EXPECT_FALSE(test::FileExists(tmp.Path() + "x.html"));
}

TEST_F(Tls, CancelDuringAStalledTlsRead) {
    CHttpServer server(TestCa());
    test::Route stall;
    stall.body = std::string(200000, 's');
    stall.behaviour = test::Behaviour::Stall;
    server.Set("/stall.bin", stall);
    test::PrepareRun(job, server.Root() + "/stall.bin", tmp.Path());
    test::CRecordingProgress log;
    CMirrorRun run(job, log);
    ASSERT_TRUE(run.Start());
    for (int i = 0; i < 500 && log.Lines().size() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(log.Lines().size(), 3u);  // "Reading ...": the transfer is in its stall
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const long long ms = test::TimedCancel(run, log);
    std::printf("Cancel during a stalled TLS read took %lld ms\n", ms);
    EXPECT_LT(ms, 1000);
    EXPECT_EQ(run.End(), RunEnd::Cancelled);
    EXPECT_FALSE(test::FileExists(tmp.Path() + "stall.bin"));
}

}  // namespace
}  // namespace tandril
