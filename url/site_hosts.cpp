#include "url/site_hosts.h"

#include "url/url_text.h"

namespace tandril {

bool SameSiteHost(const std::string& a, const std::string& b) {
    if (a == b)
        return true;
    const std::string_view www = "www.";
    const std::string& longer = a.size() > b.size() ? a : b;
    const std::string& shorter = a.size() > b.size() ? b : a;
    return longer.size() == shorter.size() + www.size() && longer.compare(0, 4, www) == 0 &&
           longer.compare(4, std::string::npos, shorter) == 0;
}

void CSiteHosts::Reset(Host start) {
    m_hosts.assign(1, std::move(start));
}

bool CSiteHosts::Add(const std::string& url) {
    const UriRef ref = ParseUriRef(url);
    if (!ref.hasAuthority || Contains(ref) || DefaultPort(ref.scheme) == 0)
        return false;
    const HostPort hp = SplitAuthority(ref.authority);
    if (!hp.portValid || hp.host.empty())
        return false;
    std::string scheme = EqualsNoCase(ref.scheme, "https") ? "https" : "http";
    const unsigned port = hp.port != 0 ? hp.port : DefaultPort(scheme);
    m_hosts.push_back(Host{hp.host, std::move(scheme), port});
    return true;
}

bool CSiteHosts::Contains(const UriRef& url) const {
    const unsigned defaultPort = DefaultPort(url.scheme);
    if (!url.hasAuthority || defaultPort == 0)
        return false;
    const HostPort hp = SplitAuthority(url.authority);
    if (!hp.portValid)
        return false;
    const unsigned port = hp.port != 0 ? hp.port : defaultPort;
    for (const Host& site : m_hosts) {
        if (!SameSiteHost(hp.host, site.host))
            continue;
        // On the site's own scheme its port counts; on the other, that scheme's default.
        const bool sameScheme = EqualsNoCase(url.scheme, site.scheme);
        if (port == (sameScheme ? site.port : defaultPort))
            return true;
    }
    return false;
}

bool CSiteHosts::IsStart(const UriRef& url) const {
    const Host& start = m_hosts.front();
    const HostPort hp = SplitAuthority(url.authority);
    return EqualsNoCase(url.scheme, start.scheme) && hp.host == start.host &&
           (hp.port != 0 ? hp.port : DefaultPort(url.scheme)) == start.port;
}

}  // namespace tandril
