#include "url/site_scope.h"

#include "url/url_text.h"

namespace tandril {
namespace {

// Whole-text match with "*" for any run (iterative, linear in practice: the last
// star is the only one returned to).
bool Glob(std::string_view pattern, std::string_view text) {
    std::size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::string PathAndQuery(const UriRef& url) {
    std::string text = url.path.empty() ? std::string("/") : url.path;
    if (url.hasQuery)
        text.append(1, '?').append(url.query);
    return text;
}

}  // namespace

bool UrlPatternMatches(std::string_view pattern, const UriRef& url) {
    const HostPort hp = SplitAuthority(url.authority);
    std::string fromHost = hp.host;
    if (hp.port != 0)
        fromHost += ":" + std::to_string(hp.port);
    fromHost += PathAndQuery(url);
    if (pattern.find("://") == std::string_view::npos)
        return Glob(pattern, fromHost);
    std::string scheme = url.scheme;
    for (char& c : scheme)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return Glob(pattern, scheme + "://" + fromHost);
}

std::optional<std::string> PatternProblem(std::string_view pattern) {
    if (pattern.empty())
        return "it is empty";
    for (unsigned char c : pattern) {
        if (c < 0x20 || c == 0x7F)
            return "it holds a control character";
        if (c == ' ')
            return "it holds a space (write %20)";
    }
    if (pattern.find_first_not_of('*') == std::string_view::npos)
        return "it matches every URL";
    return std::nullopt;
}

std::string CSiteScope::Origin(const UriRef& url) {
    const HostPort hp = SplitAuthority(url.authority);
    const std::string scheme = EqualsNoCase(url.scheme, "https") ? "https" : "http";
    return scheme + "://" + hp.host + ":" +
           std::to_string(hp.port != 0 ? hp.port : DefaultPort(scheme));
}

void CSiteScope::SetRobots(const std::string& origin, CRobotsRules rules) {
    m_robots.insert_or_assign(origin, std::move(rules));
}

const CRobotsRules* CSiteScope::Robots(const std::string& origin) const {
    const auto it = m_robots.find(origin);
    return it == m_robots.end() ? nullptr : &it->second;
}

bool CSiteScope::IsFollowedHost(const UriRef& url, bool onSiteHost) const {
    if (onSiteHost || DefaultPort(url.scheme) == 0 || !url.hasAuthority)
        return false;
    for (const std::string& pattern : follow) {
        if (UrlPatternMatches(pattern, url))
            return true;
    }
    return false;
}

ScopeVerdict CSiteScope::Decide(const UriRef& url, bool hyperlink, bool onSiteHost) const {
    for (const std::string& pattern : skip) {
        if (UrlPatternMatches(pattern, url))
            return ScopeVerdict::Excluded;
    }
    if (!onSiteHost && !IsFollowedHost(url, onSiteHost))
        return ScopeVerdict::Offsite;
    // The start folder is a folder of the site's own hosts.
    if (hyperlink && onSiteHost && !startFolder.empty() &&
        (url.path.empty() ? std::string("/") : RemoveDotSegments(url.path))
                .compare(0, startFolder.size(), startFolder) != 0)
        return ScopeVerdict::OutsideFolder;
    if (obeyRobots) {
        const CRobotsRules* rules = Robots(Origin(url));
        if (rules == nullptr)
            return ScopeVerdict::RobotsUnknown;
        if (!rules->Allowed(PathAndQuery(url)))
            return ScopeVerdict::Refused;
    }
    return ScopeVerdict::Site;
}

}  // namespace tandril
