#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "engine/mirror_job.h"
#include "engine/worker.h"
#include "platform/fs.h"
#include "tests/engine/run_helper.h"
#include "tests/support/http_server.h"
#include "tests/support/recording_progress.h"
#include "tests/support/test_support.h"

namespace tandril {
namespace {

using test::Behaviour;
using test::CHttpServer;
using test::CMessageRecorder;
using test::CTempDir;
using test::MirrorSite;
using test::ReadFile;
using test::Route;
using test::RunResult;

const std::string kGif =
    std::string("GIF89a\x01\x00\x01\x00\x00\xff\x00,", 14) + std::string(100, '\0');

class Mirror : public ::testing::Test {
protected:
    void SetUp() override {
        job.m_limits.m_nMaxLevels = 1;
        server.SetPage("/index.html",
                       "<html><body background=\"img/bg.gif\">\n"
                       "<a href=\"a.html\">A</a> <a href='sub/'>Sub</a>\n"
                       "<img src=\"img/logo.gif\"><a href=\"/abs.html\">abs</a>\n"
                       "<link rel=\"stylesheet\" href=\"css/s.css\">\n"
                       "<a href=\"../up.html\">up</a> <a href=\"http://elsewhere.test/\">x</a>\n"
                       "<a href=\"b.html#part\">B</a></body></html>");
        server.SetPage("/a.html",
                       "<a href=\"deep.html\">deep</a><img src=\"img/logo.gif\">"
                       "<a href=\"index.html\">home</a>");
        server.SetPage("/b.html", "<p>b</p>");
        server.SetPage("/sub/", "<img src=\"p.gif\">");
        server.SetPage("/deep.html", "<a href=\"deeper.html\">deeper</a>");
        server.SetPage("/deeper.html", "<p>deepest</p>");
        server.SetPage("/abs.html", "<p>abs</p>");
        server.SetFile("/img/logo.gif", kGif, "image/gif");
        server.SetFile("/img/bg.gif", kGif, "image/gif");
        server.SetFile("/sub/p.gif", kGif, "image/gif");
        server.SetFile("/css/s.css", "body{}", "text/css");
    }
    std::string Dir() const { return tmp.Path() + "site/"; }
    std::vector<std::string> Fetched() {
        std::vector<std::string> paths;
        for (const auto& r : server.Requests())
            paths.push_back(r);
        return paths;
    }

