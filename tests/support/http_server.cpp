#include "tests/support/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>
#include <thread>

namespace tandril::test {
namespace {

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

}  // namespace

const TestCertificates& TestCa(const std::string& name) {
    static std::mutex mutex;
    static std::map<std::string, TestCertificates> made;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = made.find(name);
    if (it != made.end())
        return it->second;
    char pattern[] = "/tmp/tandril-ca-XXXXXX";
    const std::string dir = std::string(::mkdtemp(pattern)) + "/";
    TestCertificates c{dir + "ca.pem", dir + "server.pem", dir + "server.key"};
    std::ofstream(dir + "ext.cnf") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                                      "basicConstraints=CA:FALSE\n";
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    if (!Run("openssl req -x509" + ec + " -keyout " + dir + "ca.key -out " + c.caFile +
             " -days 2 -subj '/CN=" + name + "'") ||
        !Run("openssl req" + ec + " -keyout " + c.keyFile + " -out " + dir +
             "server.csr -subj /CN=127.0.0.1") ||
        !Run("openssl x509 -req -in " + dir + "server.csr -CA " + c.caFile + " -CAkey " + dir +
             "ca.key -CAcreateserial -out " + c.certFile + " -days 2 -extfile " + dir +
             "ext.cnf")) {
        throw std::runtime_error("openssl could not make the test certificates");
    }
    return made.emplace(name, c).first->second;
}

struct CHttpServer::Conn {
    int fd = -1;
    SSL* ssl = nullptr;
    ~Conn() {
        if (ssl != nullptr)
            SSL_free(ssl);
    }
    long Recv(char* buf, std::size_t size) {
        if (ssl != nullptr)
            return SSL_read(ssl, buf, static_cast<int>(size));
        return ::recv(fd, buf, size, 0);
    }
};

bool CHttpServer::SendAll(Conn& conn, const char* data, std::size_t size) {
    while (size > 0) {
        long n = conn.ssl != nullptr ? SSL_write(conn.ssl, data, static_cast<int>(size))
                                     : ::send(conn.fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

CHttpServer::CHttpServer() {
    Listen();
}

CHttpServer::CHttpServer(const TestCertificates& tls) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (ctx == nullptr ||
        SSL_CTX_use_certificate_file(ctx, tls.certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, tls.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        if (ctx != nullptr)
            SSL_CTX_free(ctx);
        throw std::runtime_error("cannot load the test certificate");
    }
    m_tls = ctx;
    Listen();
}

void CHttpServer::Listen() {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(m_listen, 64) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    socklen_t len = sizeof(addr);
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_acceptThread = std::thread(&CHttpServer::AcceptLoop, this);
}

CHttpServer::~CHttpServer() {
    Stop();
    if (m_tls != nullptr)
        SSL_CTX_free(static_cast<SSL_CTX*>(m_tls));
}

std::string CHttpServer::Root() const {
    return (m_tls != nullptr ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(m_port);
}

void CHttpServer::Set(const std::string& path, Route route) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = std::move(route);
}

void CHttpServer::SetFirstAnswers(const std::string& path, std::vector<Route> answers) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_firstAnswers[path] = std::move(answers);
}

std::vector<std::string> CHttpServer::RequestHeaders() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_heads;
}

std::vector<std::string> CHttpServer::Requests() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::string CHttpServer::LastHeaders() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastHeaders;
}

int CHttpServer::TakeMaxOpenConnections() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const int most = m_maxOpen;
    m_maxOpen = m_open;
    return most;
}

void CHttpServer::WaitUntilIdle() {
    // A connection may still wait in the listen queue, or be accepted and not yet
    // listed; the state must look idle twice in a row, with the same count.
    auto idle = [this] {
        pollfd pending{m_listen, POLLIN, 0};
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_clients.empty() && ::poll(&pending, 1, 0) == 0;
    };
    int calm = 0;
    int seen = m_connections.load();
    for (int i = 0; i < 250 && calm < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const int now = m_connections.load();
        calm = idle() && now == seen ? calm + 1 : 0;
        seen = now;
    }
}

void CHttpServer::Stop() {
    if (m_stopping.exchange(true)) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);  // no stalled answer misses the wake-up
    }
    m_stopped.notify_all();
    ::shutdown(m_listen, SHUT_RDWR);
    ::close(m_listen);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int fd : m_clients)
            ::shutdown(fd, SHUT_RDWR);
        threads.swap(m_threads);
    }
    for (auto& t : threads)
        t.join();
}

void CHttpServer::AcceptLoop() {
    while (!m_stopping.load()) {
        int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (m_stopping.load())
                return;
            continue;
        }
        m_connections.fetch_add(1);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        std::lock_guard<std::mutex> lock(m_mutex);
        m_maxOpen = std::max(m_maxOpen, ++m_open);
        m_clients.push_back(fd);
        m_threads.emplace_back(&CHttpServer::Serve, this, fd);
    }
}

