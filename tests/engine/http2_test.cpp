// HTTP/2 where the server offers it: nginx on 127.0.0.1 over TLS, with a certificate
// from the test CA. Several transfers at once travel as streams of one connection.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "engine/mirror_job.h"
#include "engine/session.h"
#include "tests/engine/run_helper.h"
#include "tests/support/http_server.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace tandril {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    ::close(fd);
    return ok;
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// nginx serving `root` over TLS with HTTP/2 on a port of its own, logging for each
// request the connection's serial number and the protocol. Stopped on destruction.
class CNginx {
public:
    CNginx(const std::string& work, const std::string& root) : m_work(work) {
        const test::TestCertificates& tls = test::TestCa();
        for (int attempt = 0; attempt < 5 && m_pid <= 0; ++attempt) {
            m_port = FreePort();
            std::ostringstream conf;
            conf << (geteuid() == 0 ? "user root;\n" : "") << "worker_processes 1;\n"
                 << "daemon off;\nerror_log " << work << "error.log warn;\npid " << work
                 << "nginx.pid;\nevents { worker_connections 64; }\nhttp {\n"
                 << "  log_format streams '$connection $server_protocol $request_uri $msec "
                    "$request_time';\n"
                 << "  access_log " << work << "access.log streams;\n"
                 << "  types { text/html html; image/png png; }\n"
                 << "  client_body_temp_path " << work << "body;\n  proxy_temp_path " << work
                 << "proxy;\n  fastcgi_temp_path " << work << "fastcgi;\n  uwsgi_temp_path " << work
                 << "uwsgi;\n  scgi_temp_path " << work << "scgi;\n"
                 << "  server { listen 127.0.0.1:" << m_port << " ssl http2;\n"
                 << "    ssl_certificate " << tls.certFile << ";\n    ssl_certificate_key "
                 << tls.keyFile << ";\n    root " << root << ";\n"
                 << "    location /slow/ { limit_rate 2k; } }\n}\n";
            test::WriteFile(work + "nginx.conf", conf.str());
            const std::string confPath = work + "nginx.conf";
            const char* argv[] = {kNginx, "-q",         "-c",   confPath.c_str(),
                                  "-p",   work.c_str(), nullptr};
            pid_t pid = 0;
            if (posix_spawn(&pid, kNginx, nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
                return;
            for (int i = 0; i < 100 && !Accepts(m_port); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (Accepts(m_port)) {
                m_pid = pid;
            } else {  // the port was taken meanwhile: try another
                ::kill(pid, SIGTERM);
                ::waitpid(pid, nullptr, 0);
            }
        }
    }
    ~CNginx() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool Running() const { return m_pid > 0; }
    std::string Root() const { return "https://127.0.0.1:" + std::to_string(m_port); }
    struct Request {
        std::string connection, protocol, target;
        double end = 0, seconds = 0;  // when the answer ended, and how long it took
    };
    // Every request logged so far.
    std::vector<Request> Requests() const {
        std::vector<Request> requests;
        std::istringstream log(test::ReadFile(m_work + "access.log"));
        Request r;
        while (log >> r.connection >> r.protocol >> r.target >> r.end >> r.seconds)
            requests.push_back(r);
        return requests;
    }
    // The most requests that were being answered at one time.
    int MostAtOnce() const {
        std::vector<std::pair<double, int>> events;
        for (const Request& r : Requests()) {
            events.emplace_back(r.end - r.seconds, 1);
            events.emplace_back(r.end, -1);
        }
        std::sort(events.begin(), events.end());
        int now = 0, most = 0;
        for (const auto& e : events)
            most = std::max(most, now += e.second);
        return most;
    }

private:
    std::string m_work;
    int m_port = 0;
    pid_t m_pid = -1;
};

TEST(Http2, TransfersAtOnceShareOneConnection) {
    if (access(kNginx, X_OK) != 0) {
        GTEST_SKIP() << "nginx is needed (scripts/install-deps.sh installs it)";
    }
    test::CTempDir site, work, copy;
    // nginx's worker may run as another user: it must be able to read the site.
    ::chmod(site.Path().c_str(), 0755);
    std::string index = "<html><body>";
    for (int i = 0; i < 40; ++i) {
        index += "<img src=\"i" + std::to_string(i) + ".png\">";
        test::WriteFile(site.Path() + "i" + std::to_string(i) + ".png",
                        std::string(20000 + i, 'i'));
    }
    test::WriteFile(site.Path() + "index.html", index + "</body></html>");
    CNginx nginx(work.Path(), site.Path());
    ASSERT_TRUE(nginx.Running()) << test::ReadFile(work.Path() + "error.log");

    CMirrorJob job;
    job.m_netOptions.caFile = test::TestCa().caFile;
    job.m_limits.m_nMaxConnections = 6;
    job.m_limits.m_nMaxLevels = 1;
    const test::RunResult r = test::MirrorSite(job, nginx.Root() + "/index.html", copy.Path());
    EXPECT_EQ(r.end, RunEnd::Done);
    EXPECT_EQ(job.m_limits.m_nFiles, 41u);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(test::ReadFile(copy.Path() + "i" + std::to_string(i) + ".png").size(),
                  20000u + static_cast<unsigned>(i));

    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the last log lines
    const auto requests = nginx.Requests();
    EXPECT_EQ(requests.size(), 41u + 1u);  // and robots.txt, on the same connection
    std::set<std::string> connections;
    for (const auto& r : requests) {
        connections.insert(r.connection);
        EXPECT_EQ(r.protocol, "HTTP/2.0");
    }
    EXPECT_EQ(connections.size(), 1u);
}

// Where the server multiplexes, each connection carries several transfers at once, and
// the copy is still the one a one-connection run saves.
TEST(Http2, StreamsBeyondOnePerConnectionSaveTheSameCopy) {
    if (access(kNginx, X_OK) != 0) {
        GTEST_SKIP() << "nginx is needed (scripts/install-deps.sh installs it)";
    }
    test::CTempDir site, work;
    ::chmod(site.Path().c_str(), 0755);
    ASSERT_EQ(::mkdir((site.Path() + "slow").c_str(), 0755), 0);
    std::string index = "<html><body>", slow = "<html><body>";
    for (int i = 0; i < 40; ++i) {
        const std::string n = std::to_string(i);
        index += "<a href=\"p" + n + ".html\">" + n + "</a><img src=\"i" + n + ".png\">";
        test::WriteFile(site.Path() + "p" + n + ".html", "<img src=\"i" + n + ".png\">");
        test::WriteFile(site.Path() + "i" + n + ".png", std::string(1000 + i, 'i'));
        // Past the first 2 KB the server sends 2 KB a second: half a second each.
        slow += "<img src=\"slow/s" + n + ".png\">";
        test::WriteFile(site.Path() + "slow/s" + n + ".png", std::string(3000 + i, 's'));
    }
    test::WriteFile(site.Path() + "index.html", index + "</body></html>");
    test::WriteFile(site.Path() + "slow.html", slow + "</body></html>");
    CNginx nginx(work.Path(), site.Path());
    ASSERT_TRUE(nginx.Running()) << test::ReadFile(work.Path() + "error.log");

    struct Copy {
        test::RunResult run;
        std::uint32_t files = 0;
        std::map<std::string, std::string> tree;
    };
    auto mirror = [&](const std::string& page, std::uint32_t connections, std::uint32_t files) {
        test::CTempDir copyDir;
        CMirrorJob job;
        job.m_netOptions.caFile = test::TestCa().caFile;
        job.m_limits.m_nMaxConnections = connections;
        job.m_limits.m_nMaxLevels = 1;
        job.m_limits.m_nMaxFiles = files;
        job.m_limits.m_bRelativeLinks = true;  // the copies lie in two directories
        Copy copy;
        copy.run = test::MirrorSite(job, nginx.Root() + page, copyDir.Path());
        copy.files = job.m_limits.m_nFiles;
        copy.tree = test::ReadCopy(copyDir.Path());
        return copy;
    };
    for (std::uint32_t files : {1000u, 50u}) {
        SCOPED_TRACE(files);
        const Copy many = mirror("/index.html", 4, files);
        const Copy one = mirror("/index.html", 1, files);
        EXPECT_EQ(many.run.end, one.run.end);
        EXPECT_EQ(many.run.lines, one.run.lines);
        EXPECT_EQ(many.files, one.files);
        EXPECT_TRUE(many.tree == one.tree);
        EXPECT_GE(one.tree.size(), std::min<std::size_t>(files, 81));
    }

    // The slow answers overlap: more of them at once than there are connections, never
    // more than the streams allowed.
    ASSERT_EQ(::truncate((work.Path() + "access.log").c_str(), 0), 0);
    const Copy slowCopy = mirror("/slow.html", 4, 1000);
    EXPECT_EQ(slowCopy.files, 41u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the last log lines
    const int most = nginx.MostAtOnce();
    EXPECT_GT(most, 4);
    EXPECT_LE(most, 4 * CMirrorSession::kStreamsPerConnection);
}

}  // namespace
}  // namespace tandril