    CHttpServer server;
    CTempDir tmp;
    CMirrorJob job;
    CMessageRecorder boxes;
};

TEST_F(Mirror, SiteWithLinksModified) {
    job.m_limits.m_nMaxConnections = 1;
    RunResult r = MirrorSite(job, server.Root() + "/index.html", Dir());
    EXPECT_EQ(r.end, RunEnd::Done);
    EXPECT_EQ(r.button, "OK");
    ASSERT_GE(r.lines.size(), 4u);
    EXPECT_EQ(r.lines[0], "Opening an Internet session");
    EXPECT_EQ(r.lines[1], "Connecting to " + server.Root() + "/index.html");
    EXPECT_EQ(r.lines[2], "Reading " + server.Root() + "/index.html");
    EXPECT_EQ(r.lines[3], "Processing file index.html");
    EXPECT_EQ(r.lines.back(), "Done!");
    EXPECT_TRUE(boxes.Texts().empty());

    EXPECT_EQ(ReadFile(Dir() + "index.html"),
              "<html><body background=\"img/bg.gif\">\n"
              "<a href=\"a.html\">A</a> <a href='sub/index.htm'>Sub</a>\n"
              "<img src=\"img/logo.gif\"><a href=\"file://" +
                  Dir() +
                  "abs.html\">abs</a>\n"
                  "<link rel=\"stylesheet\" href=\"css/s.css\">\n"
                  "<a href=\"file://" +
                  Dir() +
                  "up.html\">up</a> "
                  "<a href=\"http://elsewhere.test/\">x</a>\n"
                  "<a href=\"b.html#part\">B</a></body></html>");
    EXPECT_EQ(ReadFile(Dir() + "a.html"), "<a href=\"" + server.Root() +
                                              "/deep.html\">deep</a><img src=\"img/logo.gif\">"
                                              "<a href=\"index.html\">home</a>");
    EXPECT_EQ(ReadFile(Dir() + "sub/index.htm"), "<img src=\"p.gif\">");
    EXPECT_EQ(ReadFile(Dir() + "img/logo.gif"), kGif);
    EXPECT_EQ(ReadFile(Dir() + "img/bg.gif"), kGif);
    EXPECT_EQ(ReadFile(Dir() + "sub/p.gif"), kGif);
    EXPECT_EQ(ReadFile(Dir() + "css/s.css"), "body{}");
    EXPECT_EQ(ReadFile(Dir() + "abs.html"), "<p>abs</p>");
    EXPECT_EQ(ReadFile(Dir() + "b.html"), "<p>b</p>");
    EXPECT_FALSE(test::FileExists(Dir() + "deep.html"));
    EXPECT_FALSE(test::FileExists(Dir() + "up.html"));  // 404: nothing saved
    EXPECT_EQ(job.m_limits.m_nFiles, 10u);
    EXPECT_EQ(job.m_limits.m_strStartPage, Dir() + "index.html");
    EXPECT_EQ(server.Connections(), 1);  // one connection for the whole run
}

TEST_F(Mirror, CopyOnlyStoresPagesAsSent) {
    job.m_limits.m_bModifyLinks = false;
    RunResult r = MirrorSite(job, server.Root() + "/index.html", Dir());
    EXPECT_EQ(r.end, RunEnd::Done);
    std::string index = ReadFile(Dir() + "index.html");
    EXPECT_NE(index.find("<a href='sub/'>"), std::string::npos);
    EXPECT_NE(index.find("href=\"/abs.html\""), std::string::npos);
    EXPECT_EQ(ReadFile(Dir() + "sub/index.htm"), "<img src=\"p.gif\">");
    EXPECT_EQ(ReadFile(Dir() + "img/bg.gif"), kGif);  // BODY BACKGROUND in both modes
    EXPECT_EQ(job.m_limits.m_nFiles, 10u);
    EXPECT_FALSE(test::FileExists(Dir() + "~tmp~99~.tmp"));
}

TEST_F(Mirror, LevelLimits) {
    struct Case {
        std::uint32_t levels;
        std::uint32_t files;
        bool deep, deeper;
    } cases[] = {
        {0, 4, false, false}, {1, 10, false, false}, {2, 11, true, false}, {3, 12, true, true}};
    for (const auto& c : cases) {
        CTempDir dir;
        CMirrorJob levelJob;
        levelJob.m_limits.m_nMaxLevels = c.levels;
        RunResult r = MirrorSite(levelJob, server.Root() + "/index.html", dir.Path());
        EXPECT_EQ(r.end, RunEnd::Done) << c.levels;
        EXPECT_EQ(levelJob.m_limits.m_nFiles, c.files) << c.levels;
        EXPECT_EQ(test::FileExists(dir.Path() + "deep.html"), c.deep) << c.levels;
        EXPECT_EQ(test::FileExists(dir.Path() + "deeper.html"), c.deeper) << c.levels;
        EXPECT_TRUE(test::FileExists(dir.Path() + "img/logo.gif")) << c.levels;
    }
}

TEST_F(Mirror, FileLimit) {
    job.m_limits.m_nMaxFiles = 1;
    RunResult r = MirrorSite(job, server.Root() + "/index.html", Dir());
    EXPECT_EQ(r.end, RunEnd::Limit);
    EXPECT_EQ(r.lines.back(),
              "The number of files downloaded has reached the maximum limit set in the options "
              "dialog.");
    EXPECT_EQ(r.button, "OK");
    EXPECT_EQ(job.m_limits.m_nFiles, 1u);
    EXPECT_TRUE(test::FileExists(Dir() + "index.html"));
    // robots.txt first, then the one file.
    EXPECT_EQ(server.Requests(), (std::vector<std::string>{"/robots.txt", "/index.html"}));
}

TEST_F(Mirror, MegabyteLimitCountsWholeMegabytes) {
    std::string page;
    for (int i = 0; i < 5; ++i)
        page += "<img src=\"f" + std::to_string(i) + ".bin\">";
    server.SetPage("/big.html", page);
    for (int i = 0; i < 5; ++i) {
        server.SetFile("/f" + std::to_string(i) + ".bin", std::string(600000, 'x'),
                       "application/octet-stream");
    }
    job.m_limits.m_nMaxMegaBytes = 1;
    RunResult r = MirrorSite(job, server.Root() + "/big.html", Dir());
    EXPECT_EQ(r.end, RunEnd::Limit);
    EXPECT_EQ(r.lines.back(),
              "The total number of mega-bytes downloaded has reached the maximum limit set in "
              "the options dialong.");
    // The page and two files: 1,200,000 bytes of files make the first whole megabyte.
    EXPECT_EQ(job.m_limits.m_nFiles, 3u);
    EXPECT_TRUE(test::FileExists(Dir() + "f1.bin"));
    EXPECT_FALSE(test::FileExists(Dir() + "f2.bin"));
}

TEST_F(Mirror, NonHtmlStartUrl) {
    RunResult r = MirrorSite(job, server.Root() + "/img/logo.gif", Dir());
    EXPECT_EQ(r.end, RunEnd::Done);
    EXPECT_EQ(ReadFile(Dir() + "img/logo.gif"), kGif);
    EXPECT_EQ(job.m_limits.m_strStartPage, "");
    EXPECT_EQ(r.lines.back(), "Done!");
}

TEST_F(Mirror, ErrorAnswersAreNotSavedAndRedirectsAre) {
    Route hop;
    hop.status = 302;
    hop.location = "/b.html";
    server.Set("/moved.html", hop);
    Route broken;
    broken.status = 500;
    broken.body = "<p>Internal error</p>";
    server.Set("/old.html", broken);
    std::filesystem::create_directories(Dir());
    test::WriteFile(Dir() + "old.html", "older copy");
    server.SetPage("/start.html",
                   "<a href=\"gone.html\">x</a><a href=\"moved.html\">y</a>"
                   "<a href=\"old.html\">z</a>");
    RunResult r = MirrorSite(job, server.Root() + "/start.html", Dir());
    EXPECT_EQ(r.end, RunEnd::Done);
    EXPECT_FALSE(test::FileExists(Dir() + "gone.html"));
    EXPECT_EQ(ReadFile(Dir() + "old.html"), "older copy");
    EXPECT_EQ(ReadFile(Dir() + "moved.html"), "<p>b</p>");
    EXPECT_EQ(job.m_limits.m_nFiles, 4u);
    auto has = [&r](const std::string& line) {
        return std::find(r.lines.begin(), r.lines.end(), line) != r.lines.end();
    };
    EXPECT_TRUE(has("Cannot download " + server.Root() + "/gone.html (HTTP 404)!"));
    EXPECT_TRUE(has("Cannot download " + server.Root() + "/old.html (HTTP 500)!"));
}

TEST_F(Mirror, BrokenDownloadsKeepTheOlderCopyAndTheRunGoesOn) {
    job.m_netOptions.idleTimeoutSeconds = 1;
    job.m_netOptions.retryWaitMs = 20;  // each is tried again three times, in vain
    std::filesystem::create_directories(Dir());
    for (const char* name : {"reset.gif", "short.gif", "stall.gif"}) {
        test::WriteFile(Dir() + name, "older copy");
    }
    server.SetPage("/start.html",
                   "<img src=reset.gif><img src=short.gif><img src=empty.gif>"
                   "<img src=stall.gif><img src=fine.gif>");
    const struct {
        const char* path;
        Behaviour behaviour;
    } broken[] = {{"/reset.gif", Behaviour::Reset},
                  {"/short.gif", Behaviour::Short},
                  {"/stall.gif", Behaviour::Stall}};
    for (const auto& b : broken) {
        Route route;
        route.body = std::string(30000, 'n');
        route.behaviour = b.behaviour;
        server.Set(b.path, route);
    }
    server.SetFile("/empty.gif", "", "image/gif");
    server.SetFile("/fine.gif", kGif, "image/gif");

    RunResult r = MirrorSite(job, server.Root() + "/start.html", Dir());
    EXPECT_EQ(r.end, RunEnd::Done);
    for (const char* name : {"reset.gif", "short.gif", "stall.gif"}) {
        EXPECT_EQ(ReadFile(Dir() + name), "older copy") << name;
        std::string line = "Cannot read from " + server.Root() + "/" + name + "!";
        EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), line), r.lines.end()) << line;
    }
    // An empty answer is an empty file, not the previous download's bytes.
    EXPECT_TRUE(test::FileExists(Dir() + "empty.gif"));
    EXPECT_EQ(ReadFile(Dir() + "empty.gif"), "");
    EXPECT_EQ(ReadFile(Dir() + "fine.gif"), kGif);
    EXPECT_EQ(job.m_limits.m_nFiles, 6u);
    EXPECT_TRUE(boxes.Texts().empty());
}

