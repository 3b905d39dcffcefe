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

#include <chrono>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "engine/mirror_job.h"
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
                 << "  log_format streams '$connection $server_protocol $request_uri';\n"
                 << "  access_log " << work << "access.log streams;\n"
                 << "  types { text/html html; image/png png; }\n"
                 << "  client_body_temp_path " << work << "body;\n  proxy_temp_path " << work
                 << "proxy;\n  fastcgi_temp_path " << work << "fastcgi;\n  uwsgi_temp_path " << work
                 << "uwsgi;\n  scgi_temp_path " << work << "scgi;\n"
                 << "  server { listen 127.0.0.1:" << m_port << " ssl http2;\n"
                 << "    ssl_certificate " << tls.certFile << ";\n    ssl_certificate_key "
                 << tls.keyFile << ";\n    root " << root << "; }\n}\n";
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
    // (connection serial, protocol) of every request logged so far.
    std::vector<std::pair<std::string, std::string>> Requests() const {
        std::vector<std::pair<std::string, std::string>> requests;
        std::istringstream log(test::ReadFile(m_work + "access.log"));
        std::string connection, protocol, target;
        while (log >> connection >> protocol >> target)
            requests.emplace_back(connection, protocol);
        return requests;
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
    EXPECT_EQ(requests.size(), 41u);
    std::set<std::string> connections;
    for (const auto& [connection, protocol] : requests) {
        connections.insert(connection);
        EXPECT_EQ(protocol, "HTTP/2.0");
    }
    EXPECT_EQ(connections.size(), 1u);
}

}  // namespace
}  // namespace tandril
