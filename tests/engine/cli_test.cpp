// tandril-cli as a process: its exit statuses, --help, a bad option, --json, SIGINT in
// the middle of a run, the progress line on a pseudo-terminal and plain lines in a pipe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine/copy_record.h"
#include "tests/support/http_server.h"
#include "tests/support/test_support.h"

namespace tandril {
namespace {

using test::CHttpServer;
using test::CTempDir;

struct CliResult {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    std::string out;
    std::string err;
};

// Runs tandril-cli with `args` in `cwd`; sends `signal` after `signalAfterMs` when set.
CliResult RunCli(const std::vector<std::string>& args, const std::string& cwd = "/tmp",
                 int signal = 0, int signalAfterMs = 0) {
    // Made before the fork: the child only calls what is safe in a forked thread.
    std::vector<char*> argv{const_cast<char*>("tandril-cli")};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        if (chdir(cwd.c_str()) != 0)
            _exit(127);
        execv(TANDRIL_CLI_PATH, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    CliResult result;
    const auto start = std::chrono::steady_clock::now();
    bool signalled = signal == 0;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (!signalled &&
            std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(signalAfterMs)) {
            kill(child, signal);
            signalled = true;
        }
        if (poll(fds, 2, 20) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        server.SetPage("/index.html", "<a href=a.html>a</a> <a href=b.html>b</a><img src=i.gif>");
        server.SetPage("/a.html", "<a href=index.html>home</a>");
        server.SetPage("/b.html", "<a href=missing.html>missing</a>");
        server.SetFile("/i.gif", "GIF89a", "image/gif");
    }
    std::string Url(const std::string& path) const { return server.Root() + path; }
    CHttpServer server;
    CTempDir tmp;
};

TEST_F(Cli, ExitStatuses) {
    CHttpServer dead;
    const std::string deadUrl = dead.Root() + "/";
    dead.Stop();
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string errStart;  // what stderr begins with
    };
    const Case cases[] = {
        {"done", {"--levels", "1", Url("/a.html"), tmp.Path() + "a"}, 0, ""},
        {"a file failed", {"--levels", "2", Url("/index.html"), tmp.Path() + "b"}, 4, ""},
        {"limit", {"--files", "2", "--levels", "2", Url("/index.html"), tmp.Path() + "c"}, 3, ""},
        {"start URL refused", {deadUrl, tmp.Path() + "d"}, 1, "Tandril: Cannot connect to"},
        {"directory refused", {Url("/a.html"), "/proc/tandril-no"}, 1, "Tandril: "},
        {"unknown option",
         {"--levls", "2", Url("/a.html")},
         2,
         "tandril-cli: unknown option --levls\nTry 'tandril-cli --help' for more.\n"},
        {"no URL", {}, 2, "tandril-cli: a URL to copy is missing\n"},
        {"not http", {"ftp://h/x", tmp.Path() + "e"}, 2, "tandril-cli: URL entered is invalid"},
        {"bad pattern", {"--exclude", "", Url("/a.html"), tmp.Path() + "f"}, 2, "Tandril: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.err.substr(0, c.errStart.size()), c.errStart);
    }
    EXPECT_TRUE(test::FileExists(tmp.Path() + "a/a.html"));
    // Where no DIR is given, a folder named after the host in the working directory.
    const CliResult r = RunCli({"--quiet", Url("/a.html")}, tmp.Path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(test::FileExists(tmp.Path() + "127.0.0.1/a.html"));
}

TEST_F(Cli, HelpVersionAndJson) {
    CliResult help = RunCli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: tandril-cli [OPTIONS] URL [DIR]\n", 0), 0u);
    for (const char* option :
         {"--levels", "--files", "--mb", "--connections", "--copy-only", "--relative-links",
          "--no-offsite-embedded", "--no-robots", "--exclude", "--include", "--no-parent",
          "--pause", "--cookies", "--fresh", "--quiet", "--verbose", "--json", "--version"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    CliResult version = RunCli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("tandril-cli ") + TANDRIL_VERSION + "\n");

    const std::string dir = tmp.Path() + "j";
    CliResult r = RunCli({"--json", "--quiet", "--levels", "2", Url("/index.html"), dir});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "");
    const std::string expected = "{\"end\": \"done\", \"url\": \"" + Url("/index.html") +
                                 "\", \"dir\": \"" + dir + "/\", \"files\": 5, \"bytes\": ";
    EXPECT_EQ(r.out.substr(0, expected.size()), expected) << r.out;
    EXPECT_NE(
        r.out.find("\"failed\": 1, \"failures\": [{\"url\": \"" + Url("/missing.html") +
                   "\", \"reason\": \"HTTP 404\"}], \"start_page\": \"" + dir + "/index.html\"}\n"),
        std::string::npos)
        << r.out;
}

// SIGINT ends the run as Cancel does: status 130, a copy that the same command continues.
TEST_F(Cli, InterruptedThenContinued) {
    for (int i = 0; i < 60; ++i)
        server.SetPage("/p" + std::to_string(i) + ".html",
                       "<a href=p" + std::to_string(i + 1) + ".html>next</a>");
    server.SetAnswerDelay(20);
    const std::string dir = tmp.Path() + "s";
    const std::vector<std::string> args{"--levels",      "100", "--files",       "1000",
                                        "--connections", "1",   Url("/p0.html"), dir};
    const auto started = std::chrono::steady_clock::now();
    CliResult r = RunCli(args, "/tmp", SIGINT, 400);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1200));
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_NE(r.err.find("Interrupted: "), std::string::npos) << r.err;
    EXPECT_EQ(ReadCopyInfo(dir + "/").kind, CopyInfo::Kind::Unfinished);
    const std::size_t before = server.Requests().size();
    server.SetAnswerDelay(0);
    r = RunCli(args);
    EXPECT_EQ(r.status, 4) << r.err;  // p60.html is missing
    EXPECT_EQ(ReadCopyInfo(dir + "/").kind, CopyInfo::Kind::Finished);
    EXPECT_TRUE(test::FileExists(dir + "/p59.html"));
    // The second run fetched only what the first had not.
    EXPECT_LT(server.Requests().size() - before, 62u);
}

// On a terminal the progress line is redrawn in place; into a pipe, plain lines.
TEST_F(Cli, ProgressLineOnATerminalAndPlainLinesInAPipe) {
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    const std::string dir = tmp.Path() + "t";
    const std::string url = Url("/index.html");
    if (child == 0) {
        execl(TANDRIL_CLI_PATH, "tandril-cli", "--levels", "2", url.c_str(), dir.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string screen;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(master, buffer, sizeof(buffer));
        if (n <= 0)
            break;  // EIO once the child has gone
        screen.append(buffer, static_cast<std::size_t>(n));
    }
    close(master);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 4);
    EXPECT_NE(screen.find("\r\033[K["), std::string::npos) << screen;
    EXPECT_NE(screen.find("failed: " + Url("/missing.html") + " (HTTP 404)"), std::string::npos);
    EXPECT_NE(screen.find("Done: 5 files"), std::string::npos) << screen;

    const CliResult piped = RunCli({"--levels", "2", url, tmp.Path() + "p"});
    EXPECT_EQ(piped.err.find('\r'), std::string::npos);
    EXPECT_EQ(piped.err.find("\033["), std::string::npos);
    EXPECT_NE(piped.err.find(" files  "), std::string::npos) << piped.err;  // a plain line
    EXPECT_NE(piped.err.find("Done: 5 files"), std::string::npos) << piped.err;
    // --verbose: the log's lines.
    const CliResult verbose = RunCli({"--verbose", "--levels", "2", url, tmp.Path() + "v"});
    EXPECT_NE(verbose.err.find("Connecting to " + url + "\n"), std::string::npos);
    EXPECT_NE(verbose.err.find("Done!\n"), std::string::npos);
}

}  // namespace
}  // namespace tandril