// One URL that cannot be opened is logged and skipped; the run goes on.
TEST_F(Mirror, UrlThatCannotBeOpenedIsSkipped) {
    Route closed;
    closed.behaviour = Behaviour::CloseOnly;
    server.Set("/b.html", closed);
    server.Set("/dead.gif", closed);
    server.SetPage("/start.html",
                   "<a href=a2.html>1</a><a href=b.html>2</a><a href=c.html>3</a>"
                   "<img src=dead.gif><img src=img/logo.gif>");
    server.SetPage("/a2.html", "a2");
    server.SetPage("/c.html", "c");
    RunResult r = MirrorSite(job, server.Root() + "/start.html", Dir());
    EXPECT_EQ(r.end, RunEnd::Done);
    EXPECT_FALSE(r.aborted);
    EXPECT_TRUE(boxes.Texts().empty());
    for (const char* name : {"/b.html", "/dead.gif"}) {
        const std::string line =
            "Cannot connect to " + server.Root() + name + "! (closed without an answer)";
        EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), line), r.lines.end()) << line;
    }
    EXPECT_TRUE(test::FileExists(Dir() + "a2.html"));
    EXPECT_TRUE(test::FileExists(Dir() + "c.html"));
    EXPECT_TRUE(test::FileExists(Dir() + "img/logo.gif"));
    EXPECT_EQ(job.m_limits.m_nFiles, 6u);
}

