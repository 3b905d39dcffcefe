// Black-box checks of the headless runner: arguments, exit status, JSON, signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/http_server.h"
#include "tests/support/test_support.h"

namespace tandril {
namespace {

using test::Behaviour;
using test::CHttpServer;
using test::CTempDir;
using test::Route;

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs mirror-bench with `args`; when `interruptAfterMs` >= 0, sends SIGINT after
// that long and stores in `*cancelMs` how long the program took to exit after it.
Outcome RunRunner(const std::vector<std::string>& args, int interruptAfterMs = -1,
                  long* cancelMs = nullptr) {
    CTempDir files;
    std::string outPath = files.Path() + "out", errPath = files.Path() + "err";
    pid_t pid = fork();
    if (pid == 0) {
        freopen(outPath.c_str(), "w", stdout);
        freopen(errPath.c_str(), "w", stderr);
        std::vector<char*> argv{const_cast<char*>(MIRROR_BENCH_PATH)};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(MIRROR_BENCH_PATH, argv.data());
        _exit(127);
    }
    Outcome o;
    int status = 0;
    if (interruptAfterMs >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(interruptAfterMs));
        auto sent = std::chrono::steady_clock::now();
        kill(pid, SIGINT);
        waitpid(pid, &status, 0);
        *cancelMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - sent)
                        .count();
    } else {
        waitpid(pid, &status, 0);
    }
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = test::ReadFile(outPath);
    o.err = test::ReadFile(errPath);
    return o;
}

TEST(Runner, MirrorsAndReportsJson) {
    CHttpServer server;
    const std::string index = "<a href=a.html>a</a><img src=i.gif>", a = "<p>a</p>";
    server.SetPage("/index.html", index);
    server.SetPage("/a.html", a);
    server.SetFile("/i.gif", "GIF89a", "image/gif");
    CTempDir dir;
    Outcome o = RunRunner({"--url", server.Root() + "/index.html", "--dir", dir.Path() + "m"});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("\"end\": \"done\""), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("\"files\": 3"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("\"bytes\": " + std::to_string(index.size() + a.size() + 6)),
              std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("\"start_page\": \"" + dir.Path() + "m/index.html\""), std::string::npos)
        << o.out;
    EXPECT_NE(o.err.find("Opening an Internet session\n"), std::string::npos);
    EXPECT_NE(o.err.find("Done!\n"), std::string::npos);
    EXPECT_EQ(test::ReadFile(dir.Path() + "m/a.html"), "<p>a</p>");
}

// The runner leaves no temporary file behind, and its JSON is valid UTF-8 whatever
// bytes the start page's URL holds (a byte that is not UTF-8 stays escaped in the name).
TEST(Runner, CleansUpAndWritesValidUtf8) {
    CHttpServer server;
    server.SetPage("/caf%E9-%C3%A9.html", "<p>x</p>");
    CTempDir dir;
    Outcome o = RunRunner({"--url", server.Root() + "/caf%E9-%C3%A9.html", "--dir", dir.Path()});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("caf%E9-\xC3\xA9.html\""), std::string::npos) << o.out;
    EXPECT_TRUE(test::FileExists(dir.Path() + "caf%E9-\xC3\xA9.html"));
    EXPECT_FALSE(test::FileExists(dir.Path() + "~tmp~99~.tmp"));
    EXPECT_FALSE(test::FileExists(dir.Path() + "~tmp~98~.tmp"));
}

TEST(Runner, LimitsAndCopyOnly) {
    CHttpServer server;
    server.SetPage("/index.html", "<a href=a.html>a</a><a href=/b.html>b</a>");
    server.SetPage("/a.html", "<p>a</p>");
    CTempDir dir;
    Outcome o = RunRunner({"--url", server.Root() + "/index.html", "--dir", dir.Path(), "--files",
                           "2", "--copy-only", "--levels", "3", "--mb", "9"});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("\"end\": \"limit\""), std::string::npos) << o.out;
    EXPECT_EQ(test::ReadFile(dir.Path() + "index.html"),
              "<a href=a.html>a</a><a href=/b.html>b</a>");
}

TEST(Runner, RelativeLinks) {
    CHttpServer server;
    server.SetPage("/d/index.html", "<a href=/top.html>t</a>");
    server.SetPage("/top.html", "<p>t</p>");
    CTempDir dir;
    Outcome o = RunRunner(
        {"--url", server.Root() + "/d/index.html", "--dir", dir.Path(), "--relative-links"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(test::ReadFile(dir.Path() + "d/index.html"), "<a href=../top.html>t</a>");
}

TEST(Runner, RefusalsExitWithTwo) {
    CTempDir dir;
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--url", "http://127.0.0.1/"}, "usage"},
        {{"--url", "http://127.0.0.1/", "--dir", dir.Path(), "--files", "x"}, "usage"},
        {{"--url", "ftp://host/", "--dir", dir.Path()}, "URL entered is invalid or not supported."},
        {{"--url", "http://", "--dir", dir.Path()}, "URL entered is invalid or not supported."},
        {{"--url", "", "--dir", dir.Path()}, "Please enter a URL for downloading."},
        {{"--url", "http://127.0.0.1/", "--dir", "  "},
         "Please choose a directory for downloading."},
        {{"--url", "http://127.0.0.1/", "--dir", dir.Path() + "no/such"},
         "Cannot create directory"},
    };
    for (const auto& c : cases) {
        Outcome o = RunRunner(c.args);
        EXPECT_EQ(o.status, 2) << c.message;
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
        EXPECT_EQ(o.out, "");
    }
}

TEST(Runner, FailureEndsTheRun) {
    CHttpServer server;
    std::string root = server.Root();
    server.Stop();
    CTempDir dir;
    Outcome o = RunRunner({"--url", root + "/index.html", "--dir", dir.Path()});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("\"end\": \"failure\""), std::string::npos) << o.out;
    EXPECT_NE(o.err.find("Cannot connect to " + root + "/index.html!"), std::string::npos);
}

TEST(Runner, InterruptIsCancel) {
    CHttpServer server;
    Route stall;
    stall.body = std::string(100000, 's');
    stall.behaviour = Behaviour::Stall;
    server.Set("/stall.bin", stall);
    CTempDir dir;
    long cancelMs = 0;
    Outcome o =
        RunRunner({"--url", server.Root() + "/stall.bin", "--dir", dir.Path()}, 500, &cancelMs);
    std::printf("SIGINT during a stalled read: the runner exited after %ld ms\n", cancelMs);
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("\"end\": \"cancelled\""), std::string::npos) << o.out;
    EXPECT_FALSE(test::FileExists(dir.Path() + "stall.bin"));
    EXPECT_LT(cancelMs, 2000);
}

}  // namespace
}  // namespace tandril
