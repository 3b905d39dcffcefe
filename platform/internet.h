#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace tandril {

struct CInternetOptions {
    std::string userAgent = "Tandril";
    long connectTimeoutSeconds = 30;
    // A transfer that receives no byte for this long fails.
    long idleTimeoutSeconds = 120;
    long maxRedirects = 20;
    // Certificates are checked against the system's store, or against this file of
    // trusted certificates when it is set (tests, benchmarks).
    std::string caFile;
};

// An HTTP session over libcurl: one URL open at a time, read in chunks, with the
// connection to a server kept for the next URL.
//
// Owned by one run. The worker thread calls every operation except Interrupt, which
// any thread may call at any time; Close and the destructor must not run while
// another thread is inside Read or OpenUrl.
class CInternetSession {
public:
    explicit CInternetSession(const CInternetOptions& options);
    ~CInternetSession();
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    // False when the client cannot be initialised.
    bool Open();
    // Sends the request for `url` (bytes a URL cannot carry are percent-encoded) and
    // returns once the final answer's headers have arrived, whatever its status.
    // Redirects to http or https are followed (at most maxRedirects); a redirect
    // without such a Location is the final answer.
    // False when the URL cannot be opened: unknown host, refused connection,
    // malformed URL, time-out, too many redirects, or an Interrupt.
    bool OpenUrl(const std::string& url);
    // Reads up to `size` bytes of the body, blocking until some arrive. Returns the
    // count, 0 at the end of the body, or -1 when the transfer failed (reset, body
    // shorter than announced, idle time-out, Interrupt).
    long Read(char* buffer, std::size_t size);
    // Of the open URL's final answer: its status code (0 when none arrived), its
    // Content-Type ("" when none), and the URL it came from after redirects (as
    // requested, percent-encoded where a URL cannot carry a byte).
    long ResponseCode() const;
    std::string ContentType() const;
    std::string EffectiveUrl() const;
    // Ends the current URL; a completed transfer leaves its connection for reuse.
    void CloseUrl();
    void Close();
    bool IsOpen() const;
    bool IsUrlOpen() const;

    // Why the last OpenUrl failed, in words a user understands ("certificate not
    // trusted", "connection refused"); empty when there is nothing to add.
    std::string LastError() const;

    // Makes a blocked (or any later) OpenUrl or Read fail at once. Thread-safe.
    void Interrupt();
    bool IsInterrupted() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tandril