// The start URL's failure still ends the run with a message box.
TEST_F(Mirror, StartUrlThatCannotBeOpenedEndsTheRun) {
    Route closed;
    closed.behaviour = Behaviour::CloseOnly;
    server.Set("/start.html", closed);
    RunResult r = MirrorSite(job, server.Root() + "/start.html", Dir());
    EXPECT_EQ(r.end, RunEnd::Failure);
    EXPECT_TRUE(r.aborted);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0],
              "Cannot connect to " + server.Root() + "/start.html! (closed without an answer)");
}

TEST_F(Mirror, DirectoryThatCannotBeCreatedSkipsOneFile) {
    std::filesystem::create_directories(Dir());
    test::WriteFile(Dir() + "img", "a file where a directory should be");
    RunResult r = MirrorSite(job, server.Root() + "/index.html", Dir());
    EXPECT_EQ(r.end, RunEnd::Done);
    std::string line = "Cannot create directory " + Dir() + "img/!";
    EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), line), r.lines.end());
    EXPECT_TRUE(test::FileExists(Dir() + "sub/p.gif"));
    EXPECT_EQ(ReadFile(Dir() + "img"), "a file where a directory should be");
}

TEST_F(Mirror, CancelDuringAStalledRead) {
    Route stall;
    stall.body = std::string(100000, 's');
    stall.behaviour = Behaviour::Stall;
    server.Set("/stall.bin", stall);
    job.m_strTargetDir = Dir();
    ASSERT_TRUE(job.CheckTargetDirectory());
    job.m_strUrl = server.Root() + "/stall.bin";
    ASSERT_TRUE(job.Start(job.m_strUrl));
    test::CRecordingProgress log;
    CMirrorRun run(job, log);
    ASSERT_TRUE(run.Start());
    for (int i = 0; i < 200 && log.Lines().size() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(log.Lines().size(), 3u);  // opening, connecting, reading
    auto before = std::chrono::steady_clock::now();
    log.Close();
    run.Cancel();
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - before);
    std::printf("cancel during a stalled read returned after %lld ms\n",
                static_cast<long long>(took.count()));
    EXPECT_EQ(run.End(), RunEnd::Cancelled);
    EXPECT_EQ(log.Lines().size(), 3u);
    EXPECT_FALSE(test::FileExists(Dir() + "stall.bin"));
    EXPECT_TRUE(boxes.Texts().empty());
}

