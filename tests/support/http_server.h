#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tandril::test {

// How a route answers.
enum class Behaviour {
    Normal,     // the whole answer, connection kept open
    Reset,      // half the body, then a TCP reset
    Short,      // announces the whole length, sends half, closes
    Stall,      // headers and half the body, then silence until the server stops
    CloseOnly,  // accepts the request and closes without a byte
    Raw,        // the body is the whole answer, status line and headers included, as
                // written; the connection stays open until the server stops
};

struct Route {
    int status = 200;
    std::string body;
    std::string contentType = "text/html";
    std::string location = "";  // sent with 3xx statuses
    Behaviour behaviour = Behaviour::Normal;
    std::string headers = "";  // more header lines, each ending with "\r\n"
    // When set, a request whose header block lacks this text gets a 403 instead.
    std::string needs = "";
    // Validators: sent with a 200, and a request that carries the same one back
    // (If-None-Match for the ETag, else If-Modified-Since for the date) gets a 304.
    std::string etag = "";
    std::string lastModified = "";
};

// A certificate authority made for a test run with the openssl command, and a server
// certificate it signed for 127.0.0.1 and localhost. Files live in a temporary
// directory until the process ends.
struct TestCertificates {
    std::string caFile;    // the CA's certificate: what a client trusts
    std::string certFile;  // the server's certificate
    std::string keyFile;   // and its key
};
// One set for the whole test process; `name` tells independent CAs apart.
const TestCertificates& TestCa(const std::string& name = "tandril-test-ca");

// A small HTTP/1.1 server on 127.0.0.1 with an ephemeral port, for tests: keep-alive,
// a route table, and answers that can misbehave. Counts TCP connections and records
// the requests. Unknown paths get a 404 page. With certificates it speaks TLS.
class CHttpServer {
public:
    CHttpServer();
    explicit CHttpServer(const TestCertificates& tls);
    ~CHttpServer();

    void Set(const std::string& path, Route route);
    // The next requests for `path` get these answers, one each, before its route.
    void SetFirstAnswers(const std::string& path, std::vector<Route> answers);
    void SetPage(const std::string& path, const std::string& html) { Set(path, Route{200, html}); }
    void SetFile(const std::string& path, const std::string& body, const std::string& type) {
        Route r;
        r.body = body;
        r.contentType = type;
        Set(path, r);
    }

    int Port() const { return m_port; }
    std::string Root() const;  // "http://127.0.0.1:PORT" (https with TLS)
    int Connections() const { return m_connections.load(); }
    // The most connections that were open at one time since the last call.
    int TakeMaxOpenConnections();
    // Waits (up to five seconds) until every connection that clients opened has been
    // accepted and has ended, so that Connections() counts a finished run whole.
    void WaitUntilIdle();
    std::vector<std::string> Requests();  // request targets in arrival order
    std::string LastHeaders();            // the last request's header block
    // Every request's header block, in arrival order (as Requests()).
    std::vector<std::string> RequestHeaders();
    // Every answer waits this long before it is sent.
    void SetAnswerDelay(int ms) { m_delayMs.store(ms); }
    void Stop();

private:
    struct Conn;
    void Listen();
    void AcceptLoop();
    void Serve(int fd);
    bool Answer(Conn& conn, const std::string& target, const std::string& head);
    bool SendAll(Conn& conn, const char* data, std::size_t size);

    void* m_tls = nullptr;  // the server's SSL_CTX, when it speaks TLS

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    int m_open = 0;     // guarded by m_mutex
    int m_maxOpen = 0;  // guarded by m_mutex
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::condition_variable m_stopped;
    std::map<std::string, Route> m_routes;
    std::map<std::string, std::vector<Route>> m_firstAnswers;  // taken from the front
    std::vector<std::string> m_requests;
    std::string m_lastHeaders;
    std::vector<std::string> m_heads;
    std::atomic<int> m_delayMs{0};
    std::vector<int> m_clients;
    std::vector<std::thread> m_threads;
};

}  // namespace tandril::test