void CHttpServer::Serve(int fd) {
    Conn conn;
    conn.fd = fd;
    bool open = true;
    if (m_tls != nullptr) {
        conn.ssl = SSL_new(static_cast<SSL_CTX*>(m_tls));
        open = conn.ssl != nullptr && SSL_set_fd(conn.ssl, fd) == 1 && SSL_accept(conn.ssl) == 1;
    }
    std::string input;
    char buf[4096];
    while (open && !m_stopping.load()) {
        std::size_t end = input.find("\r\n\r\n");
        if (end == std::string::npos) {
            long n = conn.Recv(buf, sizeof(buf));
            if (n <= 0)
                break;
            input.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        std::string head = input.substr(0, end + 4);
        input.erase(0, end + 4);
        std::size_t sp1 = head.find(' ');
        std::size_t sp2 = head.find(' ', sp1 + 1);
        std::string target = head.substr(sp1 + 1, sp2 - sp1 - 1);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(target);
            m_lastHeaders = head;
            m_heads.push_back(head);
        }
        open = Answer(conn, target, head);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_clients.begin(); it != m_clients.end(); ++it) {
            if (*it == fd) {
                m_clients.erase(it);
                break;
            }
        }
        // Counted as closed before the close: a client that sees it closed and opens
        // another is never counted twice.
        --m_open;
    }
    ::close(fd);
}

bool CHttpServer::Answer(Conn& conn, const std::string& target, const std::string& head) {
    const int fd = conn.fd;
    Route route;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto first = m_firstAnswers.find(target);
        auto it = m_routes.find(target);
        if (first != m_firstAnswers.end() && !first->second.empty()) {
            route = first->second.front();
            first->second.erase(first->second.begin());
        } else if (it != m_routes.end()) {
            route = it->second;
        } else {
            route.status = 404;
            route.body = "<html><body>Not found: <a href=\"/\">home</a></body></html>";
        }
    }
    if (!route.needs.empty() && head.find(route.needs) == std::string::npos) {
        route = Route{};
        route.status = 403;
        route.body = "<p>Forbidden</p>";
    }
    if (const int delay = m_delayMs.load(); delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (route.status == 200) {
        const auto header = [&head](const std::string& name) {
            const std::size_t at = head.find("\r\n" + name + ": ");
            if (at == std::string::npos)
                return std::string();
            const std::size_t begin = at + name.size() + 4;
            return head.substr(begin, head.find("\r\n", begin) - begin);
        };
        const std::string match = header("If-None-Match");
        const bool unchanged = !match.empty()
                                   ? !route.etag.empty() && match == route.etag
                                   : !route.lastModified.empty() &&
                                         header("If-Modified-Since") == route.lastModified;
        if (!route.etag.empty())
            route.headers += "ETag: " + route.etag + "\r\n";
        if (!route.lastModified.empty())
            route.headers += "Last-Modified: " + route.lastModified + "\r\n";
        if (unchanged) {
            const std::string answer = "HTTP/1.1 304 Not Modified\r\n" + route.headers + "\r\n";
            return SendAll(conn, answer.data(), answer.size());
        }
    }
    if (route.behaviour == Behaviour::CloseOnly) {
        return false;
    }
    if (route.behaviour == Behaviour::Raw) {
        SendAll(conn, route.body.data(), route.body.size());
        std::unique_lock<std::mutex> lock(m_mutex);
        m_stopped.wait(lock, [this] { return m_stopping.load(); });
        return false;
    }
    std::string answer = "HTTP/1.1 " + std::to_string(route.status) + " " + Reason(route.status) +
                         "\r\nContent-Type: " + route.contentType +
                         "\r\nContent-Length: " + std::to_string(route.body.size()) + "\r\n";
    if (!route.location.empty())
        answer += "Location: " + route.location + "\r\n";
    answer += route.headers + "\r\n";
    if (!SendAll(conn, answer.data(), answer.size()))
        return false;

    std::size_t half = route.body.size() / 2;
    switch (route.behaviour) {
        case Behaviour::Normal:
            return SendAll(conn, route.body.data(), route.body.size());
        case Behaviour::Reset: {
            SendAll(conn, route.body.data(), half);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            linger lin{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lin, sizeof(lin));
            return false;
        }
        case Behaviour::Short:
            SendAll(conn, route.body.data(), half);
            return false;
        case Behaviour::Stall: {
            SendAll(conn, route.body.data(), half);
            std::unique_lock<std::mutex> lock(m_mutex);
            m_stopped.wait(lock, [this] { return m_stopping.load(); });
            return false;
        }
        case Behaviour::CloseOnly:
        case Behaviour::Raw:
            break;
    }
    return false;
}

}  // namespace tandril::test