// A small file system that fills up: needs root to mount, skipped elsewhere.
TEST_F(Mirror, FullDiskStallsTheRun) {
    std::string mountPoint = tmp.Path() + "small";
    std::filesystem::create_directories(mountPoint);
    if (geteuid() != 0 || mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    server.SetPage("/start.html", "<img src=huge.bin><img src=after.gif>");
    server.SetFile("/huge.bin", std::string(400000, 'h'), "application/octet-stream");
    job.m_limits.m_nMaxConnections = 1;  // with more, after.gif is fetched ahead, never placed
    RunResult r = MirrorSite(job, server.Root() + "/start.html", mountPoint + "/");
    umount2(mountPoint.c_str(), MNT_DETACH);
    EXPECT_EQ(r.end, RunEnd::Stalled);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "The disk is full.");
    EXPECT_EQ(r.button, "Cancel");
    auto requests = server.Requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "/after.gif"), 0);
}

}  // namespace
}  // namespace tandril

namespace tandril {
namespace {

// A second run into a directory that a run is writing into is refused, by name.
TEST(MirrorHostile, TwoRunsIntoOneDirectory) {
    test::CHttpServer server;
    test::Route stall;
    stall.body = std::string(20000, 's');
    stall.behaviour = test::Behaviour::Stall;
    server.Set("/slow.bin", stall);
    server.SetPage("/page.html", "<p>page</p>");
    test::CTempDir tmp;
    test::CMessageRecorder boxes;

    CMirrorJob first;
    test::PrepareRun(first, server.Root() + "/slow.bin", tmp.Path());
    test::CRecordingProgress firstLog;
    CMirrorRun firstRun(first, firstLog);
    ASSERT_TRUE(firstRun.Start());
    for (int i = 0; i < 200 && server.Requests().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    CMirrorJob second;
    test::RunResult r = test::MirrorSite(second, server.Root() + "/page.html", tmp.Path());
    EXPECT_EQ(r.end, RunEnd::Failure);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "Another mirroring run is writing into " + tmp.Path() +
                                    ". Please wait until it ends or choose another directory.");
    EXPECT_FALSE(test::FileExists(tmp.Path() + "page.html"));

    firstLog.Close();
    firstRun.Cancel();
    // Once the first run has ended the directory is free again.
    CMirrorJob third;
    EXPECT_EQ(test::MirrorSite(third, server.Root() + "/page.html", tmp.Path()).end, RunEnd::Done);
    EXPECT_TRUE(test::FileExists(tmp.Path() + "page.html"));
}

// A directory inside the download directory that is a symbolic link is never entered.
TEST(MirrorHostile, SymbolicLinkDirectoriesAreNeverEntered) {
    test::CHttpServer server;
    server.SetPage("/start.html", "<img src=ln/x.gif><img src=ln/sub/y.gif><img src=ok/z.gif>");
    server.SetFile("/ln/x.gif", "x", "image/gif");
    server.SetFile("/ln/sub/y.gif", "y", "image/gif");
    server.SetFile("/ok/z.gif", "z", "image/gif");
    test::CTempDir tmp;
    const std::string dir = tmp.Path() + "dl/";
    std::filesystem::create_directories(dir);
    std::filesystem::create_directories(tmp.Path() + "outside");
    ASSERT_EQ(symlink("../outside", (dir + "ln").c_str()), 0);
    test::CMessageRecorder boxes;
    CMirrorJob job;
    test::RunResult r = test::MirrorSite(job, server.Root() + "/start.html", dir);
    EXPECT_EQ(r.end, RunEnd::Done);
    EXPECT_TRUE(std::filesystem::is_empty(tmp.Path() + "outside"));
    EXPECT_TRUE(test::FileExists(dir + "ok/z.gif"));
    const std::string line = "Cannot create directory " + dir + "ln/!";
    EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(), line), 2);
}

