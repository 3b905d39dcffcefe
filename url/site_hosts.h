#pragma once

#include <string>
#include <vector>

#include "url/uri.h"

namespace tandril {

// The hosts of a run's site: the start URL's, the one its redirects end on, and the
// same names with or without "www.". http and https on a host are one site: a URL is
// of the site when its host is one of these and its port is the host's own port for
// the scheme the host was found with, else the default port of its own scheme.
// Pure: owned by the job, used by one thread at a time.
class CSiteHosts {
public:
    struct Host {
        std::string host;    // lower case
        std::string scheme;  // "http" or "https"
        unsigned port = 0;
    };

    // Starts again with the one host of the start URL.
    void Reset(Host start);
    // Makes the host of `url` (http or https) a host of the site; false when it was
    // one already or cannot be (no host, another scheme, a bad port).
    bool Add(const std::string& url);
    bool Contains(const UriRef& url) const;
    // True when `url` has the start URL's scheme, host and port.
    bool IsStart(const UriRef& url) const;
    std::size_t size() const { return m_hosts.size(); }
    const Host& operator[](std::size_t i) const { return m_hosts[i]; }

private:
    std::vector<Host> m_hosts;
};

// True when two lower-case host names name one site: equal, or equal once a leading
// "www." is taken off one of them.
bool SameSiteHost(const std::string& a, const std::string& b);

}  // namespace tandril