// The download's temporary file is created anew whatever stands at its name.
TEST(MirrorHostile, TemporaryFileIsNeverFollowed) {
    test::CHttpServer server;
    server.SetPage("/start.html", "<p>fine</p>");
    test::CMessageRecorder boxes;
    for (int kind = 0; kind < 3; ++kind) {
        test::CTempDir tmp;
        const std::string outside = tmp.Path() + "../victim-" + std::to_string(getpid());
        test::WriteFile(outside, "precious");
        // The file the first download goes to, and the classic name.
        for (const char* name : {"~tmp~00~.tmp", "~tmp~99~.tmp"}) {
            const std::string temp = tmp.Path() + name;
            if (kind == 0) {
                ASSERT_EQ(symlink(outside.c_str(), temp.c_str()), 0);
            } else if (kind == 1) {
                ASSERT_EQ(mkfifo(temp.c_str(), 0600), 0);
            } else {
                std::filesystem::create_directories(temp);
            }
        }
        CMirrorJob job;
        test::RunResult r = test::MirrorSite(job, server.Root() + "/start.html", tmp.Path(),
                                             std::chrono::seconds(10));
        EXPECT_EQ(r.end, RunEnd::Done) << kind;
        EXPECT_EQ(ReadFile(tmp.Path() + "start.html"), "<p>fine</p>") << kind;
        EXPECT_EQ(ReadFile(outside), "precious") << kind;
        std::filesystem::remove(outside);
    }
    EXPECT_TRUE(boxes.Texts().empty());
}

}  // namespace
}  // namespace tandril

namespace tandril {
namespace {

// A transfer's own file that cannot be made (a full directory in the way) stalls the
// run with the file named; an answer without a body makes no file at all.
TEST(MirrorHostile, TransferFileThatCannotBeMadeStallsTheRun) {
    test::CHttpServer server;
    server.SetPage("/start.html", "<p>fine</p>");
    test::CMessageRecorder boxes;
    test::CTempDir tmp;
    std::filesystem::create_directories(tmp.Path() + "~tmp~00~.tmp/inside");
    CMirrorJob job;
    job.m_limits.m_bObeyRobots = false;
    job.m_limits.m_nMaxConnections = 1;
    const test::RunResult r =
        test::MirrorSite(job, server.Root() + "/start.html", tmp.Path(), std::chrono::seconds(10));
    EXPECT_EQ(r.end, RunEnd::Stalled);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "Cannot create file ~tmp~00~.tmp!");
    EXPECT_FALSE(test::FileExists(tmp.Path() + "start.html"));
    EXPECT_TRUE(test::FileExists(tmp.Path() + "~tmp~00~.tmp/inside"));
}

}  // namespace
}  // namespace tandril
